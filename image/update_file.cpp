#include "image/update_file.h"

#include <memory>

#include "image/file.h"
#include "image/srecord.h"

namespace vok {
namespace {

void ShowError(UserInterface& ui, const char* text) { ui.ShowMessage(text, Buttons::Ok, Icon::Stop); }

}  // namespace

int LoadUpdateFile(const std::string& path, MemoryImage& image, MemoryRangeList& update_ranges,
                   UserInterface& ui) {
  TextFile file;
  try {
    file.Open(path, FileMode::kRead);
  } catch (const FileException&) {
    ShowError(ui, "Cannot open update file");
    return 0;
  }

  // The open run: where it starts, how long it is, where the next record
  // must begin to continue it.
  uint32_t run_start = 0;
  uint32_t run_length = 0;
  uint32_t expected = 0;
  auto finish_run = [&] {
    if (run_length > 0)
      update_ranges.AddSorted(
          std::make_unique<CMemoryRange>(run_start, run_length, CMemoryRange::kByLength));
    run_length = 0;
  };

  std::string line;
  uint8_t data[kMaxSRecordData];
  try {
    for (;;) {
      TextFile::LineStatus status = file.ReadLine(line, kMaxSRecordLine);
      if (status == TextFile::LineStatus::kEnd) break;
      char type = 0;
      uint32_t address = 0;
      // A line longer than any record is not one, whatever it begins with.
      int n = status == TextFile::LineStatus::kTooLong
                  ? -1
                  : ParseSRecord(line, type, address, data, sizeof data);
      if (n < 0) {
        file.Abort();
        ShowError(ui, "Update file format error");
        return 0;
      }
      if (n == 0 || type == '0') continue;

      if (run_length > 0 && address != expected) finish_run();
      if (run_length == 0) run_start = address;
      if (image.Store(address, data, static_cast<uint32_t>(n)) != MemoryImage::kStored) {
        file.Abort();
        ShowError(ui, "Cannot store data in memory image");
        return 0;
      }
      run_length += static_cast<uint32_t>(n);
      expected = address + static_cast<uint32_t>(n);
    }
    finish_run();
    file.Close();
  } catch (const FileException&) {
    file.Abort();
    return 0;
  }
  return 1;
}

}  // namespace vok
