#include <csignal>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include <unistd.h>

#include "app/settings.h"
#include "cli/cli_app.h"
#include "cli/console.h"
#include "cli/stop_signal.h"

#ifndef _WIN32
#include <poll.h>
#endif

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
  // A question is asked only where a person can answer it: input and the
  // messages both on a terminal.
  auto ask = [&console](const std::string& question) -> std::optional<bool> {
    if (::isatty(STDIN_FILENO) != 1 || ::isatty(STDERR_FILENO) != 1) return std::nullopt;
    console.Prompt(question + " (y/N) ");
#ifndef _WIN32
    // Ctrl-C at the question answers No: the read itself would go on.
    for (;;) {
      if (vok::cli::StopStatus() != 0) {
        console.EndPrompt();
        return false;
      }
      pollfd in = {STDIN_FILENO, POLLIN, 0};
      if (::poll(&in, 1, 100) != 0) break;
    }
#endif
    std::string answer;
    if (!std::getline(std::cin, answer)) {
      console.EndPrompt();
      return false;
    }
    return answer == "y" || answer == "Y" || answer == "yes" || answer == "Yes" || answer == "YES";
  };
  const int status = vok::cli::RunProgram(args, console, vok::ApplicationFolder(), ask);
  vok::cli::RunFinished();
  return status;
}
