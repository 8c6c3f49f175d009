#include "cli/cli_app.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <system_error>
#include <tuple>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#endif

#include "app/settings.h"
#include "backup/backup_procedure.h"
#include "link/loader_commands.h"
#include "target/connect.h"
#include "target/scan.h"
#include "update/update_log.h"
#include "update/update_procedure.h"

namespace vok::cli {

namespace fs = std::filesystem;

namespace {

constexpr const char* kNoTargetInformation = "*** no target information found ***";

// Everything a command works with, made once from the command line and the
// settings file. The settings file is only read: the port dialog is always
// cancelled and nothing is saved on exit.
struct Session {
  AppPaths paths;
  int port = 0;
  int rate = 0;
  LoaderLink link;
};

void PrintText(Console& console, const std::string& text) {
  for (const std::string& line : ListingLines(text)) console.Out(line);
}

// The path as the open-file dialog would hand it over: full.
std::string FullPath(const std::string& file) {
  std::error_code ec;
  fs::path p = fs::absolute(file, ec);
  return ec ? file : p.lexically_normal().string();
}

bool Exists(const std::string& path) {
  std::error_code ec;
  return fs::exists(path, ec);
}

class ElapsedTime {
 public:
  ElapsedTime(Console& console, bool shown)
      : console_(console), shown_(shown), start_(std::chrono::steady_clock::now()) {}
  ~ElapsedTime() {
    if (!shown_) return;
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                  std::chrono::steady_clock::now() - start_)
                  .count();
    console_.Err(FormatElapsed(static_cast<uint64_t>(ms)));
  }

 private:
  Console& console_;
  bool shown_;
  std::chrono::steady_clock::time_point start_;
};

int RunInfo(Session& s, Console& console) {
  TerminalUi ui(console, Answer::No, Answer::Cancel);
  TerminalStatus status(console);
  std::string listing;
  if (ConnectTarget(s.link, s.paths, ui, s.port, s.rate, &status, 1)) {
    listing = ScanComponents(s.link, ui, &status);
  }
  DisconnectTarget(s.link);
  if (listing.empty()) {
    console.Out(kNoTargetInformation);
    return kExitFailure;
  }
  PrintText(console, listing);
  return kExitSuccess;
}

int RunStart(Session& s, Console& console) {
  TerminalUi ui(console, Answer::No, Answer::Cancel);
  if (!ConnectTarget(s.link, s.paths, ui, s.port, s.rate, nullptr, 0)) {
    // Stands for every way of not connecting; the link may be left open.
    DisconnectTarget(s.link);
    ui.ShowMessage("Vok is already started", Buttons::Ok, Icon::Warning, kAppTitle);
    return kExitFailure;
  }
  // The window shows nothing either way; a script still learns of a start
  // command that was not acknowledged.
  return StartTargetApplication(s.link) < 0 ? kExitFailure : kExitSuccess;
}

int RunUpdate(const CommandLine& line, Session& s, Console& console) {
  bool pending = UpdatePending(s.paths) != 0;
  bool resume = line.command == Command::Resume;
  if (resume && !pending) {
    console.Err("No interrupted update is pending.");
    return kExitFailure;
  }
  if (!resume && pending && !line.fresh) {
    console.Err("Last update was aborted during critical action!");
    console.Err("Use 'resume' to carry the pending update out again, or 'update --fresh FILE' to discard it.");
    return kExitUpdatePending;
  }
  std::string file = resume ? std::string() : FullPath(line.file);
  if (pending && line.fresh && !Exists(file)) {
    // The command file is the only way to finish the interrupted update;
    // a mistyped name must not cost it.
    TerminalUi ui(console, Answer::No, Answer::Cancel);
    ui.ShowMessage("Enter valid update file name", Buttons::Ok, Icon::Exclamation, kAppTitle);
    return kExitFailure;
  }
  // Retry for resume; Cancel (discard, then a fresh run) for --fresh. A plain
  // update only gets here without a marker; should one appear meanwhile,
  // carrying its command file out is the safe answer.
  Answer resume_answer = line.fresh ? Answer::Cancel : Answer::Retry;
  TerminalUi ui(console, Answer::No, resume_answer, Exists(file) ? file : std::string());
  TerminalLog log(console);
  TerminalProgress progress(console, !line.no_progress,
                            [&s] { return s.link.IsOpen() ? s.link.Port().Baud() : 0u; });
  ElapsedTime elapsed(console, console.ErrIsTty() && !line.no_progress);

  UpdateDescription description;
  UpdateContext context{s.link, s.paths, ui, log, progress, description};
  UpdateFields fields;
  fields.port = s.port;
  fields.baud_rate = s.rate;
  // As "Browse..." would have done it: the description of the chosen file
  // in the log, then "Update" with that name. A name that does not exist is
  // left typed, and "Update" refuses it in its own words.
  if (!file.empty() && Exists(file)) {
    OnUpdateBrowse(context, fields);
  } else {
    fields.file_name = file;
  }
  UpdateOptions options;
  options.check = line.verify      ? ProgramCheck::kReadBack
                  : line.no_verify ? ProgramCheck::kNone
                                   : ProgramCheck::kChecksum;
  // The temporary image beside the other update files rather than in
  // whatever folder a script runs from: that may be unwritable, or shared by
  // runs for other stations.
  options.image_folder = s.paths.UpdateDir();
  return OnUpdate(context, fields, options) ? kExitSuccess : kExitFailure;
}

int RunBackup(const CommandLine& line, Session& s, Console& console) {
  TerminalUi ui(console, line.yes ? Answer::Yes : Answer::No, Answer::Cancel);
  TerminalLog log(console);
  TerminalProgress progress(console, !line.no_progress,
                            [&s] { return s.link.IsOpen() ? s.link.Port().Baud() : 0u; });
  std::time_t now = std::time(nullptr);
  BackupFields fields;
  fields.port = s.port;
  fields.baud_rate = s.rate;
  fields.file_name =
      line.file.empty() ? DefaultBackupFileName(s.paths, now) : FullPath(line.file);
  ElapsedTime elapsed(console, console.ErrIsTty() && !line.no_progress);
  BackupContext context{s.link, s.paths, ui, log, progress};
  return OnBackup(context, fields) ? kExitSuccess : kExitFailure;
}

int RunPorts(Session& s, Console& console) {
  for (const std::string& l : PortListing(s.link, "/dev")) console.Out(l);
  return kExitSuccess;
}

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

std::vector<std::string> PortListing(const LoaderLink& link, const std::string& dev_root) {
  std::vector<std::string> lines;
  for (int i = 1; i <= 4; ++i) {
    std::string name = "COM" + std::to_string(i);
    std::string device = link.DeviceFor(name);
    lines.push_back(name + "=" + device);
  }
  lines.push_back("");
  lines.push_back("Serial devices of this system:");
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
  if (found.empty()) found.push_back("(none found)");
  for (const std::string& f : found) lines.push_back("  " + f);
  return lines;
}

int RunCommand(const CommandLine& line, Console& console, const std::string& default_folder) {
  if (line.command == Command::Help) {
    PrintText(console, UsageText());
    return kExitSuccess;
  }
  if (line.command == Command::Version) {
    PrintText(console, VersionText());
    return kExitSuccess;
  }
  std::string folder = line.folder ? FolderWithSeparator(*line.folder) : default_folder;
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) {
    console.Err("vokloader-cli: no such folder: " + folder);
    return kExitUsage;
  }
  Session s{AppPaths{folder}, 0, 0, LoaderLink()};
  Settings settings = LoadSettings(s.paths);
  CreateWorkFolders(s.paths);
  PortTable table = LoadPortTable(s.paths);
  s.port = settings.port_index;
  if (line.port && !ResolvePort(*line.port, table, s.port)) {
    console.Err("vokloader-cli: --port takes COM1 to COM4 or a device path");
    return kExitUsage;
  }
  s.link.SetPortTable(std::move(table));
  s.rate = line.baud.value_or(settings.baud_rate);

  switch (line.command) {
    case Command::Info:
      return RunInfo(s, console);
    case Command::Start:
      return RunStart(s, console);
    case Command::Update:
    case Command::Resume:
      return RunUpdate(line, s, console);
    case Command::Backup:
      return RunBackup(line, s, console);
    case Command::Ports:
      return RunPorts(s, console);
    case Command::Help:
    case Command::Version:
      break;
  }
  return kExitSuccess;
}

int RunProgram(const std::vector<std::string>& args, Console& console,
               const std::string& default_folder) {
  CommandLine line;
  std::string error;
  if (!ParseCommandLine(args, line, error)) {
    console.Err("vokloader-cli: " + error);
    console.Err("Try 'vokloader-cli --help'.");
    return kExitUsage;
  }
  return RunCommand(line, console, default_folder);
}

}  // namespace vok::cli
