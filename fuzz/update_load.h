#pragma once

// LoadUpdateFile on a file of the harness, into a fresh memory image, with a
// user interface that shows nothing. What it reports as loaded must be in
// the image: every update range lies inside it.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/user_interface.h"
#include "fuzz/scratch.h"
#include "image/memory_image.h"
#include "image/memory_range.h"
#include "image/update_file.h"

namespace vok::fuzz {

class QuietUi : public UserInterface {
 public:
  Answer ShowMessage(const std::string&, Buttons, Icon, const std::string&) override { return Answer::Ok; }
  bool ChoosePort(int&) override { return false; }
  bool ChooseFile(const FileDialogRequest&, std::string&) override { return false; }
  void BeginWait() override {}
  void EndWait() override {}
  void Beep(unsigned, unsigned) override {}
};

inline int LoadAndCheck(const uint8_t* data, size_t size) {
  const std::string path = ScratchFolder() + "update.sss";
  WriteWhole(path, data, size);
  QuietUi ui;
  MemoryImage image;
  if (image.Open(0, ScratchFolder()) != 0) std::abort();
  MemoryRangeList ranges;
  const int r = LoadUpdateFile(path, image, ranges, ui);
  if (r == 1) {
    for (const CMemoryRange& range : ranges)
      if (!image.Holds(range.GetStart(), range.GetLength())) std::abort();
  }
  ranges.DeleteAll();
  return r;
}

// The lowest and highest address a reader named, so that a harness loads
// only inputs whose data lie close together: the image fills the space
// between them with erased bytes, and megabytes of that per execution would
// leave no time to fuzz the readers themselves.
struct Span {
  uint64_t low = ~uint64_t{0};
  uint64_t high = 0;
  void Add(uint64_t address, uint64_t length) {
    if (length == 0) return;
    low = std::min(low, address);
    high = std::max(high, address + length);
  }
  bool Close() const { return high <= low || high - low <= 256 * 1024; }
};

}  // namespace vok::fuzz
