#pragma once

#include <functional>
#include <string>
#include <vector>

// Copies of this program run side by side, one per port, their output read
// line by line as it comes. The platform's part lives in
// child_process_posix.cpp and child_process_win32.cpp.
namespace vok::cli {

// This program's own executable, to start it again for each port.
std::string OwnProgram();

struct ChildEvents {
  // A complete line of a child's standard output or error (one pipe for
  // both), without its line end, with the child's index.
  std::function<void(size_t child, const std::string& line)> line;
  // Called at least every tick_ms while any child runs.
  std::function<void()> tick;
  int tick_ms = 200;
  // Asked at each tick: true passes a stop on to the children, once (they
  // stop at their safe points as a run alone would). On POSIX the children
  // have a process group of their own, so a terminal's Ctrl-C reaches them
  // only so; a Windows console hands it to each of them itself.
  std::function<bool()> stop;
};

// Runs program with each list of arguments at once, standard input empty.
// Returns when all have ended, each one's exit status: 0 to 255, 128 + the
// signal for one that a signal ended, -1 for one that could not be started.
std::vector<int> RunChildren(const std::string& program,
                             const std::vector<std::vector<std::string>>& args,
                             const ChildEvents& events);

}  // namespace vok::cli
