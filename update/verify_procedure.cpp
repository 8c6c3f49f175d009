#include "update/verify_procedure.h"

#include <cstdio>

#include "link/loader_commands.h"
#include "target/connect.h"

namespace vok {
namespace {

void ShowReadFailure(UserInterface& ui, int code) {
  ui.ShowMessage("Reading target memory failed (" + std::to_string(code) + ") !", Buttons::Ok,
                 Icon::Stop);
}

// Compares the areas; 1, or 0 after the failure has been shown.
int CompareAreas(VerifyContext& c, MemoryImage& image, const std::vector<CMemoryRange>& areas,
                 const VerifyOptions& options, std::vector<MemoryDifference>& differences) {
  uint64_t total = 0, done = 0;
  for (const CMemoryRange& area : areas) total += area.GetLength();
  // The bar counts in 32 bits; a sum beyond that is shown scaled.
  const uint32_t scale = static_cast<uint32_t>(total >> 32) + 1;
  auto advanced = [&](uint32_t n) {
    done += n;
    c.progress.SetProgress(static_cast<uint32_t>(total / scale), static_cast<uint32_t>(done / scale));
  };
  const TargetReader read = [&c](uint32_t address, uint16_t length, uint8_t* destination) {
    return ReadTargetMemory(c.link, address, length, destination);
  };
  for (const CMemoryRange& area : areas) {
    if (options.screen) {
      const int settled = options.screen(c.link, image, area);
      if (settled < 0) {
        ShowReadFailure(c.ui, settled);
        return 0;
      }
      if (settled == 1) {
        advanced(area.GetLength());
        continue;
      }
    }
    std::optional<MemoryDifference> difference;
    if (int rc = CompareRangeWithTarget(read, image, area, difference, advanced); rc < 0) {
      ShowReadFailure(c.ui, rc);
      return 0;
    }
    if (difference) differences.push_back(*difference);
  }
  if (image.HadReadError()) {
    // Bytes of the file that could not be read back cannot be compared.
    c.ui.ShowMessage("Cannot read memory image", Buttons::Ok, Icon::Stop);
    return 0;
  }
  return 1;
}

}  // namespace

std::vector<CMemoryRange> DataAreas(const MemoryRangeList& ranges) {
  std::vector<CMemoryRange> areas;
  uint32_t start = 0;
  uint64_t end = 0;  // one past the last address of the open area
  bool open = false;
  for (const CMemoryRange& r : ranges) {
    if (r.GetLength() == 0) continue;
    const uint64_t r_end = uint64_t{r.GetStart()} + r.GetLength();
    if (open && r.GetStart() <= end) {
      if (r_end > end) end = r_end;
      continue;
    }
    if (open) areas.emplace_back(start, static_cast<uint32_t>(end - 1), CMemoryRange::kByEnd);
    start = r.GetStart();
    end = r_end;
    open = true;
  }
  if (open) areas.emplace_back(start, static_cast<uint32_t>(end - 1), CMemoryRange::kByEnd);
  return areas;
}

int VerifyTargetAgainstFile(VerifyContext& c, const std::string& file_name, int port, int baud_rate,
                            const VerifyOptions& options, std::vector<MemoryDifference>& differences) {
  differences.clear();
  c.progress.ResetProgress();
  MemoryImage image;
  MemoryRangeList ranges;

  c.ui.BeginWait();
  c.log.BeginStep("Connecting to target loader");
  bool ok = ConnectTarget(c.link, c.paths, c.ui, port, baud_rate, nullptr, 1) == 1;
  c.log.EndStep(ok);
  if (ok) {
    c.log.BeginStep("Analyzing update file");
    // A failed creation of the image shows as the first store's failure.
    image.Open(0, options.image_folder);
    ok = LoadUpdateFile(file_name, image, ranges, c.ui, options.file) == 1;
    c.log.EndStep(ok);
  }
  if (ok) {
    c.log.BeginStep("Comparing target memory");
    ok = CompareAreas(c, image, DataAreas(ranges), options, differences) == 1;
    c.log.EndStep(ok);
    c.progress.ResetProgress();
    if (ok) {
      for (const MemoryDifference& d : differences) c.log.AddLine(DifferenceText(d));
    }
  }
  DisconnectTarget(c.link);
  c.ui.EndWait();

  if (!ok) {
    differences.clear();  // a comparison cut short tells nothing for certain
    c.log.AddLineAndShow("#### Verification of target memory failed ####");
  } else if (differences.empty()) {
    c.log.AddLineAndShow("Target memory equals update file");
  } else {
    c.log.AddLineAndShow("#### Target memory differs from update file ####");
  }
  return ok ? 1 : 0;
}

std::string DifferenceText(const MemoryDifference& d) {
  char text[48];
  std::snprintf(text, sizeof text, "0x%08X-0x%08X differs", static_cast<unsigned>(d.first),
                static_cast<unsigned>(d.last));
  return text;
}

}  // namespace vok
