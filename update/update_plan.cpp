#include "update/update_plan.h"

#include <algorithm>
#include <cstring>

#include "image/file.h"
#include "image/update_file.h"
#include "link/checksum16.h"
#include "link/loader_commands.h"
#include "target/connect.h"
#include "update/unchanged_memory.h"

namespace vok {

namespace {

// The checksum of the image's bytes [start, start + length).
uint16_t ImageChecksum(MemoryImage& image, const Checksum16& a, uint32_t start, uint32_t length) {
  ChecksumRun run(a);
  uint8_t piece[kReadPiece];
  for (uint64_t at = start, end = uint64_t{start} + length; at < end; at += kReadPiece) {
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(kReadPiece, end - at));
    image.Fetch(static_cast<uint32_t>(at), piece, n);
    run.Add(piece, n);
  }
  return run.Value();
}

std::string Version(const uint8_t v[3]) {
  return "V" + std::to_string(v[0]) + "." + std::to_string(v[1]) + "." + std::to_string(v[2]);
}

// Typical flash timings of the controller, for the estimate: an erase takes
// 80 ms for an 8 KiB sector and 600 ms for 128 KiB, programming 5 ms a KiB.
double EraseSeconds(uint32_t length) {
  return length <= 0x2000 ? 0.08 : 0.6 * length / 0x20000;
}
constexpr double kProgramSecondsPerKiB = 0.005;
// Frame and reply bytes per 1024 data bytes carried, either way.
constexpr double kLineOverhead = 1.03;

uint64_t BytesWithin(const MemoryRangeList& ranges, uint64_t first, uint64_t end) {
  uint64_t n = 0;
  for (const CMemoryRange& r : ranges) {
    const uint64_t a = std::max<uint64_t>(first, r.GetStart());
    const uint64_t b = std::min<uint64_t>(end, uint64_t{r.GetStart()} + r.GetLength());
    if (b > a) n += b - a;
  }
  return n;
}

}  // namespace

int ScanFileComponents(MemoryImage& image, const Checksum16* algorithm, UserInterface& ui,
                       std::vector<ScannedComponent>& found) {
  ComponentSource file;
  file.read = [&image](uint32_t address, uint16_t length, uint8_t* destination) {
    image.Fetch(address, destination, length);
    return 0;
  };
  file.stamp_ok = [&image, algorithm](const ComponentHeader& h, bool& ok) {
    ok = false;
    if (algorithm != nullptr) {
      ok = ImageChecksum(image, *algorithm, h.start, h.length) == h.checksum;
    } else {
      for (const Checksum16& a : ChecksumCatalogue())
        if ((ok = ImageChecksum(image, a, h.start, h.length) == h.checksum)) break;
    }
    return 0;
  };
  found.clear();
  return ScanComponentSource(file, ui, found);
}

const char* VersionChangeName(VersionChange change) {
  switch (change) {
    case VersionChange::kNew: return "new";
    case VersionChange::kUnchanged: return "unchanged";
    case VersionChange::kNewer: return "newer";
    case VersionChange::kOlder: return "older";
  }
  return "";
}

int CompareComponents(const TargetReader& read, const std::vector<ScannedComponent>& file,
                      std::vector<ComponentChange>& changes) {
  changes.clear();
  for (const ScannedComponent& c : file) {
    ComponentChange change;
    change.file = c;
    uint8_t raw[ComponentHeader::kSize];
    if (const int rc = read(c.address, sizeof raw, raw); rc != 0)
      return rc < 0 ? rc : static_cast<int>(kErrWrongReply);
    const ComponentHeader there = ComponentHeader::Decode(raw);
    change.on_target = there.magic == ComponentHeader::kMagic && there.name == c.header.name;
    if (change.on_target) {
      std::memcpy(change.target_version, there.version, 3);
      const int order = std::memcmp(c.header.version, there.version, 3);
      change.change = order == 0  ? VersionChange::kUnchanged
                      : order > 0 ? VersionChange::kNewer
                                  : VersionChange::kOlder;
    }
    changes.push_back(std::move(change));
  }
  return 0;
}

std::vector<std::string> DowngradeWarnings(const std::vector<ComponentChange>& changes) {
  std::vector<std::string> lines;
  for (const ComponentChange& c : changes)
    if (c.change == VersionChange::kOlder)
      lines.push_back(c.file.header.name + " " + Version(c.file.header.version) +
                      " is older than " + Version(c.target_version) +
                      " on the target: the update goes back to it");
  return lines;
}

int PlanUpdateDryRun(UpdateContext& c, const UpdateFields& fields, const UpdateOptions& options,
                     UpdatePlan& plan) {
  plan = UpdatePlan{};
  if (!FileExists(fields.file_name)) {
    c.ui.ShowMessage("Enter valid update file name", Buttons::Ok, Icon::Exclamation, kAppTitle);
    return 0;
  }
  MemoryImage image;
  image.Open(0, options.image_folder.empty() ? c.paths.UpdateDir() : options.image_folder);
  MemoryRangeList update_ranges, kept_ranges, touched_sectors;

  c.ui.BeginWait();
  c.log.BeginStep("Connecting to target loader");
  bool ok = ConnectTarget(c.link, c.paths, c.ui, fields.port, fields.baud_rate, nullptr, 1) == 1;
  c.log.EndStep(ok);
  const bool connected = ok;
  if (connected) plan.rate = c.link.Port().Baud();
  LoaderChecksum checks(c.link);
  const TargetReader read = [&c](uint32_t address, uint16_t length, uint8_t* destination) {
    return ReadTargetMemory(c.link, address, length, destination);
  };
  if (ok) {
    c.log.BeginStep("Analyzing update file");
    ok = LoadUpdateFile(fields.file_name, image, update_ranges, c.ui, options.file) == 1;
    c.log.EndStep(ok);
  }
  if (ok) {
    FindTouchedSectors(update_ranges, kept_ranges, touched_sectors);
    for (const CMemoryRange& s : touched_sectors) {
      SectorPlan sector;
      sector.start = s.GetStart();
      sector.length = s.GetLength();
      const uint64_t end = uint64_t{s.GetStart()} + s.GetLength();
      sector.kept = BytesWithin(kept_ranges, s.GetStart(), end);
      sector.programmed = BytesWithin(update_ranges, s.GetStart(), end);
      plan.sectors.push_back(sector);
    }
    plan.ram_bytes = plan.ram_programmed =
        BytesWithin(update_ranges, kMemoryMap.ram.first, uint64_t{kMemoryMap.ram.last} + 1);
    if (options.skip_unchanged) {
      c.log.BeginStep("Comparing target memory");
      UnchangedCounts counts;
      const int rc =
          LeaveUnchanged(read, checks, image, update_ranges, kept_ranges, touched_sectors, counts);
      c.log.EndStep(rc == 1);
      ok = rc == 1;
      if (!ok) {
        c.ui.ShowMessage("Comparing target memory failed (" + std::to_string(rc) + ") !",
                         Buttons::Ok, Icon::Stop, kAppTitle);
      } else {
        plan.compared = counts.compared;
        plan.ram_programmed = counts.ram_bytes - counts.ram_unchanged;
        for (SectorPlan& s : plan.sectors)
          s.unchanged = !touched_sectors.OverlapsAny(
              CMemoryRange(s.start, s.length, CMemoryRange::kByLength));
      }
    }
  }
  if (ok) {
    c.log.BeginStep("Reading component headers");
    std::vector<ScannedComponent> file;
    ok = ScanFileComponents(image, checks.Algorithm(), c.ui, file) == 0;
    const int rc = ok ? CompareComponents(read, file, plan.components) : 0;
    if (rc < 0) {
      ok = false;
      c.ui.ShowMessage("Reading target memory failed (" + std::to_string(rc) + ") !", Buttons::Ok,
                       Icon::Stop, kAppTitle);
    }
    c.log.EndStep(ok);
  }
  if (connected) DisconnectTarget(c.link);
  c.ui.EndWait();
  if (!ok) return 0;

  // Kept bytes cross the line twice (read, then programmed back).
  double line_bytes = static_cast<double>(plan.ram_programmed), flash_seconds = 0;
  for (const SectorPlan& s : plan.sectors) {
    if (s.unchanged) continue;
    line_bytes += static_cast<double>(2 * s.kept + s.programmed);
    flash_seconds += EraseSeconds(s.length) +
                     kProgramSecondsPerKiB * static_cast<double>(s.kept + s.programmed) / 1024;
  }
  if (plan.rate > 0) plan.seconds = line_bytes * kLineOverhead * 10 / plan.rate + flash_seconds;
  return 1;
}

}  // namespace vok
