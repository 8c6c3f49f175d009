#pragma once

// 16-bit checksums that boot loaders commonly compute over a memory range:
// the usual CRC-16 variants, byte sums and Fletcher-16. The loader's
// checksum command names no algorithm; LoaderChecksum (loader_checksum.h)
// finds out which of these the loader uses.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace vok {

struct Checksum16 {
  enum class Kind {
    kCrc,       // poly, init, reflected, xorout
    kSum,       // the bytes added modulo 65536
    kOnesSum,   // the bytes added with end-around carry (one's-complement sum)
    kInternet,  // one's complement of the one's-complement sum of big-endian 16-bit words
    kFletcher,  // Fletcher-16: two sums modulo 255, the second in the high byte
  };
  std::string_view name;
  Kind kind;
  uint16_t poly = 0;
  uint16_t init = 0;
  bool reflected = false;
  uint16_t xorout = 0;
  // CRC only: the byte-at-a-time table, made with the catalogue.
  std::array<uint16_t, 256> table{};
};

// Every algorithm this program can recognise, each once (aliases of one
// algorithm share an entry: CRC-16/IBM-3740 is CRC-16/CCITT-FALSE). At most
// 32 entries, so a set of them fits a 32-bit mask.
const std::vector<Checksum16>& ChecksumCatalogue();
// The catalogue entry of that name, or null.
const Checksum16* FindChecksum(std::string_view name);

// A checksum over bytes that arrive in pieces.
class ChecksumRun {
 public:
  explicit ChecksumRun(const Checksum16& algorithm);
  void Add(const uint8_t* data, size_t n);
  // The checksum of everything added so far; adding may go on.
  uint16_t Value() const;

 private:
  const Checksum16& algorithm_;
  uint32_t a_ = 0;  // the CRC register, or the (first) sum
  uint32_t b_ = 0;  // Fletcher's second sum
  bool odd_ = false;  // Internet: the next byte is the low half of a word
};

uint16_t ComputeChecksum(const Checksum16& algorithm, const uint8_t* data, size_t n);

}  // namespace vok
