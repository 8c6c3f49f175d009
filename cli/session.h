#pragma once

#include "app/settings.h"
#include "link/loader_link.h"

namespace vok::cli {

// Everything a command works with, made once from the command line and the
// settings file. The settings file is only read: the port dialog is never
// shown and nothing is saved on exit.
struct Session {
  AppPaths paths;
  int port = 0;
  int rate = 0;
  LoaderLink link;
};

}  // namespace vok::cli
