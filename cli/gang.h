#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/console.h"
#include "cli/json_read.h"

// One command on several ports at once: each port in a copy of this program
// of its own (--json, one port, the port's own folder), whose JSON Lines the
// gang reads, shows and sums up. A crash, a cut line or a hung port stays
// in its own process; each keeps its own journal and lock.
namespace vok::cli {

// Runs line's command on every port it names (several -p, or -p all);
// args is the command line as given, for the line that repeats the run for
// the ports that failed. Returns the exit status: 0 every port succeeded, 3
// none failed but one has an interrupted update pending, 1 otherwise (2 for
// a command line that names no ports to run on; a run stopped by a signal
// that did not succeed everywhere ends with the signal's status, as a run
// alone does).
int RunGang(const CommandLine& line, const std::vector<std::string>& args, Console& console,
            const std::string& default_folder);

// One field of a CSV line, quoted where it must be.
std::string CsvField(const std::string& text);

// The command line that runs args again on the given ports only: every
// --port / -p of args replaced by them.
std::vector<std::string> ArgsForPorts(const std::vector<std::string>& args,
                                      const std::vector<std::string>& ports);

}  // namespace vok::cli
