// LoadUpdateFile on any file, into a fresh memory image. What it reports as
// loaded must be in the image: every update range lies inside it.

#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz/scratch.h"
#include "image/memory_image.h"
#include "image/memory_range.h"
#include "image/update_file.h"

namespace {

class QuietUi : public vok::UserInterface {
 public:
  vok::Answer ShowMessage(const std::string&, vok::Buttons, vok::Icon, const std::string&) override {
    return vok::Answer::Ok;
  }
  bool ChoosePort(int&) override { return false; }
  bool ChooseFile(const vok::FileDialogRequest&, std::string&) override { return false; }
  void BeginWait() override {}
  void EndWait() override {}
  void Beep(unsigned, unsigned) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& folder = vok::fuzz::ScratchFolder();
  const std::string path = folder + "update.sss";
  vok::fuzz::WriteWhole(path, data, size);
  QuietUi ui;
  vok::MemoryImage image;
  if (image.Open(0, folder) != 0) std::abort();
  vok::MemoryRangeList ranges;
  const int r = vok::LoadUpdateFile(path, image, ranges, ui);
  if (r == 1) {
    for (const vok::CMemoryRange& range : ranges)
      if (!image.Holds(range.GetStart(), range.GetLength())) std::abort();
  }
  ranges.DeleteAll();
  return 0;
}
