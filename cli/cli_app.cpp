#include "cli/cli_app.h"

#include <memory>
#include <utility>

#include "cli/commands.h"
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

std::vector<std::string> PortListing(const LoaderLink& link, const SerialDeviceRoots& roots) {
  std::vector<std::string> lines;
  for (int i = 1; i <= 4; ++i) {
    std::string name = "COM" + std::to_string(i);
    std::string device = link.DeviceFor(name);
    lines.push_back(name + "=" + device);
  }
  lines.push_back("");
  lines.push_back("Serial devices of this system:");
  std::vector<std::string> found = SerialDevices(roots);
  if (found.empty()) found.push_back("(none found)");
  for (const std::string& f : found) {
    // An FTDI adapter's hold of short replies, where sysfs tells it.
    const size_t arrow = f.find(" -> ");
    const int timer = LatencyTimerMs(roots.sysfs, arrow == std::string::npos ? f : f.substr(arrow + 4));
    lines.push_back("  " + f + (timer >= 0 ? "  (latency timer " + std::to_string(timer) + " ms)" : ""));
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