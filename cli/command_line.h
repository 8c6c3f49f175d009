#pragma once

#include <optional>
#include <string>
#include <vector>

#include "link/loader_link.h"

namespace vok::cli {

// Exit status of the program.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitUpdatePending = 3;

enum class Command { Info, Update, Resume, Backup, Start, Ports, Verify, Help, Version };

struct CommandLine {
  Command command = Command::Help;
  std::string file;  // update FILE, verify FILE, backup [FILE]
  bool fresh = false;
  std::optional<std::string> port;    // --port NAME, the last one given
  std::vector<std::string> ports;     // every --port NAME in order: several run at once
  std::optional<int> baud;            // --baud RATE
  std::optional<std::string> folder;  // --folder DIR
  bool yes = false;
  bool no_progress = false;
  bool verify = false;     // programmed data read back in full
  bool no_verify = false;  // nothing programmed or erased confirmed
  // Not in --help: the erased flash left unconfirmed, only so that the
  // benchmark can measure what confirming it costs.
  bool no_erased_check = false;
  bool json = false;                  // --json: JSON Lines on standard output
  std::optional<uint32_t> base;       // --base ADDR: FILE is a raw binary for ADDR
};

// The --port values that are no port of their own: the one adapter where a
// controller answers, every one where a controller answers.
inline constexpr const char* kPortAuto = "auto";
inline constexpr const char* kPortAll = "all";

// True when the command runs on several ports at once (-p given more than
// once, or -p all).
bool RunsOnSeveralPorts(const CommandLine& line);

// The command's name as the command line and the JSON result give it.
const char* CommandName(Command command);

// True when the arguments ask for JSON output, whether or not they parse:
// a script that asked for it gets even a refusal as JSON.
bool WantsJson(const std::vector<std::string>& args);

// 1 with the command line filled in; 0 with a one-line reason for a wrong one.
// args excludes the program name.
int ParseCommandLine(const std::vector<std::string>& args, CommandLine& line, std::string& error);

// The port index for --port NAME: COM1..COM4 give 0..3; a device path is put
// into the port table under COM1 and gives 0. 0 for a name that is neither.
int ResolvePort(const std::string& name, PortTable& table, int& index);

// The folder as the procedures take it: absolute, with a trailing separator.
std::string FolderWithSeparator(const std::string& dir);

std::string UsageText();
// The folders that the help of --folder names, as this system calls them.
const char* SystemFolderText();
const char* UserFolderText();
std::string VersionText();

}  // namespace vok::cli
