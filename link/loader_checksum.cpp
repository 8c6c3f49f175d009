#include "link/loader_checksum.h"

#include <bit>
#include <utility>

#include "link/loader_commands.h"

namespace vok {

namespace {

uint32_t AllCandidates() {
  const size_t n = ChecksumCatalogue().size();
  return n >= 32 ? 0xFFFFFFFFu : (1u << n) - 1;
}

// A sample must tell the algorithms apart: a run of one byte value makes
// several of them agree (a run of zeros gives 0 for every CRC that starts
// at 0, and for the sums).
bool Mixed(const uint8_t* data, uint32_t n) {
  for (uint32_t i = 1; i < n; ++i)
    if (data[i] != data[0]) return true;
  return false;
}

}  // namespace

LoaderChecksum::LoaderChecksum(LoaderLink& link)
    : LoaderChecksum([&link](uint32_t start, uint32_t length, uint16_t& sum) {
        return GetTargetChecksum(link, start, length, sum);
      }) {}

LoaderChecksum::LoaderChecksum(Ask ask) : ask_(std::move(ask)), candidates_(AllCandidates()) {}

const Checksum16* LoaderChecksum::Algorithm() const {
  return known_ < 0 ? nullptr : &ChecksumCatalogue()[static_cast<size_t>(known_)];
}

const Checksum16* LoaderChecksum::ConfirmingAlgorithm() const {
  const Checksum16* a = Algorithm();
  return a != nullptr && a->kind == Checksum16::Kind::kCrc ? a : nullptr;
}

uint32_t LoaderChecksum::Matching(const uint8_t* data, uint32_t n, uint16_t sum) const {
  uint32_t mask = 0;
  const std::vector<Checksum16>& catalogue = ChecksumCatalogue();
  for (size_t i = 0; i < catalogue.size() && i < 32; ++i)
    if ((candidates_ >> i & 1) && ComputeChecksum(catalogue[i], data, n) == sum) mask |= 1u << i;
  return mask;
}

// One candidate left, and samples of two different lengths behind it (CRCs
// that differ only in their start value agree or disagree by length alone).
bool LoaderChecksum::Settled(uint32_t mask, const Samples& more) const {
  if (std::popcount(mask) != 1) return false;
  uint32_t first = first_length_;
  for (int i = 0; i < more.count; ++i) {
    if (first == 0) first = more.lengths[i];
    else if (more.lengths[i] != first) return true;
  }
  return two_lengths_;
}

void LoaderChecksum::Commit(const Samples& s) {
  const bool settled = Settled(s.mask, s);
  for (int i = 0; i < s.count; ++i) {
    if (first_length_ == 0) first_length_ = s.lengths[i];
    else if (s.lengths[i] != first_length_) two_lengths_ = true;
  }
  candidates_ = s.mask;
  ++sample_ranges_;
  if (settled) {
    state_ = State::kKnown;
    known_ = std::countr_zero(candidates_);
  } else if (candidates_ == 0 || sample_ranges_ >= kMaxSampleRanges) {
    state_ = State::kUnknown;
  }
}

int LoaderChecksum::Compare(uint32_t address, const uint8_t* data, uint32_t n) {
  has_pending_ = false;
  last_n_ = n;
  if (n == 0) return kSame;
  if (state_ == State::kUnknown) return kCannotTell;

  if (state_ == State::kKnown) {
    uint16_t sum = 0;
    if (int rc = ask_(address, n, sum); rc < 0) return rc;
    if (ComputeChecksum(*Algorithm(), data, n) != sum) return kDiffers;
    by_checksum_ += n;
    return kSame;
  }

  if (!Mixed(data, n)) return kCannotTell;
  // Two samples: the whole range and a half of it with mixed contents.
  Samples s;
  uint16_t sum = 0;
  if (int rc = ask_(address, n, sum); rc < 0) return rc;
  s.mask = Matching(data, n, sum);
  s.lengths[s.count++] = n;
  const uint32_t half = n / 2;
  uint32_t at = 0, length = 0;
  if (Mixed(data, half)) {
    length = half;
  } else if (Mixed(data + half, n - half)) {
    at = half;
    length = n - half;
  }
  if (s.mask != 0 && length != 0) {
    if (int rc = ask_(address + at, length, sum); rc < 0) return rc;
    s.mask &= Matching(data + at, length, sum);
    s.lengths[s.count++] = length;
  }
  // An unlucky match of wrong bytes needs two coincidences of 1 in 65536;
  // a wrong algorithm chosen so would show at the next comparison.
  if (Settled(s.mask, s)) {
    Commit(s);
    by_checksum_ += n;
    return kSame;
  }
  pending_ = s;
  has_pending_ = true;
  return kCannotTell;
}

void LoaderChecksum::ReadingAgreed(bool held_bytes_right) {
  by_reading_ += last_n_;
  if (state_ == State::kIdentifying && has_pending_ && held_bytes_right) Commit(pending_);
  has_pending_ = false;
}

void LoaderChecksum::ReadTwiceAlike() {
  if (state_ == State::kIdentifying && has_pending_) Commit(pending_);
  has_pending_ = false;
}

}  // namespace vok
