#include "cli/command_line.h"

#include <charconv>
#include <climits>
#include <filesystem>
#include <optional>
#include <system_error>
#include <utility>

#include "app/settings.h"
#include "cli/option_table.h"
#include "link/port_list.h"

#ifndef VOK_VERSION
#define VOK_VERSION "1.1.1"
#endif

namespace vok::cli {

namespace {

constexpr char kSep = kPathSeparator;

bool ParseRate(const std::string& text, int& rate) {
  if (text.empty() || text.size() > 10) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  long long value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return false;
  if (value <= 0 || value > INT_MAX) return false;
  rate = static_cast<int>(value);
  return true;
}

// Hexadecimal with 0x, else decimal; 32 bits.
bool ParseAddress(const std::string& text, uint32_t& address) {
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const std::string digits = hex ? text.substr(2) : text;
  if (digits.empty() || digits.size() > 10) return false;
  unsigned long long value = 0;
  auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value, hex ? 16 : 10);
  if (ec != std::errc() || end != digits.data() + digits.size() || value > 0xFFFFFFFFull) return false;
  address = static_cast<uint32_t>(value);
  return true;
}

// What a command takes beside its options.
enum class Operands { kNone, kUpdateFile, kOptionalFile };

struct CommandSpec {
  Command command;
  const char* synopsis;  // after "vokloader-cli [OPTIONS] "
  const char* help;      // its lines, '\n' between them
  Operands operands;
};

// The commands in the order of the help; a command may have several
// synopses.
constexpr CommandSpec kCommandTable[] = {
    {Command::Info, "info", "connect, scan, print the component listing", Operands::kNone},
    {Command::Update, "update FILE", "an update from FILE", Operands::kUpdateFile},
    {Command::Update, "update --fresh FILE",
     "the same when an interrupted update is pending:\n"
     "what it planned is carried into this update",
     Operands::kUpdateFile},
    {Command::Resume, "resume", "carry out the pending command file again", Operands::kNone},
    {Command::Verify, "verify FILE",
     "compare the target's memory with FILE; changes\n"
     "nothing (exit 0 equal, 1 different or failed)",
     Operands::kUpdateFile},
    {Command::Backup, "backup [FILE]", "back up RAM and flash (default BACKUP/BKyymmdd.SSS)",
     Operands::kOptionalFile},
    {Command::Start, "start", "start the controller's application", Operands::kNone},
    {Command::Ports, "ports",
     "print COM1 to COM4 with their devices, the serial\n"
     "devices with their identities, then the\n"
     "application folder in use",
     Operands::kNone},
};

const CommandSpec* CommandNamed(const std::string& word) {
  for (const CommandSpec& c : kCommandTable) {
    if (word == CommandName(c.command)) return &c;
  }
  return nullptr;
}

using Option = OptionSpec<CommandLine>;

// Sets a member from the value, or tells why the value does not do.
template <class T>
auto Setter(bool (*parse)(const std::string&, T&), std::optional<T> CommandLine::*member,
            std::string refusal) {
  return [parse, member, refusal](const std::string& value, CommandLine& line) -> std::string {
    T parsed{};
    if (!parse(value, parsed)) return refusal + ", not '" + value + "'";
    line.*member = parsed;
    return {};
  };
}

bool ParsePortName(const std::string& text, std::string& name) {
  int index = 0;
  if (!IsComName(text, index) && !IsDevicePath(text) && text != kPortAuto && text != kPortAll)
    return false;
  name = text;
  return true;
}

// -p may be given several times: the ports run at once.
std::string SetPort(const std::string& value, CommandLine& line) {
  std::string name;
  if (!ParsePortName(value, name))
    return "--port takes COM1 to COM4, a device path, auto or all, not '" + value + "'";
  for (const std::string& given : line.ports) {
    if (given == name) return "port " + name + " given twice";
  }
  line.ports.push_back(name);
  line.port = name;
  return {};
}

const std::vector<Option>& Options() {
  static const std::vector<Option> table = {
      LineEndingOption<CommandLine>("--help", 'h', [](CommandLine& l) { l.command = Command::Help; }),
      LineEndingOption<CommandLine>("--version", 'V',
                                    [](CommandLine& l) { l.command = Command::Version; }),
      ValueOption<CommandLine>(
          "--port", 'p', "NAME",
          "COM1 to COM4, or a device path (default: ComPort of VOKLOAD.INI);\n"
          "auto: the one adapter where a controller answers; several -p, or\n"
          "all (every adapter where one answers): the command runs on each at\n"
          "once, each port in its folder PORTS/<its stable name> beneath the\n"
          "application folder, a line for each in PRODUCTION.CSV",
          SetPort),
      ValueOption<CommandLine>(
          "--baud", 'b', "RATE", "the rate to ask the loader for (default: Baudrate of VOKLOAD.INI)",
          Setter(ParseRate, &CommandLine::baud, "--baud takes a positive whole number")),
      ValueOption<CommandLine>(
          "--folder", 0, "DIR",
          std::string("the application folder that holds VOKLOAD.INI, UPDATE and BACKUP\n"
                      "(default: the executable's folder when it holds VOKLOAD.INI, or\n"
                      "is yours to write and no system folder such as ") +
              SystemFolderText() + ";\nelse " + UserFolderText() + "; 'ports' shows it)",
          [](const std::string& value, CommandLine& l) {
            if (value.empty()) return std::string("--folder needs a folder");
            l.folder = value;
            return std::string();
          }),
      FlagOption("--yes", 'y', &CommandLine::yes,
                 "answer Yes to \"File already exists. Overwrite?\" (without it the\n"
                 "question is asked on a terminal, and answered No elsewhere)"),
      FlagOption("--no-progress", 0, &CommandLine::no_progress, "no progress bar"),
      FlagOption("--verify", 0, &CommandLine::verify,
                 "update and resume: read every programmed record back and compare it\n"
                 "with the command file before the command file and marker are removed\n"
                 "(without it each record is confirmed by the loader's checksum, or\n"
                 "read back when the loader's checksum is of no known kind); the rest\n"
                 "of every erased sector is confirmed erased either way"),
      FlagOption("--no-verify", 0, &CommandLine::no_verify,
                 "update and resume: confirm neither the programmed records nor the\n"
                 "erased rest of the sectors (what is read from the target is\n"
                 "confirmed always)"),
      // Not in the help: only for the benchmark that measures what confirming
      // the erased flash costs.
      FlagOption("--no-erased-check", 0, &CommandLine::no_erased_check, ""),
      // In the synopsis of update.
      FlagOption("--fresh", 0, &CommandLine::fresh, ""),
      ValueOption<CommandLine>(
          "--base", 0, "ADDR",
          "update and verify: FILE is a raw binary whose first byte belongs at\n"
          "ADDR (0x... hexadecimal, else decimal)",
          Setter(ParseAddress, &CommandLine::base, "--base takes an address such as 0x84000")),
      FlagOption("--json", 0, &CommandLine::json,
                 "JSON Lines on standard output, one event a line: step, progress,\n"
                 "message and, last, result"),
  };
  return table;
}

}  // namespace

const char* CommandName(Command command) {
  switch (command) {
    case Command::Info: return "info";
    case Command::Update: return "update";
    case Command::Resume: return "resume";
    case Command::Backup: return "backup";
    case Command::Start: return "start";
    case Command::Ports: return "ports";
    case Command::Verify: return "verify";
    case Command::Help: return "help";
    case Command::Version: break;
  }
  return "version";
}

bool WantsJson(const std::vector<std::string>& args) {
  for (const std::string& arg : args) {
    if (arg == "--") return false;
    if (arg == "--json") return true;
  }
  return false;
}

int ParseCommandLine(const std::vector<std::string>& args, CommandLine& line, std::string& error) {
  line = CommandLine{};
  std::vector<std::string> words;
  switch (ParseOptions(Options(), args, line, words, error)) {
    case OptionsParsed::kRefused: return 0;
    case OptionsParsed::kEnded: return 1;
    case OptionsParsed::kWords: break;
  }

  if (words.empty()) {
    error = "no command given";
    return 0;
  }
  const CommandSpec* command = CommandNamed(words[0]);
  if (!command) {
    error = "unknown command '" + words[0] + "'";
    return 0;
  }
  line.command = command->command;
  size_t operands = words.size() - 1;
  switch (command->operands) {
    case Operands::kUpdateFile:
      if (operands != 1 || words[1].empty()) {
        error = words[0] + " needs exactly one update file";
        return 0;
      }
      line.file = words[1];
      break;
    case Operands::kOptionalFile:
      if (operands > 1) {
        error = words[0] + " takes at most one file";
        return 0;
      }
      if (operands == 1) {
        line.file = words[1];
        if (line.file.empty()) {
          error = words[0] + " needs a file name";
          return 0;
        }
      }
      break;
    case Operands::kNone:
      if (operands != 0) {
        error = words[0] + " takes no operand";
        return 0;
      }
      break;
  }
  if (line.verify && line.no_verify) {
    error = "--verify and --no-verify exclude each other";
    return 0;
  }
  if (line.fresh && line.command != Command::Update) {
    error = "--fresh belongs to update";
    return 0;
  }
  if (line.base && line.command != Command::Update && line.command != Command::Verify) {
    error = "--base belongs to update and verify";
    return 0;
  }
  for (const std::string& p : line.ports) {
    if ((p == kPortAuto || p == kPortAll) && line.ports.size() > 1) {
      error = "--port " + p + " stands alone";
      return 0;
    }
  }
  if (RunsOnSeveralPorts(line)) {
    if (line.command == Command::Ports) {
      error = "ports lists every port: it takes no --port";
      return 0;
    }
    // Each port's backup goes to its own folder; one file cannot take them all.
    if (line.command == Command::Backup && !line.file.empty()) {
      error = "backup on several ports takes no FILE: each goes to its port's BACKUP folder";
      return 0;
    }
  }
  return 1;
}

bool RunsOnSeveralPorts(const CommandLine& line) {
  return line.ports.size() > 1 || (line.ports.size() == 1 && line.ports[0] == kPortAll);
}

int ResolvePort(const std::string& name, PortTable& table, int& index) {
  if (IsComName(name, index)) return 1;
  if (!IsDevicePath(name)) return 0;
  table["COM1"] = name;
  index = 0;
  return 1;
}

std::string FolderWithSeparator(const std::string& dir) {
  std::error_code ec;
  std::filesystem::path p = std::filesystem::absolute(dir, ec);
  std::string folder = ec ? dir : p.lexically_normal().string();
  if (folder.empty() || (folder.back() != '/' && folder.back() != kSep)) folder += kSep;
  return folder;
}

std::string UsageText() {
  std::vector<std::pair<std::string, std::string>> commands;
  for (const CommandSpec& c : kCommandTable)
    commands.emplace_back(std::string("vokloader-cli [OPTIONS] ") + c.synopsis, c.help);
  return "Usage:\n" + HelpColumns(commands, 2, 42) +
         "  vokloader-cli -h | --help | -V | --version\n"
         "\n"
         "FILE holds Motorola S-records, Intel HEX or ELF (told apart by content), or a raw\n"
         "binary with --base.\n"
         "\n"
         "Options:\n" +
         OptionsHelp(Options(), 19) +
         "\n"
         "Exit status: 0 success, 1 failure, 2 wrong command line, 3 an interrupted update is\n"
         "pending (use update --fresh FILE or resume). On several ports: 0 every port\n"
         "succeeded, 3 none failed but one is pending, 1 otherwise.\n";
}

std::string VersionText() { return "Vok Loader Version " VOK_VERSION "\n"; }

}  // namespace vok::cli
