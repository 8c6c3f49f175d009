#pragma once

// The loader's checksum command as a check that bytes the host holds are the
// bytes the target holds. The loader does not say which algorithm it uses,
// so the first ranges compared serve as samples: the catalogue's algorithms
// are computed over the host's bytes and held against the loader's answers,
// and the one algorithm that matches every sample is taken. Until then, or
// when none matches, the caller confirms by reading. A sum (byte sums,
// Fletcher-16) may be identified but never confirms: it is blind to a bit
// moved between two bytes, and Fletcher-16 to 0x00 against 0xFF, so with
// such a loader the caller reads as well.
//
// One object per connection: another loader may answer the next one.
//
//   LoaderChecksum checks(link);
//   switch (checks.Compare(address, bytes, n)) { ... }
//   if (const Checksum16* a = checks.ConfirmingAlgorithm()) { ChecksumRun run(*a); ... }

#include <cstdint>
#include <functional>

#include "link/checksum16.h"
#include "link/loader_link.h"

namespace vok {

class LoaderChecksum {
 public:
  // The loader's checksum of [start, start + length): 0 or a negative LinkError.
  using Ask = std::function<int(uint32_t start, uint32_t length, uint16_t& sum)>;

  explicit LoaderChecksum(LoaderLink& link);
  explicit LoaderChecksum(Ask ask);

  enum Outcome {
    kDiffers = 0,     // the target holds other bytes
    kSame = 1,        // the target holds these bytes
    kCannotTell = 2,  // no algorithm known (yet): compare by reading, then call ReadingAgreed
  };

  // Compares n bytes that the host holds for address with the target's.
  // While the algorithm is being identified, the bytes are taken as samples
  // (if their contents are mixed): kSame when they settle it on a CRC, else
  // kCannotTell. Once a sum is known, always kCannotTell. A negative
  // LinkError when the command fails.
  int Compare(uint32_t address, const uint8_t* data, uint32_t n);
  // After kCannotTell: whether reading showed the host's bytes to be right.
  // Samples taken from wrong bytes are dropped.
  void ReadingAgreed(bool held_bytes_right);

  enum class State { kIdentifying, kKnown, kUnknown };
  State state() const { return state_; }
  // The loader's algorithm once known, else null; a sum names the loader
  // in the log but confirms nothing.
  const Checksum16* Algorithm() const;
  // The identified algorithm when its match confirms bytes alone (a CRC), else null.
  const Checksum16* ConfirmingAlgorithm() const;
  // The bare command, for a range of any size (compute the host's side with
  // ChecksumRun).
  int AskTarget(uint32_t start, uint32_t length, uint16_t& sum) const {
    return ask_(start, length, sum);
  }

  // What was confirmed how, for the log.
  uint64_t BytesByChecksum() const { return by_checksum_; }
  uint64_t BytesByReading() const { return by_reading_; }

  // Identification gives up after samples from this many ranges (each
  // ruled out wrong samples aside) have left more than one candidate.
  static constexpr int kMaxSampleRanges = 4;

 private:
  struct Samples {
    uint32_t mask = 0;
    uint32_t lengths[2] = {0, 0};
    int count = 0;
  };
  static bool InnerSample(const uint8_t* data, uint32_t n, uint32_t& at, uint32_t& length);
  static bool Confirms(uint32_t mask);
  uint32_t Matching(const uint8_t* data, uint32_t n, uint16_t sum) const;
  bool Settled(uint32_t mask, const Samples& more) const;
  void Commit(const Samples& s);

  Ask ask_;
  State state_ = State::kIdentifying;
  uint32_t candidates_;
  int known_ = -1;  // catalogue index
  // Lengths of the committed samples; two different ones are needed.
  uint32_t first_length_ = 0;
  bool two_lengths_ = false;
  int sample_ranges_ = 0;
  Samples pending_;
  bool has_pending_ = false;
  uint32_t last_n_ = 0;
  uint64_t by_checksum_ = 0, by_reading_ = 0;
};

}  // namespace vok
