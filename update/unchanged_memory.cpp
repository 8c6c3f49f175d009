#include "update/unchanged_memory.h"

#include <algorithm>
#include <vector>

#include "link/checksum16.h"

namespace vok {

namespace {

// [first, first + length), in 64 bits so that the top of memory fits.
struct Piece {
  uint64_t first;
  uint64_t length;
  uint64_t End() const { return first + length; }
};

// The parts of the ranges within [lo, hi), in ascending order, cut into
// spans of at most kCompareSpan bytes.
std::vector<Piece> SpansWithin(const MemoryRangeList& ranges, uint64_t lo, uint64_t hi) {
  std::vector<Piece> spans;
  for (const CMemoryRange& r : ranges) {
    if (r.GetLength() == 0) continue;
    const uint64_t first = std::max<uint64_t>(lo, r.GetStart());
    const uint64_t end = std::min<uint64_t>(hi, uint64_t{r.GetStart()} + r.GetLength());
    for (uint64_t at = first; at < end; at += kCompareSpan)
      spans.push_back({at, std::min<uint64_t>(kCompareSpan, end - at)});
  }
  return spans;
}

// Whether the target holds the image's bytes over the span: 1 when both
// questions agree, 0 when one does not, or a negative LinkError. Up to two
// bytes the CRC alone is exact: it maps them one to one.
int SpanAgrees(LoaderChecksum& checks, const Checksum16& crc, MemoryImage& image, const Piece& s) {
  const uint32_t first = static_cast<uint32_t>(s.first), n = static_cast<uint32_t>(s.length);
  std::vector<uint8_t> bytes(n);
  image.Fetch(first, bytes.data(), n);
  uint16_t sum = 0;
  if (const int rc = checks.AskTarget(first, n, sum); rc < 0) return rc;
  if (sum != ComputeChecksum(crc, bytes.data(), n)) return 0;
  if (n <= 2) return 1;
  const uint32_t edge = std::max<uint32_t>(1, n / 4);
  if (const int rc = checks.AskTarget(first + edge, n - 2 * edge, sum); rc < 0) return rc;
  return sum == ComputeChecksum(crc, bytes.data() + edge, n - 2 * edge) ? 1 : 0;
}

constexpr int kIdentifyReads = 8;

// Identifies the loader's algorithm for the comparison: first on the file's
// bytes, which settle it where the target holds them (wrong bytes match no
// algorithm, or leave samples that the next question drops); then on pieces
// read from the target, the kept parts first (erased ones come back short),
// each read twice alike.
int Identify(const TargetReader& read, LoaderChecksum& checks, MemoryImage& image,
             const std::vector<Piece>& spans, const std::vector<Piece>& kept) {
  auto identifying = [&checks] { return checks.state() == LoaderChecksum::State::kIdentifying; };
  auto mixed = [](const std::vector<uint8_t>& b, uint32_t n) {
    return std::any_of(b.begin(), b.begin() + n, [&](uint8_t x) { return x != b[0]; });
  };
  std::vector<uint8_t> bytes(kCompareSpan), again(kReadPiece);
  int tries = 0;
  for (const Piece& s : spans) {
    if (!identifying() || tries == LoaderChecksum::kMaxSampleRanges) break;
    const uint32_t n = static_cast<uint32_t>(s.length);
    image.Fetch(static_cast<uint32_t>(s.first), bytes.data(), n);
    if (!mixed(bytes, n)) continue;  // a run of one value tells no algorithm apart
    ++tries;
    if (const int rc = checks.Compare(static_cast<uint32_t>(s.first), bytes.data(), n); rc < 0)
      return rc;
  }
  std::vector<Piece> pieces;
  for (const std::vector<Piece>* list : {&kept, &spans})
    for (const Piece& s : *list)
      for (uint64_t at = s.first; at < s.End() && pieces.size() < kIdentifyReads; at += kReadPiece)
        pieces.push_back({at, std::min<uint64_t>(kReadPiece, s.End() - at)});
  auto read_piece = [&read](const Piece& p, uint8_t* into) {
    const int rc = read(static_cast<uint32_t>(p.first), static_cast<uint16_t>(p.length), into);
    return rc > 0 ? static_cast<int>(kErrWrongReply) : rc;
  };
  for (const Piece& p : pieces) {
    if (!identifying()) break;
    const uint32_t n = static_cast<uint32_t>(p.length);
    if (const int rc = read_piece(p, bytes.data()); rc < 0) return rc;
    if (!mixed(bytes, n)) continue;
    const int outcome = checks.Compare(static_cast<uint32_t>(p.first), bytes.data(), n);
    if (outcome < 0) return outcome;
    if (outcome != LoaderChecksum::kCannotTell) continue;
    if (const int rc = read_piece(p, again.data()); rc < 0) return rc;
    if (std::equal(again.begin(), again.begin() + n, bytes.begin())) checks.ReadTwiceAlike();
  }
  return 0;
}

}  // namespace

int LeaveUnchanged(const TargetReader& read, LoaderChecksum& checks, MemoryImage& image,
                   MemoryRangeList& update_ranges, MemoryRangeList& kept_ranges,
                   MemoryRangeList& touched_sectors, UnchangedCounts& counts) {
  counts = UnchangedCounts{};
  counts.sectors = static_cast<int>(touched_sectors.GetCount());
  const uint64_t ram_first = kMemoryMap.ram.first, ram_end = uint64_t{kMemoryMap.ram.last} + 1;
  const std::vector<Piece> ram = SpansWithin(update_ranges, ram_first, ram_end);
  for (const Piece& s : ram) counts.ram_bytes += s.length;

  std::vector<Piece> all;
  for (const CMemoryRange& sector : touched_sectors) {
    const std::vector<Piece> in = SpansWithin(update_ranges, sector.GetStart(),
                                              uint64_t{sector.GetStart()} + sector.GetLength());
    all.insert(all.end(), in.begin(), in.end());
  }
  all.insert(all.end(), ram.begin(), ram.end());
  std::vector<Piece> kept;
  for (const CMemoryRange& k : kept_ranges)
    if (k.GetLength() > 0) kept.push_back({k.GetStart(), k.GetLength()});
  if (const int rc = Identify(read, checks, image, all, kept); rc < 0) return rc;
  const Checksum16* crc = checks.ConfirmingAlgorithm();
  if (crc == nullptr) return 1;

  MemoryRangeList left_alone, sectors_left, kept_left;
  for (const CMemoryRange& sector : touched_sectors) {
    const uint64_t end = uint64_t{sector.GetStart()} + sector.GetLength();
    bool same = true;
    for (const Piece& s : SpansWithin(update_ranges, sector.GetStart(), end)) {
      const int rc = SpanAgrees(checks, *crc, image, s);
      if (rc < 0) return rc;
      if (rc == 0) {
        same = false;
        break;
      }
    }
    if (same) {
      ++counts.sectors_unchanged;
      left_alone.AddSorted(sector);
    } else {
      sectors_left.AddSorted(sector);
    }
  }
  for (const Piece& s : ram) {
    const int rc = SpanAgrees(checks, *crc, image, s);
    if (rc < 0) return rc;
    if (rc == 1) {
      counts.ram_unchanged += s.length;
      left_alone.AddSorted(CMemoryRange(static_cast<uint32_t>(s.first),
                                        static_cast<uint32_t>(s.length), CMemoryRange::kByLength));
    }
  }
  // A stored image that could not be read back compared 0xFF: nothing of it
  // may count as held by the target.
  if (image.HadReadError()) return 1;
  counts.compared = true;

  for (const CMemoryRange& k : kept_ranges)
    if (!left_alone.OverlapsAny(k)) kept_left.AddSorted(k);
  MemoryRangeList update_left;
  for (const CMemoryRange& r : update_ranges) left_alone.AddUncovered(r, update_left);
  update_ranges = std::move(update_left);
  kept_ranges = std::move(kept_left);
  touched_sectors = std::move(sectors_left);
  return 1;
}

std::string UnchangedLine(const UnchangedCounts& c) {
  if (!c.compared)
    return "No CRC known for the loader's checksum: everything is written";
  std::string line;
  if (c.sectors > 0)
    line = std::to_string(c.sectors_unchanged) + " of " + std::to_string(c.sectors) +
           " sectors unchanged, not erased";
  if (c.ram_bytes > 0)
    line += (line.empty() ? "" : ", ") + std::to_string(c.ram_unchanged) + " of " +
            std::to_string(c.ram_bytes) + " RAM bytes unchanged, not programmed";
  return line;
}

}  // namespace vok
