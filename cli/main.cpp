#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include <unistd.h>

#include "app/settings.h"
#include "cli/cli_app.h"
#include "cli/console.h"
#include "cli/stop_signal.h"

int main(int argc, char** argv) {
  // A reader that goes away (a closed pipe) must not kill an update half way:
  // writes then fail quietly and the procedure runs to its end.
#ifdef SIGPIPE
  std::signal(SIGPIPE, SIG_IGN);
#endif
  vok::cli::InstallStopHandlers();
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  vok::cli::Console console(std::cout, ::isatty(STDOUT_FILENO) == 1, std::cerr,
                            ::isatty(STDERR_FILENO) == 1);
  const int status = vok::cli::RunProgram(args, console, vok::ApplicationFolder());
  vok::cli::RunFinished();
  return status;
}
