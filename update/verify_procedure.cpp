#include "update/verify_procedure.h"

#include <algorithm>
#include <functional>
#include <optional>

#include "link/address_text.h"
#include "link/loader_checksum.h"
#include "link/loader_commands.h"
#include "target/connect.h"

namespace vok {
namespace {

void ShowReadFailure(UserInterface& ui, int code) {
  ui.ShowMessage("Reading target memory failed (" + std::to_string(code) + ") !", Buttons::Ok,
                 Icon::Stop);
}

// Compares one span of an area: by the loader's checksum where that
// settles it (a CRC), else by reading. 1; 0 with failed_at set when reads
// of a differing piece never agreed; or a negative LinkError.
int CompareSpan(const TargetReader& read, LoaderChecksum& checks, MemoryImage& image,
                const CMemoryRange& span, std::optional<MemoryDifference>& difference,
                uint32_t& failed_at, const std::function<void(uint32_t)>& advanced) {
  uint8_t wanted[kConfirmSpan];
  image.Fetch(span.GetStart(), wanted, span.GetLength());
  const int outcome = checks.Compare(span.GetStart(), wanted, span.GetLength());
  if (outcome < 0) return outcome;
  if (outcome == LoaderChecksum::kSame) {
    difference.reset();
    advanced(span.GetLength());
    return 1;
  }
  // Differs (reading finds where) or cannot tell (reading decides, and
  // tells the identification whether the file's bytes were a fair sample).
  const int rc = CompareRangeWithTarget(read, image, span, difference, failed_at, advanced);
  if (rc == 1 && outcome == LoaderChecksum::kCannotTell) checks.ReadingAgreed(!difference);
  return rc;
}

// Compares the areas; 1, or 0 after the failure has been shown (silently
// when the user asked to stop).
int CompareAreas(VerifyContext& c, MemoryImage& image, const std::vector<CMemoryRange>& areas,
                 LoaderChecksum& checks,
                 std::vector<MemoryDifference>& differences) {
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
    // Span by span: one checksum question settles a span that is equal, and
    // only a span that differs is read, to find where.
    std::optional<MemoryDifference> in_area;
    uint64_t at = area.GetStart();
    const uint64_t end = uint64_t{area.GetStart()} + area.GetLength();
    while (at < end) {
      if (c.ui.StopRequested()) return 0;
      const auto n = static_cast<uint32_t>(std::min<uint64_t>(kConfirmSpan, end - at));
      const CMemoryRange span(static_cast<uint32_t>(at), n, CMemoryRange::kByLength);
      std::optional<MemoryDifference> difference;
      uint32_t failed_at = span.GetStart();
      const int rc = CompareSpan(read, checks, image, span, difference, failed_at, advanced);
      if (rc < 0) {
        ShowReadFailure(c.ui, rc);
        return 0;
      }
      if (rc == 0) {
        c.ui.ShowMessage("Reading target memory failed at " + AddressText(failed_at) +
                             ": the bytes read could not be confirmed",
                         Buttons::Ok, Icon::Stop);
        return 0;
      }
      if (difference) {
        if (!in_area) in_area = *difference;
        in_area->last = difference->last;
      }
      at += n;
    }
    if (in_area) differences.push_back(*in_area);
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
  if (ok && options.on_connected) options.on_connected(c.link);
  if (ok) {
    c.log.BeginStep("Analyzing update file");
    // A failed creation of the image shows as the first store's failure.
    image.Open(0, options.image_folder.empty() ? c.paths.UpdateDir() : options.image_folder);
    ok = LoadUpdateFile(file_name, image, ranges, c.ui, options.file) == 1;
    c.log.EndStep(ok);
  }
  if (ok) {
    // Identified on the first areas, whose bytes are read in any case.
    LoaderChecksum checks(c.link);
    c.log.BeginStep("Comparing target memory");
    ok = CompareAreas(c, image, DataAreas(ranges), checks, differences) == 1;
    c.log.EndStep(ok);
    c.progress.ResetProgress();
    if (ok) {
      if (const std::string how = ChecksMethod(checks); !how.empty()) c.log.AddLine("Compared by " + how);
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
  return AddressText(d.first) + "-" + AddressText(d.last) + " differs";
}

}  // namespace vok
