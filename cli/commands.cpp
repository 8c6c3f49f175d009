#include "cli/commands.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <optional>
#include <system_error>
#include <vector>

#include "app/app_folder.h"
#include "backup/backup_procedure.h"
#include "cli/cli_app.h"
#include "cli/stop_signal.h"
#include "image/file.h"
#include "image/firmware_format.h"
#include "image/memory_image.h"
#include "image/update_file.h"
#include "link/loader_commands.h"
#include "target/connect.h"
#include "target/scan.h"
#include "update/update_log.h"
#include "update/update_plan.h"
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

std::string VersionText(const uint8_t* v) {
  return std::to_string(v[0]) + "." + std::to_string(v[1]) + "." + std::to_string(v[2]);
}

// Asks the loader for its version right after connecting, for the result
// (and a production record): the update and verify windows never need it.
std::function<void(LoaderLink&)> RecordLoaderVersion(JsonObject& found) {
  return [&found](LoaderLink& link) {
    uint8_t v[3];
    if (GetLoaderVersion(link, v[0], v[1], v[2]) == 0) found.Add("loader_version", VersionText(v));
  };
}

// The scan as the JSON result gives it.
JsonObject InfoFound(const ComponentScan& scan) {
  auto version = [](const uint8_t* v) { return VersionText(v); };
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

std::string Hex32(uint32_t v) {
  char b[16];
  std::snprintf(b, sizeof b, "0x%08X", static_cast<unsigned>(v));
  return b;
}

std::string VersionOf(const uint8_t v[3]) {
  return std::to_string(v[0]) + "." + std::to_string(v[1]) + "." + std::to_string(v[2]);
}

// "update --dry-run": the plan's lines and its JSON result.
int ShowDryRun(const UpdatePlan& plan, bool skip, Report& report, JsonObject& found) {
  if (skip && !plan.compared)
    report.Data("No CRC known for the loader's checksum: every touched sector would be erased");
  JsonArray sectors;
  for (const SectorPlan& p : plan.sectors) {
    report.Data("Sector " + Hex32(p.start) + " (" + std::to_string(p.length / 1024) + " KiB): " +
                (p.unchanged ? std::string("unchanged")
                             : "erased, " + std::to_string(p.kept) + " bytes kept, " +
                                   std::to_string(p.programmed) + " bytes programmed"));
    JsonObject o;
    o.AddNumber("start", p.start).AddNumber("length", p.length).AddBool("unchanged", p.unchanged);
    o.AddNumber("kept", static_cast<int64_t>(p.unchanged ? 0 : p.kept));
    o.AddNumber("programmed", static_cast<int64_t>(p.unchanged ? 0 : p.programmed));
    sectors.AddJson(o.Text());
  }
  if (plan.ram_bytes > 0)
    report.Data("RAM: " + std::to_string(plan.ram_programmed) + " of " +
                std::to_string(plan.ram_bytes) + " bytes programmed");
  char estimate[96];
  std::snprintf(estimate, sizeof estimate, "Estimated time at %u Bd: %.1f s",
                static_cast<unsigned>(plan.rate), plan.seconds);
  report.Data(estimate);
  JsonArray components;
  for (const ComponentChange& c : plan.components) {
    const std::string in_file = "V" + VersionOf(c.file.header.version);
    report.Data(c.file.header.name + ": " +
                (c.on_target ? "V" + VersionOf(c.target_version) + " on the target"
                             : std::string("not on the target")) +
                ", " + in_file + " in the file: " + VersionChangeName(c.change));
    JsonObject o;
    o.Add("name", c.file.header.name).AddNumber("type", c.file.header.type);
    o.AddNumber("address", c.file.address);
    if (c.on_target) o.Add("target_version", VersionOf(c.target_version));
    else o.AddNull("target_version");
    o.Add("file_version", VersionOf(c.file.header.version)).Add("change", VersionChangeName(c.change));
    components.AddJson(o.Text());
  }
  found.AddBool("dry_run", true).AddBool("compared", plan.compared);
  found.AddJson("sectors", sectors.Text());
  found.AddNumber("ram_bytes", static_cast<int64_t>(plan.ram_bytes))
      .AddNumber("ram_programmed", static_cast<int64_t>(plan.ram_programmed));
  found.AddNumber("rate", plan.rate).AddNumber("estimated_ms", static_cast<int64_t>(plan.seconds * 1000));
  found.AddJson("components", components.Text());
  return kExitSuccess;
}

}  // namespace

int RunInfoFileCommand(const CommandLine& line, Session& s, Report& report, CliUi& ui,
                       JsonObject& found) {
  const std::string file = FullPath(line.file);
  if (!CheckFirmwareFile(line.file, file, line.base, report)) return kExitFailure;
  found.Add("file", file);
  MemoryImage image;
  image.Open(0, s.paths.UpdateDir());
  MemoryRangeList ranges;
  UpdateFileOptions options;
  options.raw_base = line.base;
  ComponentScan scan;
  if (LoadUpdateFile(file, image, ranges, ui, options) != 1 ||
      ScanFileComponents(image, nullptr, ui, scan.components) != 0)
    return kExitFailure;
  const std::string listing = ComponentListing(scan);
  if (listing.empty()) {
    report.Message(kNoTargetInformation, Level::kError);
    return kExitFailure;
  }
  for (const std::string& l : ListingLines(listing)) report.Data(l);
  found.Merge(InfoFound(scan));
  return kExitSuccess;
}

int RunInfoCommand(Session& s, Report& report, CliUi& ui, JsonObject& found) {
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

int RunStartCommand(Session& s, CliUi& ui) {
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

int RunUpdateCommand(const CommandLine& line, Session& s, Report& report, CliUi& ui,
                     JsonObject& found) {
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
  if (!file.empty()) ChooseUpdateFile(context, fields);
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
  options.skip_unchanged = !line.all_sectors;
  options.on_connected = RecordLoaderVersion(found);
  if (line.dry_run) {
    UpdatePlan plan;
    if (PlanUpdateDryRun(context, fields, options, plan) != 1) return kExitFailure;
    return ShowDryRun(plan, options.skip_unchanged, report, found);
  }
  UpdateSummary summary;
  options.summary = &summary;
  const int updated = RunUpdate(context, fields, options);
  found.AddNumber("sectors_erased", summary.sectors_erased)
      .AddNumber("sectors_unchanged", summary.sectors_unchanged)
      .AddNumber("bytes_programmed", static_cast<int64_t>(summary.bytes_programmed));
  return updated ? kExitSuccess : kExitFailure;
}

int RunVerifyCommand(const CommandLine& line, Session& s, Report& report, CliUi& ui,
                     JsonObject& found) {
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
  options.on_connected = RecordLoaderVersion(found);
  std::vector<MemoryDifference> differences;
  const bool compared = VerifyTargetAgainstFile(context, file, s.port, s.rate, options, differences) == 1;
  JsonArray ranges;
  for (const MemoryDifference& d : differences)
    ranges.AddJson(JsonObject().AddNumber("first", d.first).AddNumber("last", d.last).Text());
  found.Add("file", file).AddJson("differing_ranges", ranges.Text());
  return compared && differences.empty() ? kExitSuccess : kExitFailure;
}

int RunBackupCommand(const CommandLine& line, Session& s, Report& report, CliUi& ui,
                     JsonObject& found) {
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
  return RunBackup(context, fields) ? kExitSuccess : kExitFailure;
}

int RunPortsCommand(Session& s, Report& report, JsonObject& found) {
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
