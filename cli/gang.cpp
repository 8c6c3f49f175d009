#include "cli/gang.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <system_error>
#include <utility>

#include "cli/child_process.h"
#include "cli/gang_display.h"
#include "cli/json.h"
#include "cli/json_read.h"
#include "cli/port_probe.h"
#include "cli/report.h"
#include "cli/session.h"
#include "cli/sha256.h"
#include "cli/stop_signal.h"
#include "link/port_list.h"
#include "update/update_procedure.h"

namespace vok::cli {

namespace fs = std::filesystem;
using Clock = GangClock;

namespace {

// "2026-12-09 06:30:00", as a spreadsheet reads it.
std::string FormatRecordTime(const std::tm& t) {
  char buf[32] = "";
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &t);
  return buf;
}

// Beneath the application folder: PORTS/<identity>/ for each port.
constexpr const char* kPortsFolder = "PORTS";
constexpr const char* kRecordFile = "PRODUCTION.CSV";
constexpr const char* kRecordHeader =
    "time,port,identity,command,file,sha256,loader_version,result,seconds,line_bytes";

// A word of a command line as a POSIX shell reads it back.
std::string ShellWord(const std::string& word) {
  if (!word.empty() && word.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                              "0123456789-_./:=+,@%") == std::string::npos)
    return word;
  std::string quoted = "'";
  for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string CommandText(const std::vector<std::string>& args) {
  std::string text = "vokloader-cli";
  for (const std::string& a : args) text += " " + ShellWord(a);
  return text;
}

// The child's run: the same command and options on one port, in its folder.
std::vector<std::string> ChildArgs(const CommandLine& line, const GangPort& p, int rate,
                                   const std::string& file) {
  std::vector<std::string> args{"--json", "--folder", p.paths.folder, "--port", p.device,
                                "--baud", std::to_string(rate)};
  if (line.yes) args.push_back("--yes");
  if (line.verify) args.push_back("--verify");
  if (line.no_verify) args.push_back("--no-verify");
  if (line.fresh) args.push_back("--fresh");
  if (line.base) {
    char base[16];
    std::snprintf(base, sizeof base, "0x%X", static_cast<unsigned>(*line.base));
    args.push_back("--base");
    args.push_back(base);
  }
  args.push_back(CommandName(line.command));
  if (!file.empty()) args.push_back(file);
  return args;
}

// Appends a line per port to the production record; false when it cannot.
bool AppendRecord(const AppPaths& paths, const CommandLine& line, const std::string& file,
                  const std::string& sha, const std::vector<GangPort>& ports,
                  const std::vector<double>& seconds, std::string& error) {
  const std::string path = paths.folder + kRecordFile;
  std::error_code ec;
  const bool fresh = !fs::exists(path, ec) || fs::file_size(path, ec) == 0;
  std::ofstream out(path, std::ios::binary | std::ios::app);
  if (!out) {
    error = "cannot open " + path;
    return false;
  }
  if (fresh) out << kRecordHeader << "\r\n";
  const std::string time = FormatRecordTime(LocalTime(std::time(nullptr)));
  for (size_t i = 0; i < ports.size(); ++i) {
    const GangPort& p = ports[i];
    out << CsvField(time) << ',' << CsvField(p.name) << ',' << CsvField(p.identity) << ','
        << CommandName(line.command) << ',' << CsvField(file) << ',' << sha << ','
        << CsvField(p.loader_version) << ',' << CsvField(p.result) << ',' << Seconds(seconds[i])
        << ',' << p.line_bytes << "\r\n";
  }
  out.flush();
  if (!out) {
    error = "cannot write " + path;
    return false;
  }
  return true;
}

}  // namespace

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

std::vector<std::string> ArgsForPorts(const std::vector<std::string>& args,
                                      const std::vector<std::string>& ports) {
  std::vector<std::string> out;
  for (const std::string& p : ports) {
    out.push_back("-p");
    out.push_back(p);
  }
  bool options_done = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (!options_done && a == "--") options_done = true;
    if (!options_done && (a == "-p" || a == "--port")) {
      ++i;  // its value
      continue;
    }
    if (!options_done && (a.compare(0, 7, "--port=") == 0 || (a.size() > 2 && a.compare(0, 2, "-p") == 0)))
      continue;
    out.push_back(a);
  }
  return out;
}

int RunGang(const CommandLine& line, const std::vector<std::string>& args, Console& console,
            const std::string& default_folder) {
  std::unique_ptr<Report> report;
  if (line.json) {
    report = std::make_unique<JsonReport>(console);
  } else {
    report = std::make_unique<TextReport>(console, false, nullptr);
  }
  const char* command = CommandName(line.command);
  CommandLine shared = line;
  shared.port.reset();
  Session s;
  if (int status = OpenSession(shared, *report, default_folder, s); status != kExitSuccess) {
    report->Finish(command, status, JsonObject());
    return status;
  }

  // The ports by their names, each with its identity and folder.
  std::vector<std::string> names = line.ports;
  if (names.size() == 1 && names[0] == kPortAll) {
    names.clear();
    const std::vector<ProbeAnswer> answers = ProbePorts(ProbeCandidates(s.serial_ports), s.rate);
    for (const ProbeAnswer& a : answers) {
      if (!a.answered) continue;
      // By the name that stays with the adapter (or with its socket), for
      // the summary's repeat line.
      const SerialPortInfo* info = FindSerialPort(s.serial_ports, a.device);
      std::string name = a.device;
      if (info && !info->socket_name.empty()) name = info->socket_name;
      if (info && !info->stable_name.empty() && (!info->serial_number.empty() || info->socket_name.empty()))
        name = info->stable_name;
      names.push_back(name);
    }
    if (names.empty()) {
      report->Message("-p all: no controller answers on any serial adapter", Level::kError);
      for (const std::string& l : ProbeReport(s.serial_ports, answers)) report->Message(l, Level::kInfo);
      report->Finish(command, kExitUsage, JsonObject());
      return kExitUsage;
    }
  }
  std::vector<GangPort> ports;
  for (const std::string& name : names) {
    GangPort p;
    p.name = name;
    int index = 0;
    p.device = IsComName(name, index) ? s.link.DeviceFor("COM" + std::to_string(index + 1)) : name;
    p.identity = PortIdentity(FindSerialPort(s.serial_ports, p.device), p.device);
    for (const GangPort& other : ports) {
      if (other.identity == p.identity) {
        report->Message(other.name + " and " + name + " are one port (" + p.identity + ")", Level::kError);
        report->Finish(command, kExitUsage, JsonObject());
        return kExitUsage;
      }
    }
    p.paths = AppPaths{s.paths.folder + kPortsFolder + kPathSeparator + p.identity + kPathSeparator};
    std::error_code ec;
    fs::create_directories(p.paths.folder, ec);
    if (line.command == Command::Resume && !UpdatePending(p.paths)) {
      p.run = false;
      p.result = "nothing to resume";
      p.exit = 0;
    }
    ports.push_back(std::move(p));
  }

  std::string file;
  std::string sha;
  if (line.command == Command::Update || line.command == Command::Verify) {
    std::error_code ec;
    const fs::path full = fs::absolute(line.file, ec);
    file = ec ? line.file : full.lexically_normal().string();
    sha = FileSha256(file);
  }

  std::vector<std::vector<std::string>> child_args;
  std::vector<size_t> running;
  for (size_t i = 0; i < ports.size(); ++i) {
    if (!ports[i].run) continue;
    child_args.push_back(ChildArgs(line, ports[i], s.rate, file));
    running.push_back(i);
  }
  GangDisplay display(console, line.json, !line.no_progress, ports);
  for (size_t i = 0; i < ports.size(); ++i) {
    if (ports[i].run || !line.json) continue;
    console.Out(JsonObject().Add("event", "result").Add("port", ports[i].name).Add("command", command)
                    .AddBool("ok", true).AddNumber("exit", 0).Add("message", "nothing to resume").Text());
  }
  const Clock::time_point start = Clock::now();
  ChildEvents events;
  events.line = [&](size_t child, const std::string& text) { display.Line(running[child], text); };
  events.tick = [&] { display.Draw(); };
  events.stop = [] { return StopStatus() != 0; };
  const std::vector<int> statuses = RunChildren(OwnProgram(), child_args, events);
  const Clock::time_point end = Clock::now();
  display.Draw(true);

  // Each port's outcome.
  std::vector<double> seconds(ports.size(), 0.0);
  bool failed = false, pending = false;
  for (size_t k = 0; k < running.size(); ++k) {
    GangPort& p = ports[running[k]];
    const int status = statuses[k];
    seconds[running[k]] = std::chrono::duration<double>(p.ended.value_or(end) - start).count();
    if (!p.has_result) {
      p.exit = status;
      p.message = status < 0   ? "could not be started"
                  : status > 128 ? "ended by signal " + std::to_string(status - 128) + " without a result"
                                 : "ended without a result";
      if (line.json)
        console.Out(JsonObject().Add("event", "result").Add("port", p.name).Add("command", command)
                        .AddBool("ok", false).AddNumber("exit", status).Add("message", p.message).Text());
    }
    const bool journalled = line.command == Command::Update || line.command == Command::Resume;
    if (status == kExitSuccess && p.exit == kExitSuccess) {
      p.result = "succeeded";
    } else if (journalled && (status == kExitUpdatePending || UpdatePending(p.paths))) {
      p.result = "pending";
      pending = true;
    } else {
      p.result = "failed";
      failed = true;
    }
  }
  int status = failed ? kExitFailure : pending ? kExitUpdatePending : kExitSuccess;
  // Stopped by a signal: its status, as a run alone ends.
  if (status != kExitSuccess && StopStatus() != 0) status = StopStatus();

  std::vector<std::string> failed_names, pending_names;
  for (const GangPort& p : ports) {
    if (p.result == "failed") failed_names.push_back(p.name);
    if (p.result == "pending") pending_names.push_back(p.name);
  }
  std::string repeat, resume;
  if (!failed_names.empty()) repeat = CommandText(ArgsForPorts(args, failed_names));
  if (!pending_names.empty()) {
    std::vector<std::string> resume_args;
    for (const std::string& p : pending_names) resume_args.insert(resume_args.end(), {"-p", p});
    if (line.folder) resume_args.insert(resume_args.end(), {"--folder", *line.folder});
    if (line.baud) resume_args.insert(resume_args.end(), {"--baud", std::to_string(*line.baud)});
    resume_args.push_back("resume");
    resume = CommandText(resume_args);
  }

  std::string record_error;
  const bool recorded = AppendRecord(s.paths, line, file, sha, ports, seconds, record_error);
  if (!recorded) status = kExitFailure;

  if (line.json) {
    JsonArray list;
    for (size_t i = 0; i < ports.size(); ++i) {
      const GangPort& p = ports[i];
      JsonObject o;
      o.Add("port", p.name).Add("device", p.device).Add("identity", p.identity)
          .Add("folder", p.paths.folder).Add("result", p.result).AddNumber("exit", p.exit);
      if (p.loader_version.empty()) o.AddNull("loader_version"); else o.Add("loader_version", p.loader_version);
      o.AddNumber("ms", static_cast<int64_t>(seconds[i] * 1000)).AddNumber("line_bytes", static_cast<int64_t>(p.line_bytes));
      if (!p.message.empty() && p.result != "succeeded") o.Add("message", p.message);
      list.AddJson(o.Text());
    }
    JsonObject summary;
    summary.Add("event", "summary").Add("command", command).AddBool("ok", status == 0)
        .AddNumber("exit", status).AddJson("ports", list.Text());
    if (!repeat.empty()) summary.Add("repeat", repeat);
    if (!resume.empty()) summary.Add("resume", resume);
    if (!recorded) summary.Add("message", record_error);
    console.Out(summary.Text());
    return status;
  }

  for (const GangPort& p : ports) {
    for (const std::string& c : p.components) console.Out(p.name + ": " + c);
  }
  size_t w_port = 4, w_identity = 8;
  for (const GangPort& p : ports) {
    w_port = std::max(w_port, p.name.size());
    w_identity = std::max(w_identity, p.identity.size());
  }
  console.Out(Fit("PORT", w_port) + "  " + Fit("IDENTITY", w_identity) + "  LOADER  " +
              Fit("TIME", 8) + "  RESULT");
  for (size_t i = 0; i < ports.size(); ++i) {
    const GangPort& p = ports[i];
    std::string result = p.result;
    if (p.result != "succeeded" && !p.message.empty() && p.result != "nothing to resume")
      result += ": " + p.message;
    console.Out(Fit(p.name, w_port) + "  " + Fit(p.identity, w_identity) + "  " +
                Fit(p.loader_version.empty() ? "-" : p.loader_version, 6) + "  " +
                Fit(p.run ? Seconds(seconds[i]) + " s" : "-", 8) + "  " + result);
  }
  size_t succeeded = 0;
  for (const GangPort& p : ports) succeeded += p.result == "succeeded" || p.result == "nothing to resume";
  console.Out(std::to_string(succeeded) + " of " + std::to_string(ports.size()) + " ports succeeded" +
              (pending_names.empty() ? "" : ", " + std::to_string(pending_names.size()) + " pending") +
              (failed_names.empty() ? "" : ", " + std::to_string(failed_names.size()) + " failed"));
  if (!recorded) console.Err(record_error);
  if (!resume.empty()) console.Out("To carry out the pending updates: " + resume);
  if (!repeat.empty()) console.Out("Again for the ports that failed: " + repeat);
  return status;
}

}  // namespace vok::cli
