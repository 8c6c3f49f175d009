#include "cli/cli_app.h"

#include <memory>
#include <utility>

#include "cli/commands.h"
#include "cli/gang.h"
#include "cli/reply_latency.h"
#include "cli/session.h"

namespace vok::cli {

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

namespace {

std::string Hex4(int v) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (int shift = 12; shift >= 0; shift -= 4) text += kDigits[(v >> shift) & 0xF];
  return text;
}

}  // namespace

std::string DescribePort(const SerialPortInfo& p) {
  std::string text = PortKindName(p.kind);
  if (p.vendor_id >= 0 && p.product_id >= 0) text += " " + Hex4(p.vendor_id) + ":" + Hex4(p.product_id);
  for (const std::string* part : {&p.maker, &p.product}) {
    if (!part->empty()) text += ", " + *part;
  }
  if (!p.serial_number.empty()) text += ", serial number " + p.serial_number;
  // It holds every short reply that long.
  if (p.latency_timer_ms >= 0) text += ", latency timer " + std::to_string(p.latency_timer_ms) + " ms";
  return text;
}

std::vector<std::string> PortListing(const PortTable& configured,
                                     const std::vector<SerialPortInfo>& ports) {
  std::vector<std::string> lines;
  const PortTable table = WithComDefaults(configured, ports);
  // As [Ports] would hold them, so that a line can be copied there.
  for (int i = 1; i <= 4; ++i) {
    const std::string name = "COM" + std::to_string(i);
    lines.push_back(name + "=" + table.at(name));
  }
  lines.push_back("");
  lines.push_back("Serial devices of this system:");
  if (ports.empty()) lines.push_back("  (none found)");
  for (const SerialPortInfo& p : ports) {
    std::string names;
    for (int i = 1; i <= 4; ++i) {
      const std::string name = "COM" + std::to_string(i);
      if (FindSerialPort({p}, table.at(name)) == nullptr) continue;
      names += (names.empty() ? " (" : ", ") + name;
      if (configured.count(name) == 0) names += " by default";
    }
    if (!names.empty()) names += ")";
    lines.push_back("  " + (p.com_name.empty() ? p.device : p.com_name) + names + ": " + DescribePort(p));
    for (const std::string* name : {&p.stable_name, &p.socket_name}) {
      if (!name->empty()) lines.push_back("    " + *name);
    }
  }
  return lines;
}

int RunCommand(const CommandLine& line, Report& report, const std::string& default_folder) {
  if (line.command == Command::Help || line.command == Command::Version) {
    const std::string text = line.command == Command::Help ? UsageText() : VersionText();
    for (const std::string& l : ListingLines(text)) report.Data(l);
    return kExitSuccess;
  }
  Session s;
  // A script learns of a run that ended here too: the result comes last.
  if (int status = OpenSession(line, report, default_folder, s); status != kExitSuccess) {
    report.Finish(CommandName(line.command), status, JsonObject());
    return status;
  }

  CliUi ui(report, line.yes, Answer::Cancel, &s.link, s.port);
  WatchHeldReplies(s.link, report, s.link.DeviceFor("COM" + std::to_string(s.port + 1)));
  JsonObject found;
  int status = kExitSuccess;
  switch (line.command) {
    case Command::Info:
      status = line.file.empty() ? RunInfoCommand(s, report, ui, found)
                                 : RunInfoFileCommand(line, s, report, ui, found);
      break;
    case Command::Start:
      status = RunStartCommand(s, ui);
      break;
    case Command::Update:
    case Command::Resume:
      status = RunUpdateCommand(line, s, report, ui, found);
      break;
    case Command::Verify:
      status = RunVerifyCommand(line, s, report, ui, found);
      break;
    case Command::Backup:
      status = RunBackupCommand(line, s, report, ui, found);
      break;
    case Command::Ports:
      status = RunPortsCommand(s, report, found);
      break;
    case Command::Help:
    case Command::Version:
      break;
  }
  // What the run cost on the line, for a production record.
  if (line.command != Command::Ports)
    found.AddNumber("line_bytes", static_cast<int64_t>(s.link.Port().LineBytes()));
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
  if (RunsOnSeveralPorts(line)) return RunGang(line, args, console, default_folder);
  return RunCommand(line, *report, default_folder);
}

}  // namespace vok::cli