#pragma once

#include "app/settings.h"
#include "app/user_interface.h"
#include "link/loader_checksum.h"
#include "link/loader_link.h"

namespace vok {

// How programmed records are confirmed before the update counts as done.
enum class ProgramCheck {
  kNone,
  // Each run of contiguous records (up to kConfirmSpan bytes) by the loader's
  // checksum of its range; by reading it back while no algorithm is known.
  kChecksum,
  // Every record read back after programming.
  kReadBack,
};

struct ExecuteOptions {
  ProgramCheck check = ProgramCheck::kChecksum;
  // Unless check is kNone, every part of the erased sectors that no record
  // covers is then confirmed erased: by the loader's checksum where it is a
  // CRC (kChecksum), otherwise by reading. Off only to measure its cost.
  bool check_erased = true;
  // The connection's checksum, identified on what the run read before; null:
  // this run identifies it on its own.
  LoaderChecksum* checksum = nullptr;
  // What the run did, counted as the loader acknowledged it; may be null.
  struct Done {
    int sectors_erased = 0;
    uint64_t bytes_programmed = 0;
  }* done = nullptr;
};

// Carries the command file out over the open link: erases every listed
// sector, then programs every record and confirms it as options.check says,
// and the rest of every erased sector as erased flash.
// On success deletes the command file, then the marker, and gives 1; after
// any failure both files stay for a resumption and the result is 0.
// progress may be null.
int ExecuteUpdateCommandFile(LoaderLink& link, const AppPaths& paths, UserInterface& ui,
                             LogList& log, ProgressBar* progress,
                             const ExecuteOptions& options = {});

}  // namespace vok
