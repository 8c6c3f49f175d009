#include "cli/command_line.h"

#include <charconv>
#include <climits>
#include <utility>
#include <filesystem>
#include <system_error>

#include "app/settings.h"

#ifndef VOK_VERSION
#define VOK_VERSION "1.1.1"
#endif

namespace vok::cli {

namespace {

bool IsComName(const std::string& name, int& index) {
  if (name.size() != 4) return false;
  auto up = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; };
  if (up(name[0]) != 'C' || up(name[1]) != 'O' || up(name[2]) != 'M') return false;
  if (name[3] < '1' || name[3] > '4') return false;
  index = name[3] - '1';
  return true;
}

#ifdef _WIN32
// A device of the system itself: "\\.\COM12", or COMn beyond the four
// that the settings name.
bool IsDevicePath(const std::string& name) {
  if (name.find('\\') != std::string::npos) return true;
  auto up = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; };
  if (name.size() < 4 || name.size() > 6 || up(name[0]) != 'C' || up(name[1]) != 'O' ||
      up(name[2]) != 'M' || name[3] == '0')
    return false;
  for (size_t i = 3; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') return false;
  }
  return true;
}
#else
bool IsDevicePath(const std::string& name) { return name.find('/') != std::string::npos; }
#endif
constexpr char kSep = kPathSeparator;

#ifdef _WIN32
#define VOK_SYSTEM_FOLDER_TEXT "Program Files"
#define VOK_USER_FOLDER_TEXT "%LOCALAPPDATA%\\VOK Loader"
#else
#define VOK_SYSTEM_FOLDER_TEXT "/usr/bin"
#define VOK_USER_FOLDER_TEXT "${XDG_DATA_HOME:-~/.local/share}/vokloader"
#endif

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

constexpr Command kCommands[] = {Command::Info,  Command::Update, Command::Resume, Command::Backup,
                                 Command::Start, Command::Ports,  Command::Verify};

std::optional<Command> CommandNamed(const std::string& word) {
  for (Command c : kCommands) {
    if (word == CommandName(c)) return c;
  }
  return std::nullopt;
}

// The long name of a short option, or the argument itself. "-pCOM2" gives
// "--port" with the value "COM2".
std::string LongName(const std::string& arg, std::optional<std::string>& value) {
  if (arg.size() < 2 || arg[0] != '-' || arg[1] == '-') return arg;
  static const std::pair<char, const char*> kShort[] = {
      {'h', "--help"}, {'V', "--version"}, {'p', "--port"}, {'b', "--baud"}, {'y', "--yes"}};
  for (const auto& [letter, name] : kShort) {
    if (arg[1] != letter) continue;
    if (arg.size() == 2) return name;
    // Only the options that take a value may carry it in the same word.
    if (letter == 'p' || letter == 'b') {
      value = arg.substr(2);
      return name;
    }
  }
  return arg;
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
  bool options_done = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (options_done || arg.size() < 2 || arg[0] != '-') {
      words.push_back(arg);
      continue;
    }
    if (arg == "--") {
      options_done = true;
      continue;
    }
    std::optional<std::string> value;
    std::string name = LongName(arg, value);
    if (size_t eq = arg.find('='); eq != std::string::npos && arg.compare(0, 2, "--") == 0) {
      name = arg.substr(0, eq);
      value = arg.substr(eq + 1);
    }
    if (name == "--help" || name == "--version") {
      if (value) {
        error = "option " + name + " takes no value";
        return 0;
      }
      // Whatever else stands on the line.
      line = CommandLine{};
      line.command = name == "--help" ? Command::Help : Command::Version;
      return 1;
    }
    if (name == "--port" || name == "--baud" || name == "--folder" || name == "--base") {
      if (!value) {
        if (i + 1 >= args.size()) {
          error = "option " + name + " needs a value";
          return 0;
        }
        value = args[++i];
      }
      if (name == "--port") {
        int index = 0;
        if (!IsComName(*value, index) && !IsDevicePath(*value)) {
          error = "--port takes COM1 to COM4 or a device path, not '" + *value + "'";
          return 0;
        }
        line.port = *value;
      } else if (name == "--baud") {
        int rate = 0;
        if (!ParseRate(*value, rate)) {
          error = "--baud takes a positive whole number, not '" + *value + "'";
          return 0;
        }
        line.baud = rate;
      } else if (name == "--base") {
        uint32_t address = 0;
        if (!ParseAddress(*value, address)) {
          error = "--base takes an address such as 0x84000, not '" + *value + "'";
          return 0;
        }
        line.base = address;
      } else {
        if (value->empty()) {
          error = "--folder needs a folder";
          return 0;
        }
        line.folder = *value;
      }
      continue;
    }
    bool* flag = nullptr;
    if (name == "--yes") flag = &line.yes;
    if (name == "--no-progress") flag = &line.no_progress;
    if (name == "--verify") flag = &line.verify;
    if (name == "--no-verify") flag = &line.no_verify;
    if (name == "--no-erased-check") flag = &line.no_erased_check;
    if (name == "--fresh") flag = &line.fresh;
    if (name == "--json") flag = &line.json;
    if (!flag) {
      error = "unknown option '" + arg + "'";
      return 0;
    }
    if (value) {
      error = "option " + name + " takes no value";
      return 0;
    }
    *flag = true;
  }

  if (words.empty()) {
    error = "no command given";
    return 0;
  }
  std::optional<Command> command = CommandNamed(words[0]);
  if (!command) {
    error = "unknown command '" + words[0] + "'";
    return 0;
  }
  line.command = *command;
  size_t operands = words.size() - 1;
  switch (line.command) {
    case Command::Update:
    case Command::Verify:
      if (operands != 1 || words[1].empty()) {
        error = words[0] + " needs exactly one update file";
        return 0;
      }
      line.file = words[1];
      break;
    case Command::Backup:
      if (operands > 1) {
        error = "backup takes at most one file";
        return 0;
      }
      if (operands == 1) {
        line.file = words[1];
        if (line.file.empty()) {
          error = "backup needs a file name";
          return 0;
        }
      }
      break;
    default:
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
  return 1;
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
  return
      "Usage:\n"
      "  vokloader-cli [OPTIONS] info            connect, scan, print the component listing\n"
      "  vokloader-cli [OPTIONS] update FILE     an update from FILE\n"
      "  vokloader-cli [OPTIONS] update --fresh FILE\n"
      "                                          the same when an interrupted update is pending:\n"
      "                                          what it planned is carried into this update\n"
      "  vokloader-cli [OPTIONS] resume          carry out the pending command file again\n"
      "  vokloader-cli [OPTIONS] verify FILE     compare the target's memory with FILE; changes\n"
      "                                          nothing (exit 0 equal, 1 different or failed)\n"
      "  vokloader-cli [OPTIONS] backup [FILE]   back up RAM and flash (default BACKUP/BKyymmdd.SSS)\n"
      "  vokloader-cli [OPTIONS] start           start the controller's application\n"
      "  vokloader-cli [OPTIONS] ports           print COM1 to COM4 with their devices, then the\n"
      "                                          application folder in use\n"
      "  vokloader-cli -h | --help | -V | --version\n"
      "\n"
      "FILE holds Motorola S-records, Intel HEX or ELF (told apart by content), or a raw\n"
      "binary with --base.\n"
      "\n"
      "Options:\n"
      "  -p, --port NAME  COM1 to COM4, or a device path (default: ComPort of VOKLOAD.INI)\n"
      "  -b, --baud RATE  the rate to ask the loader for (default: Baudrate of VOKLOAD.INI)\n"
      "  --folder DIR     the application folder that holds VOKLOAD.INI, UPDATE and BACKUP\n"
      "                   (default: the executable's folder when it holds VOKLOAD.INI, or\n"
      "                   is yours to write and no system folder such as " VOK_SYSTEM_FOLDER_TEXT ";\n"
      "                   else " VOK_USER_FOLDER_TEXT "; 'ports' shows it)\n"
      "  -y, --yes        answer Yes to \"File already exists. Overwrite?\" (without it the\n"
      "                   question is asked on a terminal, and answered No elsewhere)\n"
      "  --no-progress    no progress bar\n"
      "  --verify         update and resume: read every programmed record back and compare it\n"
      "                   with the command file before the command file and marker are removed\n"
      "                   (without it each record is confirmed by the loader's checksum, or\n"
      "                   read back when the loader's checksum is of no known kind); the rest\n"
      "                   of every erased sector is confirmed erased either way\n"
      "  --no-verify      update and resume: confirm neither the programmed records nor the\n"
      "                   erased rest of the sectors (what is read from the target is\n"
      "                   confirmed always)\n"
      "  --base ADDR      update and verify: FILE is a raw binary whose first byte belongs at\n"
      "                   ADDR (0x... hexadecimal, else decimal)\n"
      "  --json           JSON Lines on standard output, one event a line: step, progress,\n"
      "                   message and, last, result\n"
      "\n"
      "Exit status: 0 success, 1 failure, 2 wrong command line, 3 an interrupted update is\n"
      "pending (use update --fresh FILE or resume).\n";
}

std::string VersionText() { return "Vok Loader Version " VOK_VERSION "\n"; }

}  // namespace vok::cli
