#pragma once

#include <string>

#include "app/folder_lock.h"
#include "app/settings.h"
#include "cli/command_line.h"
#include "cli/report.h"
#include "link/loader_link.h"
#include "link/port_list.h"

namespace vok::cli {

// Everything a command works with, made once from the command line and the
// settings file. The settings file is only read: the port dialog is never
// shown and nothing is saved on exit.
struct Session {
  AppPaths paths;
  int port = 0;
  int rate = 0;
  LoaderLink link;
  // The port table as the settings and the command line give it, before
  // COM1 to COM4 are filled from the devices present.
  PortTable configured_ports;
  std::vector<SerialPortInfo> serial_ports;
  // Held to the end of the run; released before the link is closed.
  FolderLock lock;
};

// Opens the session of one run: the application folder (default_folder
// unless the command line names one), its lock, the settings and the port
// table, the port and the rate. kExitSuccess, or the exit status of a run
// that ends here after telling why (its result is the caller's).
int OpenSession(const CommandLine& line, Report& report, const std::string& default_folder,
                Session& s);

}  // namespace vok::cli
