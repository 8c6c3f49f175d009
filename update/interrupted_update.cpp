#include "update/interrupted_update.h"

#include <algorithm>
#include <initializer_list>
#include <utility>
#include <vector>

#include "image/file.h"
#include "image/target_memory.h"
#include "update/command_file.h"

namespace vok {

namespace {

// [first, end) in 64 bits, so a run may end at 0xFFFFFFFF.
using Span = std::pair<uint64_t, uint64_t>;

// The length of the sector that starts there; 0 for no sector of the table.
uint32_t FlashSectorLength(uint32_t start) {
  const FlashSector* s = kMemoryMap.SectorAt(start);
  return s != nullptr ? s->length : 0;
}

// Adds the spans to out as few ranges as cover them: overlapping and
// adjacent spans become one range.
void AddMerged(std::vector<Span> spans, MemoryRangeList& out) {
  std::sort(spans.begin(), spans.end());
  for (size_t i = 0; i < spans.size();) {
    uint64_t first = spans[i].first, end = spans[i].second;
    for (++i; i < spans.size() && spans[i].first <= end; ++i) end = std::max(end, spans[i].second);
    out.AddSorted(CMemoryRange(static_cast<uint32_t>(first), static_cast<uint32_t>(end - first),
                               CMemoryRange::kByLength));
  }
}

void Collect(const MemoryRangeList& list, std::vector<Span>& spans) {
  for (const CMemoryRange& r : list)
    if (r.GetLength() > 0) spans.emplace_back(r.GetStart(), uint64_t{r.GetStart()} + r.GetLength());
}

std::vector<Span> SpansOf(std::initializer_list<const MemoryRangeList*> lists) {
  std::vector<Span> spans;
  for (const MemoryRangeList* list : lists) Collect(*list, spans);
  return spans;
}

}  // namespace

int LayCommandFileIntoImage(const std::string& path, MemoryImage& image, InterruptedPlan& plan,
                            UserInterface& ui) {
  CommandFileReader reader;
  std::vector<Span> records;
  try {
    if (!reader.Open(path)) return 0;
    uint32_t sector;
    while (reader.NextSector(sector)) {
      const uint32_t length = FlashSectorLength(sector);
      if (length == 0) return 0;
      plan.sectors.AddSorted(CMemoryRange(sector, length, CMemoryRange::kByLength));
    }
    CommandRecord record;
    while (reader.NextRecord(record)) {
      if (image.Store(record.address, record.data, record.length) != MemoryImage::kStored) {
        ui.ShowMessage("Cannot store data in memory image", Buttons::Ok, Icon::Stop, kAppTitle);
        return 0;
      }
      records.emplace_back(record.address, uint64_t{record.address} + record.length);
    }
  } catch (const FileException&) {
    return 0;
  }
  AddMerged(std::move(records), plan.records);
  return 1;
}

void PlanWithInterrupted(const MemoryRangeList& update_ranges, const InterruptedPlan& plan,
                         MemoryRangeList& program_ranges, MemoryRangeList& kept_ranges,
                         MemoryRangeList& touched_sectors) {
  AddMerged(SpansOf({&update_ranges, &plan.records}), program_ranges);
  // Whole old sectors count as covered: nothing in them is read back.
  MemoryRangeList covered;
  AddMerged(SpansOf({&program_ranges, &plan.sectors}), covered);
  FindTouchedSectors(covered, kept_ranges, touched_sectors);
}

}  // namespace vok
