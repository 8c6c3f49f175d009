// A first request to stop raises the flag with the status that names it; a
// second ends the program at once. A binary of its own: the flag stays up.
#include <gtest/gtest.h>

#include <sstream>

#include "cli/console.h"
#include "cli/cli_ui.h"
#include "cli/report.h"
#include "cli/stop_signal.h"

#ifdef _WIN32
#include <windows.h>

#include <thread>
#else
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace vok::cli {
namespace {

#ifndef _WIN32
TEST(StopSignal, FirstSignalAsksTheRunToStopASecondEndsIt) {
  for (const auto& [signo, status] : {std::pair{SIGINT, 130}, {SIGTERM, 143}, {SIGHUP, 129}}) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      std::ostringstream out;
      Console console(out, false, out, false);
      TextReport report(console, false, {});
      CliUi ui(report, false, Answer::Cancel, nullptr, 0);
      InstallStopHandlers();
      const bool before = StopStatus() == 0 && !ui.StopRequested();
      ::raise(signo);
      if (!before || StopStatus() != status || !ui.StopRequested()) ::_exit(1);
      ::raise(signo);
      ::_exit(2);
    }
    int wait_status = 0;
    ASSERT_EQ(::waitpid(pid, &wait_status, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(wait_status) && WTERMSIG(wait_status) == signo)
        << "signal " << signo << ": exit " << WEXITSTATUS(wait_status);
  }
}
#else
TEST(StopSignal, ConsoleEventsAskTheRunToStopASecondEndsIt) {
  EXPECT_FALSE(OnConsoleEvent(0x7F));  // no event of ours
  EXPECT_EQ(StopStatus(), 0);
  // A closing console waits until the run has reached its end.
  std::thread run([] {
    ::Sleep(200);
    RunFinished();
  });
  EXPECT_TRUE(OnConsoleEvent(CTRL_CLOSE_EVENT));
  run.join();
  EXPECT_EQ(StopStatus(), 143);
  EXPECT_FALSE(OnConsoleEvent(CTRL_C_EVENT));  // the system's handler ends it
  EXPECT_EQ(StopStatus(), 143);
}
#endif

}  // namespace
}  // namespace vok::cli
