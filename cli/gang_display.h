#pragma once

// What a run on several ports shows while it goes: a live line per port on a
// terminal, plain lines prefixed with the port elsewhere, the children's
// JSON Lines with their port in front for --json.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/app_paths.h"
#include "cli/console.h"

namespace vok::cli {

using GangClock = std::chrono::steady_clock;

struct GangPort {
  std::string name;  // as the command line gave it
  std::string device;
  std::string identity;
  AppPaths paths;
  bool run = true;  // false: nothing to do (resume without a pending update)
  // What its run told so far.
  std::string step;
  uint32_t done = 0, total = 0;
  GangClock::time_point step_start{};
  uint32_t step_start_done = 0;
  double bytes_per_second = 0;
  std::optional<GangClock::time_point> ended;
  bool has_result = false;
  int exit = -1;
  std::string message;
  std::string loader_version;
  uint64_t line_bytes = 0;
  std::vector<std::string> components;  // info: a line per component found
  // The outcome: "succeeded", "pending", "failed", "nothing to resume".
  std::string result;
};

// The text in a column of that width: cut with "...", or padded.
std::string Fit(std::string text, size_t width);

// Seconds with one decimal: "52.3".
std::string Seconds(double s);

// info's components as the listing names them: "VOK Kernel V3.2.1".
std::vector<std::string> ComponentLines(const std::string& components);

class GangDisplay {
 public:
  // live: a line per port on the terminal, redrawn; otherwise plain lines.
  GangDisplay(Console& console, bool json, bool live, std::vector<GangPort>& ports);

  // One line of port i's run.
  void Line(size_t i, const std::string& text);

  // The live lines, redrawn in place.
  void Draw(bool last = false);

 private:
  // Without a terminal: each line prefixed with its port.
  void Plain(const GangPort& p, const std::string& text);

  Console& console_;
  bool json_;
  bool live_;
  std::vector<GangPort>& ports_;
  size_t name_width_ = 4;
  size_t drawn_ = 0;
  bool dirty_ = true;
};

}  // namespace vok::cli
