#include "cli/command_line.h"

#include <charconv>
#include <climits>
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

std::optional<Command> CommandNamed(const std::string& word) {
  if (word == "info") return Command::Info;
  if (word == "update") return Command::Update;
  if (word == "resume") return Command::Resume;
  if (word == "backup") return Command::Backup;
  if (word == "start") return Command::Start;
  if (word == "ports") return Command::Ports;
  return std::nullopt;
}

}  // namespace

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
    std::string name = arg;
    std::optional<std::string> value;
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
    if (name == "--port" || name == "--baud" || name == "--folder") {
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
    if (name == "--fresh") flag = &line.fresh;
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
      if (operands != 1) {
        error = "update needs exactly one update file";
        return 0;
      }
      line.file = words[1];
      if (line.file.empty()) {
        error = "update needs an update file";
        return 0;
      }
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
      "                                          discard its marker and command file first\n"
      "  vokloader-cli [OPTIONS] resume          carry out the pending command file again\n"
      "  vokloader-cli [OPTIONS] backup [FILE]   back up RAM and flash (default BACKUP/BKyymmdd.SSS)\n"
      "  vokloader-cli [OPTIONS] start           start the controller's application\n"
      "  vokloader-cli [OPTIONS] ports           print COM1 to COM4, each with the device it maps to\n"
      "  vokloader-cli --help | --version\n"
      "\n"
      "Options:\n"
      "  --port NAME    COM1 to COM4, or a device path (default: ComPort of VOKLOAD.INI)\n"
      "  --baud RATE    the rate to ask the loader for (default: Baudrate of VOKLOAD.INI)\n"
      "  --folder DIR   the application folder that holds VOKLOAD.INI, UPDATE and BACKUP\n"
      "                 (default: the folder of the executable)\n"
      "  --yes          answer Yes to \"File already exists. Overwrite?\" (without it: No)\n"
      "  --no-progress  no progress bar\n"
      "  --verify       update and resume: read every programmed record back and compare it\n"
      "                 with the command file before the command file and marker are removed\n"
      "                 (without it each record is confirmed by the loader's checksum, or\n"
      "                 read back when the loader's checksum is of no known kind)\n"
      "  --no-verify    update and resume: do not confirm programmed records (what is read\n"
      "                 from the target is confirmed always)\n"
      "\n"
      "Exit status: 0 success, 1 failure, 2 wrong command line, 3 an interrupted update is\n"
      "pending (use update --fresh FILE or resume).\n";
}

std::string VersionText() { return "Vok Loader Version " VOK_VERSION "\n"; }

}  // namespace vok::cli
