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
  const Checksum16* algorithm = Algorithm();
  return algorithm != nullptr && algorithm->kind == Checksum16::Kind::kCrc ? algorithm : nullptr;
}

// Whether the one candidate of mask is a CRC.
bool LoaderChecksum::Confirms(uint32_t mask) {
  return ChecksumCatalogue()[static_cast<size_t>(std::countr_zero(mask))].kind ==
         Checksum16::Kind::kCrc;
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

// A sample whose edges lie inside the range, with a byte other than 0x00
// and 0xFF on either side of both edges. Such a byte changes every sum and
// CRC it is added to or taken from, where 0x00 leaves the sums and the CRCs
// that start at 0 as they were at the start (and 0xFF Fletcher-16): a
// loader whose range is a byte longer or shorter at either end then answers
// another checksum than the algorithm's and is not identified. The range's
// own edges border bytes the host does not hold. false when there is none.
bool LoaderChecksum::InnerSample(const uint8_t* data, uint32_t n, uint32_t& at, uint32_t& length) {
  auto blank = [](uint8_t b) { return b == 0x00 || b == 0xFF; };
  if (n < 4) return false;
  uint32_t first = 1;
  while (first < n - 1 && (blank(data[first - 1]) || blank(data[first]))) ++first;
  uint32_t end = n - 1;  // data[end] is the sample's neighbour past its end
  while (end > first + 1 && (blank(data[end - 1]) || blank(data[end]))) --end;
  if (first >= n - 1 || end < first + 2 || !Mixed(data + first, end - first)) return false;
  at = first;
  length = end - first;
  return true;
}

int LoaderChecksum::Compare(uint32_t address, const uint8_t* data, uint32_t n) {
  has_pending_ = false;
  last_n_ = n;
  if (n == 0) return kSame;
  if (state_ == State::kUnknown) return kCannotTell;

  if (state_ == State::kKnown) {
    // A sum's match proves nothing, and its mismatch tells no more than the
    // reading that has to follow: not asked at all.
    const Checksum16* algorithm = ConfirmingAlgorithm();
    if (algorithm == nullptr) return kCannotTell;
    uint16_t sum = 0;
    if (int rc = ask_(address, n, sum); rc < 0) return rc;
    if (ComputeChecksum(*algorithm, data, n) != sum) return kDiffers;
    by_checksum_ += n;
    return kSame;
  }

  // Two samples: the whole range and one inside it (two lengths, and edges
  // the host can vouch for).
  uint32_t at = 0, length = 0;
  if (!InnerSample(data, n, at, length)) return kCannotTell;
  Samples s;
  uint16_t sum = 0;
  if (int rc = ask_(address, n, sum); rc < 0) return rc;
  s.mask = Matching(data, n, sum);
  s.lengths[s.count++] = n;
  if (s.mask != 0) {
    if (int rc = ask_(address + at, length, sum); rc < 0) return rc;
    s.mask &= Matching(data + at, length, sum);
    s.lengths[s.count++] = length;
  }
  // An unlucky match of wrong bytes needs two coincidences of 1 in 65536;
  // a wrong algorithm chosen so would show at the next comparison. A sum
  // that settles it is taken only once reading has confirmed the bytes.
  if (Settled(s.mask, s) && Confirms(s.mask)) {
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

}  // namespace vok
