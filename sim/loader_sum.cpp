#include "sim/loader_sum.h"

#include <array>

namespace vok::sim {
namespace {

constexpr std::array<uint16_t, 256> MakeCrcTable() {
  std::array<uint16_t, 256> t{};
  for (int i = 0; i < 256; ++i) {
    uint16_t c = static_cast<uint16_t>(i << 8);
    for (int k = 0; k < 8; ++k) c = static_cast<uint16_t>((c & 0x8000) ? (c << 1) ^ 0x1021 : c << 1);
    t[i] = c;
  }
  return t;
}
constexpr std::array<uint16_t, 256> kCrcTable = MakeCrcTable();

uint8_t Reflect8(uint8_t b) {
  uint8_t r = 0;
  for (int i = 0; i < 8; ++i)
    if (b & (1u << i)) r = static_cast<uint8_t>(r | (0x80u >> i));
  return r;
}

uint16_t Reflect16(uint16_t v) {
  return static_cast<uint16_t>(Reflect8(static_cast<uint8_t>(v)) << 8 | Reflect8(static_cast<uint8_t>(v >> 8)));
}

// Bit by bit, the reflected kinds by reflecting every byte and the result:
// slow, and plainly another way than the host's tables.
uint16_t CrcBitwise(const uint8_t* data, size_t n, uint16_t poly, uint16_t init, bool reflected,
                    uint16_t xorout) {
  uint16_t crc = init;
  for (size_t i = 0; i < n; ++i) {
    crc = static_cast<uint16_t>(crc ^ ((reflected ? Reflect8(data[i]) : data[i]) << 8));
    for (int k = 0; k < 8; ++k) crc = static_cast<uint16_t>(crc & 0x8000 ? (crc << 1) ^ poly : crc << 1);
  }
  return static_cast<uint16_t>((reflected ? Reflect16(crc) : crc) ^ xorout);
}

}  // namespace

uint16_t CrcCcittFalse(const uint8_t* data, size_t n) {
  uint16_t crc = 0xFFFF;
  for (size_t i = 0; i < n; ++i) {
    crc = static_cast<uint16_t>((crc << 8) ^ kCrcTable[((crc >> 8) ^ data[i]) & 0xFF]);
  }
  return crc;
}

uint16_t LoaderSumOf(LoaderSum algorithm, const uint8_t* data, size_t n) {
  switch (algorithm) {
    case LoaderSum::kCcittFalse:
      return CrcCcittFalse(data, n);
    case LoaderSum::kXmodem:
      return CrcBitwise(data, n, 0x1021, 0x0000, false, 0x0000);
    case LoaderSum::kKermit:
      return CrcBitwise(data, n, 0x1021, 0x0000, true, 0x0000);
    case LoaderSum::kModbus:
      return CrcBitwise(data, n, 0x8005, 0xFFFF, true, 0x0000);
    case LoaderSum::kSum16: {
      uint16_t sum = 0;
      for (size_t i = 0; i < n; ++i) sum = static_cast<uint16_t>(sum + data[i]);
      return sum;
    }
    case LoaderSum::kOnesSum16:
    case LoaderSum::kInternet16: {
      // Summed wide and folded once at the end; the Internet checksum's
      // words are big-endian, an odd last byte the high half of its word.
      uint64_t sum = 0;
      for (size_t i = 0; i < n; ++i)
        sum += algorithm == LoaderSum::kOnesSum16 || i % 2 == 1 ? data[i] : uint64_t{data[i]} << 8;
      while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
      return static_cast<uint16_t>(algorithm == LoaderSum::kInternet16 ? ~sum : sum);
    }
    case LoaderSum::kFletcher16: {
      unsigned lo = 0, hi = 0;
      for (size_t i = 0; i < n; ++i) {
        lo = (lo + data[i]) % 255;
        hi = (hi + lo) % 255;
      }
      return static_cast<uint16_t>(hi << 8 | lo);
    }
    case LoaderSum::kOwn: {
      uint16_t sum = 0x5A5A;
      for (size_t i = 0; i < n; ++i) sum = static_cast<uint16_t>(((sum << 3) | (sum >> 13)) ^ data[i]);
      return sum;
    }
  }
  return 0;
}

const std::vector<std::string>& LoaderSumNames() {
  static const std::vector<std::string> names = {
      "CRC-16/CCITT-FALSE", "CRC-16/XMODEM", "CRC-16/KERMIT", "CRC-16/MODBUS", "SUM-16",
      "ONES-SUM-16",        "INTERNET-16",   "FLETCHER-16",   "OWN"};
  return names;
}

bool LoaderSumNamed(const std::string& name, LoaderSum& sum) {
  const std::vector<std::string>& names = LoaderSumNames();
  for (size_t i = 0; i < names.size(); ++i) {
    std::string lower = names[i];
    for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (name == names[i] || name == lower) {
      sum = static_cast<LoaderSum>(i);
      return true;
    }
  }
  return false;
}

}  // namespace vok::sim
