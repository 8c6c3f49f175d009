#pragma once

// voksim's command line.

#include <cstdint>
#include <string>
#include <vector>

#include "sim/controller.h"

namespace vok::sim {

struct CommandLine {
  Options options;
  std::string link;        // --link: a symbolic link to the pseudo-terminal
  std::string stats_file;  // --stats: JSON counts at exit
  bool help = false;
};

// 0 parsed (help set for --help); -1 with error set.
int ParseCommandLine(const std::vector<std::string>& args, CommandLine& out, std::string& error);

// Hexadecimal with 0x, otherwise decimal; the whole text must be a number
// that fits 32 bits.
bool ParseNumber(const std::string& text, uint32_t& value);

// The text --help prints.
std::string UsageText();

}  // namespace vok::sim
