#pragma once

#include "app/settings.h"
#include "app/user_interface.h"
#include "link/loader_link.h"

namespace vok {

struct ExecuteOptions {
  // Read every record back after programming, and every other byte of the
  // erased sectors as 0xFF, before the files are removed.
  bool verify = false;
};

// Carries the command file out over the open link: erases every listed
// sector, then programs every record. On success deletes the command file,
// then the marker, and gives 1; after any failure both files stay for a
// resumption and the result is 0. progress may be null.
int ExecuteUpdateCommandFile(LoaderLink& link, const AppPaths& paths, UserInterface& ui,
                             LogList& log, ProgressBar* progress,
                             const ExecuteOptions& options = {});

}  // namespace vok
