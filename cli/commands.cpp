#include "cli/commands.h"

#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <optional>
#include <system_error>
#include <vector>

#include "app/app_folder.h"
#include "backup/backup_procedure.h"
#include "cli/cli_app.h"
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

}  // namespace

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
    // Named, should it be in another folder of this user.
    StopForUpdatePendingElsewhere(OtherApplicationFolders(s.paths.folder), s.paths, ui);
    return kExitFailure;
  }
  if (!resume && pending && !line.fresh) {
    report.Message("Last update was aborted during critical action!", Level::kWarning);
    report.Message("Use 'resume' to carry the pending update out again, or 'update --fresh FILE' to "
                   "update from FILE instead; what the interrupted update kept is carried over.",
                   Level::kInfo);
    return kExitUpdatePending;
  }
  // An update interrupted in another folder (under sudo, or by a copy of
  // the program elsewhere) is carried out there first, unless a fresh run
  // was asked for.
  if (!resume && !pending && !line.fresh &&
      !StopForUpdatePendingElsewhere(OtherApplicationFolders(s.paths.folder), s.paths, ui)
           .empty()) {
    report.Message("Or use 'update --fresh FILE' to update from FILE here all the same.",
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
  for (const std::string& l : PortListing(s.configured_ports, s.serial_ports)) report.Data(l);
  report.Data("");
  report.Data("Application folder: " + s.paths.folder);
  JsonObject ports;
  for (int i = 1; i <= 4; ++i) {
    const std::string name = "COM" + std::to_string(i);
    ports.Add(name, s.link.DeviceFor(name));
  }
  JsonArray devices;
  for (const std::string& d : SerialDevices()) devices.AddJson(JsonString(d));
  JsonArray serial_ports;
  for (const SerialPortInfo& p : s.serial_ports) {
    JsonObject o;
    o.Add("device", p.device).Add("kind", PortKindName(p.kind));
    auto text_or_null = [&o](const char* key, const std::string& text) {
      if (text.empty()) {
        o.AddNull(key);
      } else {
        o.Add(key, text);
      }
    };
    text_or_null("stable_name", p.stable_name);
    text_or_null("socket_name", p.socket_name);
    if (p.vendor_id >= 0) o.AddNumber("vendor_id", p.vendor_id); else o.AddNull("vendor_id");
    if (p.product_id >= 0) o.AddNumber("product_id", p.product_id); else o.AddNull("product_id");
    text_or_null("maker", p.maker);
    text_or_null("product", p.product);
    text_or_null("serial_number", p.serial_number);
    o.Add("identity", PortIdentity(&p, p.device));
    serial_ports.AddJson(o.Text());
  }
  found.AddJson("ports", ports.Text()).AddJson("devices", devices.Text());
  found.AddJson("serial_ports", serial_ports.Text());
  found.Add("folder", s.paths.folder);
  return kExitSuccess;
}

int AfterStop(Report& report, int status, const AppPaths& paths) {
  const int stop = StopStatus();
  if (stop == 0 || status == kExitSuccess) return status;
  report.Message("stopped before the command was complete", Level::kError);
  if (UpdatePending(paths))
    report.Message("The interrupted update is kept; 'resume' carries it out.", Level::kInfo);
  return stop;
}

}  // namespace vok::cli
