#include "cli/cli_app.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
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
#include "backup/backup_procedure.h"
#include "cli/stop_signal.h"
#include "image/file.h"
#include "image/firmware_format.h"
#include "link/loader_commands.h"
#include "target/connect.h"
#include "target/scan.h"
#include "update/update_log.h"
#include "update/update_procedure.h"
#include "update/verify_procedure.h"

namespace vok::cli {

namespace fs = std::filesystem;

namespace {

constexpr const char* kNoTargetInformation = "*** no target information found ***";

// Everything a command works with, made once from the command line and the
// settings file. The settings file is only read: the port dialog is never
// shown and nothing is saved on exit.
struct Session {
  AppPaths paths;
  int port = 0;
  int rate = 0;
  LoaderLink link;
};

// The path as the open-file dialog would hand it over: full.
std::string FullPath(const std::string& file) {
  std::error_code ec;
  fs::path p = fs::absolute(file, ec);
  return ec ? file : p.lexically_normal().string();
}

class ElapsedTime {
 public:
  explicit ElapsedTime(Report& report) : report_(report), start_(std::chrono::steady_clock::now()) {}
  ~ElapsedTime() {
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                  std::chrono::steady_clock::now() - start_)
                  .count();
    report_.Elapsed(static_cast<uint64_t>(ms));
  }

 private:
  Report& report_;
  std::chrono::steady_clock::time_point start_;
};

// A file the update or the comparison can read, in a format it knows,
// checked before the target is touched. 1, or 0 after saying why.
int CheckFirmwareFile(const std::string& named, const std::string& path,
                      const std::optional<uint32_t>& base, Report& report) {
  try {
    File file;
    file.Open(path, FileMode::kRead);
    file.Abort();
  } catch (const FileException& e) {
    const std::string reason = e.Error() != 0 ? std::strerror(e.Error()) : "cannot be read";
    report.Message("Cannot open update file " + named + ": " + reason, Level::kError);
    return 0;
  }
  const FirmwareFormat format = DetectFirmwareFormat(path);
  if (base && format != FirmwareFormat::kOther && format != FirmwareFormat::kEmpty) {
    report.Message(named + " holds " + FirmwareFormatName(format) +
                       ", not a raw binary: --base is for raw binaries only",
                   Level::kError);
    return 0;
  }
  if (!base && format == FirmwareFormat::kOther) {
    report.Message("Update file format error: " + named +
                       " holds no S-records, Intel HEX or ELF; a raw binary needs --base ADDR",
                   Level::kError);
    return 0;
  }
  return 1;
}

// The scan as the JSON result gives it.
JsonObject InfoFound(const ComponentScan& scan) {
  auto version = [](const uint8_t* v) {
    return std::to_string(v[0]) + "." + std::to_string(v[1]) + "." + std::to_string(v[2]);
  };
  JsonObject found;
  if (scan.loader_version_known) {
    found.Add("loader_version", version(scan.loader_version));
  } else {
    found.AddNull("loader_version");
  }
  JsonArray components;
  for (const ScannedComponent& c : scan.components) {
    const ComponentHeader& h = c.header;
    JsonObject o;
    o.Add("name", h.name).AddNumber("type", h.type).AddNumber("address", c.address);
    if (h.IsTextComponent()) {
      o.AddNull("version").AddBool("checksum_ok", c.checksum_ok);
      // Read only when the checksum holds.
      if (c.checksum_ok) {
        o.Add("text", c.text);
      } else {
        o.AddNull("text");
      }
    } else {
      o.Add("version", version(h.version)).AddBool("checksum_ok", c.checksum_ok);
    }
    components.AddJson(o.Text());
  }
  found.AddJson("components", components.Text());
  return found;
}

int RunInfo(Session& s, Report& report, CliUi& ui, JsonObject& found) {
  CliStatus status(report);
  ComponentScan scan;
  bool scanned = false;
  if (ConnectTarget(s.link, s.paths, ui, s.port, s.rate, &status, 1)) {
    scanned = ScanComponentList(s.link, ui, &status, scan) == 1;
  }
  DisconnectTarget(s.link);
  const std::string listing = scanned ? ComponentListing(scan) : std::string();
  if (listing.empty()) {
    ui.TellPortFailure();
    report.Message(kNoTargetInformation, Level::kError);
    return kExitFailure;
  }
  for (const std::string& line : ListingLines(listing)) report.Data(line);
  found = InfoFound(scan);
  return kExitSuccess;
}

int RunStart(Session& s, CliUi& ui) {
  if (!ConnectTarget(s.link, s.paths, ui, s.port, s.rate, nullptr, 0)) {
    // The link may be left open.
    DisconnectTarget(s.link);
    // A port that could not be opened says so; otherwise the loader was
    // silent, which the window puts down to a running application.
    if (!ui.TellPortFailure())
      ui.ShowMessage("Vok is already started", Buttons::Ok, Icon::Warning, kAppTitle);
    return kExitFailure;
  }
  // The window shows nothing either way; a script still learns of a start
  // command that was not acknowledged.
  return StartTargetApplication(s.link) < 0 ? kExitFailure : kExitSuccess;
}

int RunUpdate(const CommandLine& line, Session& s, Report& report, CliUi& ui, JsonObject& found) {
  bool pending = UpdatePending(s.paths) != 0;
  bool resume = line.command == Command::Resume;
  if (resume && !pending) {
    report.Message("No interrupted update is pending.", Level::kError);
    return kExitFailure;
  }
  if (!resume && pending && !line.fresh) {
    report.Message("Last update was aborted during critical action!", Level::kWarning);
    report.Message("Use 'resume' to carry the pending update out again, or 'update --fresh FILE' to "
                   "update from FILE instead; what the interrupted update kept is carried over.",
                   Level::kInfo);
    return kExitUpdatePending;
  }
  std::string file = resume ? std::string() : FullPath(line.file);
  // Checked before the target is touched. With an interrupted update
  // pending, a mistyped name leaves it as it is.
  if (!resume && !CheckFirmwareFile(line.file, file, line.base, report)) return kExitFailure;
  if (!resume) found.Add("file", file);

  // Retry for resume; Cancel (a fresh run that carries the interrupted
  // update's plan along) for --fresh. A plain update only gets here without
  // a marker; should one appear meanwhile, carrying its command file out is
  // the safe answer.
  ui.SetRetryCancel(line.fresh ? Answer::Cancel : Answer::Retry);
  ui.SetChosenFile(file);
  CliLog log(report);
  CliProgress progress(report);
  report.SetLineRate([&s] { return s.link.IsOpen() ? s.link.Port().Baud() : 0u; });
  ElapsedTime elapsed(report);

  UpdateDescription description;
  UpdateContext context{s.link, s.paths, ui, log, progress, description};
  UpdateFields fields;
  fields.port = s.port;
  fields.baud_rate = s.rate;
  // As "Browse..." would have done it: the description of the chosen file
  // in the log, then "Update" with that name.
  if (!file.empty()) OnUpdateBrowse(context, fields);
  UpdateOptions options;
  options.check = line.verify      ? ProgramCheck::kReadBack
                  : line.no_verify ? ProgramCheck::kNone
                                   : ProgramCheck::kChecksum;
  options.check_erased = !line.no_erased_check;
  // The temporary image beside the other update files rather than in
  // whatever folder a script runs from: that may be unwritable, or shared by
  // runs for other stations.
  options.image_folder = s.paths.UpdateDir();
  options.file.raw_base = line.base;
  return OnUpdate(context, fields, options) ? kExitSuccess : kExitFailure;
}

int RunVerify(const CommandLine& line, Session& s, Report& report, CliUi& ui, JsonObject& found) {
  const std::string file = FullPath(line.file);
  if (!CheckFirmwareFile(line.file, file, line.base, report)) return kExitFailure;
  CliLog log(report);
  CliProgress progress(report);
  report.SetLineRate([&s] { return s.link.IsOpen() ? s.link.Port().Baud() : 0u; });
  ElapsedTime elapsed(report);
  VerifyContext context{s.link, s.paths, ui, log, progress};
  VerifyOptions options;
  options.image_folder = s.paths.UpdateDir();
  options.file.raw_base = line.base;
  std::vector<MemoryDifference> differences;
  const bool compared = VerifyTargetAgainstFile(context, file, s.port, s.rate, options, differences) == 1;
  JsonArray ranges;
  for (const MemoryDifference& d : differences)
    ranges.AddJson(JsonObject().AddNumber("first", d.first).AddNumber("last", d.last).Text());
  found.Add("file", file).AddJson("differing_ranges", ranges.Text());
  return compared && differences.empty() ? kExitSuccess : kExitFailure;
}

int RunBackup(const CommandLine& line, Session& s, Report& report, CliUi& ui, JsonObject& found) {
  CliLog log(report);
  CliProgress progress(report);
  report.SetLineRate([&s] { return s.link.IsOpen() ? s.link.Port().Baud() : 0u; });
  std::time_t now = std::time(nullptr);
  BackupFields fields;
  fields.port = s.port;
  fields.baud_rate = s.rate;
  fields.file_name =
      line.file.empty() ? DefaultBackupFileName(s.paths, now) : FullPath(line.file);
  found.Add("file", fields.file_name);
  ElapsedTime elapsed(report);
  BackupContext context{s.link, s.paths, ui, log, progress};
  return OnBackup(context, fields) ? kExitSuccess : kExitFailure;
}

int RunPorts(Session& s, Report& report, JsonObject& found) {
  for (const std::string& l : PortListing(s.link, "/dev")) report.Data(l);
  report.Data("");
  report.Data("Application folder: " + s.paths.folder);
  JsonObject ports;
  for (int i = 1; i <= 4; ++i) {
    const std::string name = "COM" + std::to_string(i);
    ports.Add(name, s.link.DeviceFor(name));
  }
  JsonArray devices;
  for (const std::string& d : SerialDevices("/dev")) devices.AddJson(JsonString(d));
  found.AddJson("ports", ports.Text()).AddJson("devices", devices.Text());
  found.Add("folder", s.paths.folder);
  return kExitSuccess;
}

// A command that a signal stopped at its safe point ends with the status
// that names the signal; one that had finished all the same keeps its own.
int AfterStop(Report& report, int status, const AppPaths& paths) {
  const int stop = StopStatus();
  if (stop == 0 || status == kExitSuccess) return status;
  report.Message("stopped before the command was complete", Level::kError);
  if (UpdatePending(paths))
    report.Message("The interrupted update is kept; 'resume' carries it out.", Level::kInfo);
  return stop;
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
