#include "cli/session.h"

#include <filesystem>
#include <system_error>
#include <utility>

#include "cli/cli_ui.h"

namespace vok::cli {

namespace fs = std::filesystem;

int OpenSession(const CommandLine& line, Report& report, const std::string& default_folder,
                Session& s) {
  std::string folder = line.folder ? FolderWithSeparator(*line.folder) : default_folder;
  std::error_code ec;
  // A folder named on the command line must exist; the default one is made
  // on first use by CreateWorkFolders.
  if (line.folder && !fs::is_directory(folder, ec)) {
    report.Message("no such folder: " + folder, Level::kError);
    return kExitUsage;
  }
  s.paths = AppPaths{folder};
  // Held to the end of the run, before anything of the folder is touched or
  // the port opened. Listing the ports needs neither.
  if (line.command != Command::Ports) {
    CliUi lock_ui(report, false, Answer::Cancel, nullptr, 0);
    if (!LockApplicationFolder(s.lock, s.paths, lock_ui)) return kExitFailure;
  }
  Settings settings = LoadSettings(s.paths);
  CreateWorkFolders(s.paths);
  PortTable table = LoadPortTable(s.paths);
  s.port = settings.port_index;
  if (line.port && !ResolvePort(*line.port, table, s.port)) {
    report.Message("--port takes COM1 to COM4 or a device path", Level::kError);
    return kExitUsage;
  }
  s.configured_ports = table;
  s.serial_ports = SerialPorts();
  s.link.SetPortTable(WithComDefaults(std::move(table), s.serial_ports));
  s.rate = line.baud.value_or(settings.baud_rate);
  return kExitSuccess;
}

}  // namespace vok::cli
