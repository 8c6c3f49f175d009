#pragma once

#include "cli/cli_ui.h"
#include "cli/command_line.h"
#include "cli/json.h"
#include "cli/report.h"
#include "cli/session.h"

// The commands of the program, each against the session of its run. Each
// returns the exit status and puts what it found, for the JSON result, into
// found.
namespace vok::cli {

int RunInfoCommand(Session& s, Report& report, CliUi& ui, JsonObject& found);
// info FILE: the components of a firmware file, without a port.
int RunInfoFileCommand(const CommandLine& line, Session& s, Report& report, CliUi& ui,
                       JsonObject& found);
int RunStartCommand(Session& s, CliUi& ui);
// update and resume.
int RunUpdateCommand(const CommandLine& line, Session& s, Report& report, CliUi& ui,
                     JsonObject& found);
int RunVerifyCommand(const CommandLine& line, Session& s, Report& report, CliUi& ui,
                     JsonObject& found);
int RunBackupCommand(const CommandLine& line, Session& s, Report& report, CliUi& ui,
                     JsonObject& found);
int RunPortsCommand(Session& s, Report& report, JsonObject& found);

// A command that a signal stopped at its safe point ends with the status
// that names the signal; one that had finished all the same keeps its own.
int AfterStop(Report& report, int status, const AppPaths& paths);

}  // namespace vok::cli
