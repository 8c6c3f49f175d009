#pragma once

#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/console.h"
#include "cli/report.h"
#include "link/loader_link.h"
#include "link/port_list.h"

namespace vok::cli {

// Runs one parsed command against the application folder default_folder
// (used when the command line names none), reporting through report, its
// result last. Returns the exit status.
int RunCommand(const CommandLine& line, Report& report, const std::string& default_folder);

// The whole program: parse, then run, as text or as JSON Lines. ask puts a
// question to the user at a terminal (none: nobody can be asked). args
// excludes the program name.
int RunProgram(const std::vector<std::string>& args, Console& console,
               const std::string& default_folder, Asker ask = nullptr);

// The listing of the ports command: COM1 to COM4 with their devices, then
// the serial devices with the COM names that stand for them (configured or
// by default), their identities and stable names.
std::vector<std::string> PortListing(const PortTable& configured,
                                     const std::vector<SerialPortInfo>& ports);
// "USB adapter 0403:6001, FTDI, FT232R USB UART, serial number A50285BI".
std::string DescribePort(const SerialPortInfo& port);

// A listing with CR LF line ends as lines without them.
std::vector<std::string> ListingLines(const std::string& listing);

}  // namespace vok::cli
