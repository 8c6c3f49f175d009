#pragma once

// The plan before the flash: what an update from a file would do, found
// without erasing or writing anything, and the firmware components the file
// brings against those on the target.

#include <cstdint>
#include <string>
#include <vector>

#include "image/memory_image.h"
#include "image/memory_range.h"
#include "image/target_memory.h"
#include "link/loader_checksum.h"
#include "target/scan.h"
#include "update/update_procedure.h"

namespace vok {

// The components of a firmware file held in image, listed as the scan of
// the target lists them. A stamp holds when the algorithm given (the
// loader's) computes it over the data, or without one, any algorithm of the
// catalogue. 0 with found filled, 1 when the user asked to stop.
int ScanFileComponents(MemoryImage& image, const Checksum16* algorithm, UserInterface& ui,
                       std::vector<ScannedComponent>& found);

enum class VersionChange { kNew, kUnchanged, kNewer, kOlder };
// "new", "unchanged", "newer", "older" (than on the target).
const char* VersionChangeName(VersionChange change);

struct ComponentChange {
  ScannedComponent file;      // as the file holds it
  bool on_target = false;     // a header of the same name at the same place
  uint8_t target_version[3] = {0, 0, 0};
  VersionChange change = VersionChange::kNew;
};

// Each file component against the target's header at its place. 0, or the
// negative code of the read that failed.
int CompareComponents(const TargetReader& read, const std::vector<ScannedComponent>& file,
                      std::vector<ComponentChange>& changes);

// The warning lines of the components that would go back to an older
// version; empty when none would.
std::vector<std::string> DowngradeWarnings(const std::vector<ComponentChange>& changes);

struct SectorPlan {
  uint32_t start = 0;
  uint32_t length = 0;
  bool unchanged = false;       // neither read, erased nor programmed
  uint64_t kept = 0;            // bytes of the sector read and programmed back
  uint64_t programmed = 0;      // bytes of the file in it
};

struct UpdatePlan {
  bool compared = false;  // a CRC identified, so that unchanged memory could be found
  std::vector<SectorPlan> sectors;
  uint64_t ram_bytes = 0, ram_programmed = 0;
  uint32_t rate = 0;      // the negotiated rate
  double seconds = 0;     // the estimated time of the update at that rate
  std::vector<ComponentChange> components;
};

// "update --dry-run": connects, loads the file, compares and plans as
// RunUpdate would (options.skip_unchanged, the file options), reads the
// target's component headers, and disconnects. Sends no erase or program
// command and writes no command file. 1 with plan filled, 0 after the
// reason has been shown.
int PlanUpdateDryRun(UpdateContext& context, const UpdateFields& fields,
                     const UpdateOptions& options, UpdatePlan& plan);

}  // namespace vok
