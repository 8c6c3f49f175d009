#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include <unistd.h>

#include "app/settings.h"
#include "cli/cli_app.h"
#include "cli/console.h"
#include "cli/stop_signal.h"

int main(int argc, char** argv) {
  vok::cli::IgnoreClosedPipes();
  vok::cli::InstallStopHandlers();
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  vok::cli::Console console(std::cout, ::isatty(STDOUT_FILENO) == 1, std::cerr,
                            ::isatty(STDERR_FILENO) == 1);
  // A question is asked only where a person can answer it: input and the
  // messages both on a terminal.
  auto ask = [&console](const std::string& question) -> std::optional<bool> {
    if (::isatty(STDIN_FILENO) != 1 || ::isatty(STDERR_FILENO) != 1) return std::nullopt;
    console.Prompt(question + " (y/N) ");
    if (!vok::cli::AwaitInputUnlessStopped()) {
      console.EndPrompt();
      return false;
    }
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
