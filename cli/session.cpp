#include "cli/session.h"

#include <filesystem>
#include <system_error>
#include <utility>

#include "cli/cli_ui.h"
#include "cli/port_probe.h"

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
  s.rate = line.baud.value_or(settings.baud_rate);
  s.serial_ports = SerialPorts();
  if (line.port && *line.port == kPortAuto) {
    // Only the probe goes out, on every adapter at once; the run itself
    // starts on the one port where a controller answered.
    const std::vector<ProbeAnswer> answers = ProbePorts(ProbeCandidates(s.serial_ports), s.rate);
    std::vector<std::string> found;
    for (const ProbeAnswer& a : answers) {
      if (a.answered) found.push_back(a.device);
    }
    if (found.size() != 1) {
      report.Message(found.empty() ? "-p auto: no controller answers on any serial adapter"
                                   : "-p auto: controllers answer on " + std::to_string(found.size()) +
                                         " ports; name the one to use",
                     Level::kError);
      for (const std::string& l : ProbeReport(s.serial_ports, answers)) report.Message(l, Level::kInfo);
      return kExitUsage;
    }
    report.Message("-p auto: a controller answers on " + found[0], Level::kInfo);
    table["COM1"] = found[0];
    s.port = 0;
  } else if (line.port && !ResolvePort(*line.port, table, s.port)) {
    report.Message("--port takes COM1 to COM4 or a device path", Level::kError);
    return kExitUsage;
  }
  s.configured_ports = table;
  s.link.SetPortTable(WithComDefaults(std::move(table), s.serial_ports));
  return kExitSuccess;
}

}  // namespace vok::cli
