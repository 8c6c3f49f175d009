// The first request to stop raises the flag with the status that names it;
// a second ends the program at once. A binary of its own: the flag is the
// process's one global and stays raised.
#include <gtest/gtest.h>

#include <sstream>

#include "cli/console.h"
#include "cli/stop_signal.h"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
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
  const struct {
    int signo;
    int status;
  } cases[] = {{SIGINT, 130}, {SIGTERM, 143}, {SIGHUP, 129}};
  for (const auto& c : cases) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      std::ostringstream out, err;
      Console console(out, false, err, false);
      TerminalUi ui(console, Answer::No, Answer::Cancel);
      InstallStopHandlers();
      if (StopStatus() != 0 || ui.StopRequested()) ::_exit(1);
      ::raise(c.signo);
      if (StopStatus() != c.status || !ui.StopRequested()) ::_exit(2);
      ::raise(c.signo);
      ::_exit(3);
    }
    int wait_status = 0;
    ASSERT_EQ(::waitpid(pid, &wait_status, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(wait_status) && WTERMSIG(wait_status) == c.signo)
        << "signal " << c.signo << ": exit " << WEXITSTATUS(wait_status);
  }
}
#else
TEST(StopSignal, ConsoleEventsAskTheRunToStopASecondEndsIt) {
  EXPECT_FALSE(OnConsoleEvent(0x7F));  // no event of ours
  EXPECT_EQ(StopStatus(), 0);
  // The console is closing: the handler holds the process until the run
  // has reached its end.
  std::thread run([] {
    ::Sleep(200);
    RunFinished();
  });
  EXPECT_TRUE(OnConsoleEvent(CTRL_CLOSE_EVENT));
  run.join();
  EXPECT_EQ(StopStatus(), 143);
  // Asked again: the system's own handler ends the process.
  EXPECT_FALSE(OnConsoleEvent(CTRL_C_EVENT));
  EXPECT_EQ(StopStatus(), 143);
}
#endif

}  // namespace
}  // namespace vok::cli
