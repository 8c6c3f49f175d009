#include "image/target_memory.h"

#include <algorithm>
#include <string>

#include "image/srecord.h"
#include "link/link_error.h"
#include "link/loader_commands.h"

namespace vok {
namespace {

TargetReader ReaderOf(LoaderLink& link) {
  return [&link](uint32_t address, uint16_t length, uint8_t* destination) {
    return ReadTargetMemory(link, address, length, destination);
  };
}

void ShowReadFailure(UserInterface& ui, int code) {
  ui.ShowMessage("Reading target memory failed (" + std::to_string(code) + ") !", Buttons::Ok,
                 Icon::Stop);
}

}  // namespace

void FindTouchedSectors(const MemoryRangeList& update_ranges, MemoryRangeList& kept_ranges,
                        MemoryRangeList& touched_sectors) {
  for (const FlashSector& s : kFlashSectors) {
    CMemoryRange sector(s.start, s.length, CMemoryRange::kByLength);
    if (update_ranges.OverlapsAny(sector)) touched_sectors.AddSorted(sector);
  }
  for (const CMemoryRange& sector : touched_sectors) update_ranges.AddUncovered(sector, kept_ranges);
}

int ReadRangeIntoImage(LoaderLink& link, MemoryImage& image, const CMemoryRange& range,
                       ProgressBar* bar, UserInterface& ui) {
  return ReadRangeIntoImage(ReaderOf(link), image, range, bar, ui);
}

int ReadRangeIntoImage(const TargetReader& read, MemoryImage& image, const CMemoryRange& range,
                       ProgressBar* bar, UserInterface& ui) {
  uint8_t piece[kReadPiece];
  uint32_t address = range.GetStart();
  uint32_t remaining = range.GetLength();
  while (remaining > 0) {
    if (ui.StopRequested()) return 0;
    uint16_t n = static_cast<uint16_t>(std::min(remaining, kReadPiece));
    // Only 0 means the piece was filled.
    if (int c = read(address, n, piece); c != 0) {
      ShowReadFailure(ui, c);
      return 0;
    }
    if (image.Store(address, piece, n) != MemoryImage::kStored) {
      ui.ShowMessage("Cannot store data in memory image", Buttons::Ok, Icon::Stop);
      return 0;
    }
    remaining -= n;
    address += n;
    if (bar) bar->SetProgress(range.GetLength(), range.GetLength() - remaining);
  }
  if (bar) bar->ResetProgress();
  return 1;
}

int CompareRangeWithTarget(const TargetReader& read, MemoryImage& image, const CMemoryRange& range,
                           std::optional<MemoryDifference>& difference,
                           const std::function<void(uint32_t)>& advanced) {
  difference.reset();
  uint8_t target[kReadPiece];
  uint8_t wanted[kReadPiece];
  uint32_t address = range.GetStart();
  uint32_t remaining = range.GetLength();
  while (remaining > 0) {
    const uint16_t n = static_cast<uint16_t>(std::min(remaining, kReadPiece));
    if (int c = read(address, n, target); c != 0) return c < 0 ? c : kErrWrongReply;
    image.Fetch(address, wanted, n);
    for (uint32_t i = 0; i < n; ++i) {
      if (target[i] == wanted[i]) continue;
      if (!difference) difference = MemoryDifference{address + i, address + i};
      difference->last = address + i;
    }
    remaining -= n;
    address += n;
    if (advanced) advanced(n);
  }
  return 0;
}

int CopyRangeToFile(LoaderLink& link, TextFile& file, const CMemoryRange& range, ProgressBar* bar,
                    UserInterface& ui) {
  return CopyRangeToFile(ReaderOf(link), file, range, bar, ui);
}

int CopyRangeToFile(const TargetReader& read, TextFile& file, const CMemoryRange& range,
                    ProgressBar* bar, UserInterface& ui) {
  char data_type = '1', end_type = '9';
  if (range.GetEnd() > 0xFFFFFF) {
    data_type = '3';
    end_type = '7';
  } else if (range.GetEnd() > 0xFFFF) {
    data_type = '2';
    end_type = '8';
  }
  try {
    uint8_t piece[kReadPiece];
    uint32_t address = range.GetStart();
    uint32_t remaining = range.GetLength();
    std::string lines;
    while (remaining > 0) {
      if (ui.StopRequested()) return 0;
      uint16_t n = static_cast<uint16_t>(std::min(remaining, kReadPiece));
      if (int c = read(address, n, piece); c != 0) {
        ShowReadFailure(ui, c);
        return 0;
      }
      lines.clear();
      for (uint32_t at = 0; at < n; at += kSRecordLineData) {
        uint32_t len = std::min<uint32_t>(kSRecordLineData, n - at);
        lines += FormatSRecord(data_type, address + at, len, piece + at);
      }
      file.WriteText(lines);
      remaining -= n;
      address += n;
      if (bar) bar->SetProgress(range.GetLength(), range.GetLength() - remaining);
    }
    file.WriteText(FormatSRecord(end_type, 0, 0, nullptr));
  } catch (const FileException&) {
    return 0;
  }
  if (bar) bar->ResetProgress();
  return 1;
}

}  // namespace vok
