#include "image/memory_range.h"

#include <algorithm>

namespace vok {
namespace {

std::unique_ptr<CMemoryRange> MakeRange() { return std::make_unique<CMemoryRange>(); }

uint64_t EndPlusOne(const CMemoryRange& r) { return uint64_t{r.GetStart()} + r.GetLength(); }

void Put(std::string& out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

uint32_t Get(std::string_view in, size_t pos, int bytes) {
  uint32_t value = 0;
  for (int i = bytes - 1; i >= 0; --i)
    value = (value << 8) | static_cast<uint8_t>(in[pos + static_cast<size_t>(i)]);
  return value;
}

}  // namespace

const ClassRecord CMemoryRange::kClassRecord = {"CMemoryRange", 16, 0, &MakeRange};

CMemoryRange::CMemoryRange(uint32_t start, uint32_t value, int kind) : start_(start), kind_(kind) {
  // The largest range holds 0xFFFFFFFF bytes: a length of 2^32 has no
  // 32-bit form, and wrapping it to 0 would turn "everything" into "nothing".
  if (kind == kByEnd) {
    length_ = value < start ? 0 : (value - start == 0xFFFFFFFFu ? 0xFFFFFFFFu : value - start + 1);
  } else {
    uint64_t room = (uint64_t{1} << 32) - start;
    length_ = static_cast<uint32_t>(std::min<uint64_t>({value, room, 0xFFFFFFFFu}));
  }
}

int CMemoryRange::Overlaps(const CMemoryRange& other) const {
  // An empty range holds no address, so it overlaps nothing. In 64 bits, so
  // that a range ending at 0xFFFFFFFF still overlaps.
  if (length_ == 0 || other.length_ == 0) return 0;
  return uint64_t{other.start_} < EndPlusOne(*this) && uint64_t{start_} < EndPlusOne(other) ? 1 : 0;
}

void CMemoryRange::Store(std::string& archive) const {
  Put(archive, start_, 4);
  Put(archive, length_, 4);
  Put(archive, static_cast<uint32_t>(kind_) & 0xFFFF, 2);
}

bool CMemoryRange::Load(std::string_view archive, size_t& pos) {
  if (pos > archive.size() || archive.size() - pos < kArchiveSize) return false;
  start_ = Get(archive, pos, 4);
  length_ = Get(archive, pos + 4, 4);
  kind_ = static_cast<int>(Get(archive, pos + 8, 2));
  pos += kArchiveSize;
  return true;
}

void MemoryRangeList::AddSorted(std::unique_ptr<CMemoryRange> range) {
  uint32_t key = range->GetStart();
  // A multimap inserts an equal key after the ones already there.
  ranges_.emplace(key, std::move(range));
}

int MemoryRangeList::OverlapsAny(const CMemoryRange& range) const {
  if (range.GetLength() == 0) return 0;
  // Elements that start after the range's end cannot overlap it.
  auto stop = ranges_.upper_bound(range.GetEnd());
  for (auto it = ranges_.begin(); it != stop; ++it)
    if (it->second->Overlaps(range)) return 1;
  return 0;
}

void MemoryRangeList::AddUncovered(const CMemoryRange& range, MemoryRangeList& out) const {
  if (range.GetLength() == 0) return;
  const uint64_t last = range.GetEnd();
  uint64_t cursor = range.GetStart();  // 64 bits: an element may end at 0xFFFFFFFF
  auto stop = ranges_.upper_bound(range.GetEnd());
  for (auto it = ranges_.begin(); it != stop; ++it) {
    const CMemoryRange& p = *it->second;
    if (!p.Overlaps(range)) continue;
    if (p.GetStart() > cursor) {
      uint64_t gap_end = std::min<uint64_t>(uint64_t{p.GetStart()} - 1, last);
      if (gap_end >= cursor)
        out.AddSorted(std::make_unique<CMemoryRange>(static_cast<uint32_t>(cursor),
                                                     static_cast<uint32_t>(gap_end),
                                                     CMemoryRange::kByEnd));
    }
    cursor = std::max(cursor, EndPlusOne(p));
  }
  if (cursor <= last)
    out.AddSorted(std::make_unique<CMemoryRange>(static_cast<uint32_t>(cursor),
                                                 static_cast<uint32_t>(last), CMemoryRange::kByEnd));
}

}  // namespace vok
