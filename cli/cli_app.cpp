#include "cli/cli_app.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <system_error>
#include <tuple>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#endif

#include "app/folder_lock.h"
#include "app/settings.h"
#include "cli/commands.h"
#include "cli/session.h"

namespace vok::cli {

namespace fs = std::filesystem;

namespace {

#ifndef _WIN32
// "ttyS10" after "ttyS9".
bool DeviceOrder(const std::string& a, const std::string& b) {
  auto split = [](const std::string& n) {
    size_t d = n.size();
    while (d > 0 && n[d - 1] >= '0' && n[d - 1] <= '9') --d;
    unsigned long number = d < n.size() ? std::strtoul(n.c_str() + d, nullptr, 10) : 0;
    return std::make_tuple(n.substr(0, d), number, n);
  };
  return split(a) < split(b);
}

bool IsSerialName(const std::string& name) {
  for (const char* prefix : {"ttyS", "ttyUSB", "ttyACM"}) {
    std::string p = prefix;
    if (name.size() > p.size() && name.compare(0, p.size(), p) == 0 &&
        std::all_of(name.begin() + p.size(), name.end(),
                    [](char c) { return c >= '0' && c <= '9'; })) {
      return true;
    }
  }
  return false;
}
#endif

}  // namespace

std::vector<std::string> ListingLines(const std::string& listing) {
  std::vector<std::string> lines;
  size_t begin = 0;
  while (begin < listing.size()) {
    size_t end = listing.find('\n', begin);
    if (end == std::string::npos) end = listing.size();
    size_t stop = end;
    if (stop > begin && listing[stop - 1] == '\r') --stop;
    lines.push_back(listing.substr(begin, stop - begin));
    begin = end + 1;
  }
  return lines;
}

std::vector<std::string> SerialDevices(const std::string& dev_root) {
  std::vector<std::string> found;
#ifdef _WIN32
  // The system's own COM names, with the device each stands for.
  (void)dev_root;
  for (int n = 1; n <= 256; ++n) {
    std::string name = "COM" + std::to_string(n);
    char target[1024];
    if (::QueryDosDeviceA(name.c_str(), target, sizeof target) != 0)
      found.push_back("\\\\.\\" + name + " -> " + target);
  }
#else
  std::error_code ec;
  // Stable names first: they survive replugging, so they belong in [Ports].
  std::vector<std::string> by_id;
  fs::path id_dir = fs::path(dev_root) / "serial" / "by-id";
  for (auto it = fs::directory_iterator(id_dir, ec); !ec && it != fs::directory_iterator();
       it.increment(ec)) {
    by_id.push_back(it->path().filename().string());
  }
  std::sort(by_id.begin(), by_id.end());
  for (const std::string& name : by_id) {
    fs::path p = id_dir / name;
    std::error_code ec2;
    fs::path target = fs::canonical(p, ec2);
    found.push_back(p.string() + (ec2 ? std::string() : " -> " + target.string()));
  }
  std::vector<std::string> ttys;
  ec.clear();
  for (auto it = fs::directory_iterator(dev_root, ec); !ec && it != fs::directory_iterator();
       it.increment(ec)) {
    std::string name = it->path().filename().string();
    if (IsSerialName(name)) ttys.push_back(name);
  }
  std::sort(ttys.begin(), ttys.end(), DeviceOrder);
  for (const std::string& name : ttys) found.push_back((fs::path(dev_root) / name).string());
#endif
  return found;
}

std::vector<std::string> PortListing(const LoaderLink& link, const std::string& dev_root) {
  std::vector<std::string> lines;
  for (int i = 1; i <= 4; ++i) {
    std::string name = "COM" + std::to_string(i);
    std::string device = link.DeviceFor(name);
    lines.push_back(name + "=" + device);
  }
  lines.push_back("");
  lines.push_back("Serial devices of this system:");
  std::vector<std::string> found = SerialDevices(dev_root);
  if (found.empty()) found.push_back("(none found)");
  for (const std::string& f : found) lines.push_back("  " + f);
  return lines;
}

int RunCommand(const CommandLine& line, Report& report, const std::string& default_folder) {
  if (line.command == Command::Help || line.command == Command::Version) {
    const std::string text = line.command == Command::Help ? UsageText() : VersionText();
    for (const std::string& l : ListingLines(text)) report.Data(l);
    return kExitSuccess;
  }
  std::string folder = line.folder ? FolderWithSeparator(*line.folder) : default_folder;
  std::error_code ec;
  // A folder named on the command line must exist; the default one is made
  // on first use by CreateWorkFolders.
  if (line.folder && !fs::is_directory(folder, ec)) {
    report.Message("no such folder: " + folder, Level::kError);
    return kExitUsage;
  }
  Session s{AppPaths{folder}, 0, 0, LoaderLink()};
  // Held to the end of the run, before anything of the folder is touched or
  // the port opened. Listing the ports needs neither.
  FolderLock lock;
  if (line.command != Command::Ports) {
    CliUi lock_ui(report, false, Answer::Cancel, nullptr, 0);
    if (!LockApplicationFolder(lock, s.paths, lock_ui)) {
      report.Finish(CommandName(line.command), kExitFailure, JsonObject());
      return kExitFailure;
    }
  }
  Settings settings = LoadSettings(s.paths);
  CreateWorkFolders(s.paths);
  PortTable table = LoadPortTable(s.paths);
  s.port = settings.port_index;
  if (line.port && !ResolvePort(*line.port, table, s.port)) {
    report.Message("--port takes COM1 to COM4 or a device path", Level::kError);
    return kExitUsage;
  }
  s.link.SetPortTable(std::move(table));
  s.rate = line.baud.value_or(settings.baud_rate);

  CliUi ui(report, line.yes, Answer::Cancel, &s.link, s.port);
  JsonObject found;
  int status = kExitSuccess;
  switch (line.command) {
    case Command::Info:
      status = RunInfo(s, report, ui, found);
      break;
    case Command::Start:
      status = RunStart(s, ui);
      break;
    case Command::Update:
    case Command::Resume:
      status = RunUpdate(line, s, report, ui, found);
      break;
    case Command::Verify:
      status = RunVerify(line, s, report, ui, found);
      break;
    case Command::Backup:
      status = RunBackup(line, s, report, ui, found);
      break;
    case Command::Ports:
      status = RunPorts(s, report, found);
      break;
    case Command::Help:
    case Command::Version:
      break;
  }
  // A device that refused the serial settings is named too, however the
  // procedure reported the failed connection.
  if (status != kExitSuccess) ui.TellPortFailure();
  status = AfterStop(report, status, s.paths);
  report.Finish(CommandName(line.command), status, found);
  return status;
}

int RunProgram(const std::vector<std::string>& args, Console& console,
               const std::string& default_folder, Asker ask) {
  CommandLine line;
  std::string error;
  const bool parsed = ParseCommandLine(args, line, error) == 1;
  std::unique_ptr<Report> report;
  if (parsed ? line.json : WantsJson(args)) {
    report = std::make_unique<JsonReport>(console);
  } else {
    report = std::make_unique<TextReport>(console, !line.no_progress, std::move(ask));
  }
  if (!parsed) {
    report->Message(error, Level::kError);
    report->Message("Try 'vokloader-cli --help'.", Level::kInfo);
    report->Finish("", kExitUsage, JsonObject());
    return kExitUsage;
  }
  return RunCommand(line, *report, default_folder);
}

}  // namespace vok::cli