#include "image/update_file.h"

#include <memory>
#include <vector>

#include "image/file.h"
#include "image/srecord.h"

namespace vok {
namespace {

constexpr size_t kStoreBatch = 64 * 1024;

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

  // Consecutive records go to the image together, in one Store; whatever
  // comes before a failure is stored before it is reported.
  std::vector<uint8_t> pending;
  uint32_t pending_address = 0;
  auto store_pending = [&] {
    if (pending.empty()) return true;
    int r = image.Store(pending_address, pending.data(), static_cast<uint32_t>(pending.size()));
    pending.clear();
    return r == MemoryImage::kStored;
  };
  auto fail = [&](const char* text) {
    if (!store_pending()) text = "Cannot store data in memory image";
    file.Abort();
    ShowError(ui, text);
    return 0;
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
      if (n < 0) return fail("Update file format error");
      if (n == 0 || type == '0') continue;

      if (run_length > 0 && address != expected) {
        if (!store_pending()) return fail("Cannot store data in memory image");
        finish_run();
      }
      if (run_length == 0) run_start = address;
      if (!image.Holds(address, static_cast<uint32_t>(n))) {
        // Refused on its own, after everything before it went in.
        if (!store_pending() || image.Store(address, data, static_cast<uint32_t>(n)) != MemoryImage::kStored)
          return fail("Cannot store data in memory image");
      } else {
        if (pending.empty()) pending_address = address;
        pending.insert(pending.end(), data, data + n);
        if (pending.size() >= kStoreBatch && !store_pending())
          return fail("Cannot store data in memory image");
      }
      run_length += static_cast<uint32_t>(n);
      expected = address + static_cast<uint32_t>(n);
    }
    if (!store_pending()) return fail("Cannot store data in memory image");
    finish_run();
    file.Close();
  } catch (const FileException&) {
    store_pending();
    file.Abort();
    return 0;
  }
  return 1;
}

}  // namespace vok
