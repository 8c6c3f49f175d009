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

// Ctrl-C at a question answers it: the wait for the answer ends, whether the
// signal comes before the wait or during it.
TEST(StopSignal, TheWaitForAnAnswerEndsAtTheFirstSignal) {
  for (const bool typed : {true, false}) {
    int ready[2], input[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(input), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
      InstallStopHandlers();
      ::dup2(input[0], STDIN_FILENO);
      (void)!::write(ready[1], "r", 1);
      const bool answer = AwaitInputUnlessStopped();
      ::_exit(answer == typed && (StopStatus() == 0) == typed ? 0 : 1);
    }
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    ::usleep(200 * 1000);  // well inside the wait
    if (typed) {
      ASSERT_EQ(::write(input[1], "y\n", 2), 2);
    } else {
      ::kill(pid, SIGINT);
    }
    int wait_status = 0;
    pid_t done = 0;
    for (int i = 0; i < 100 && done == 0; ++i) {  // a hang check, 10 s
      done = ::waitpid(pid, &wait_status, WNOHANG);
      if (done == 0) ::usleep(100 * 1000);
    }
    if (done == 0) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &wait_status, 0);
    }
    EXPECT_EQ(done, pid) << (typed ? "typed" : "signal") << ": still waiting";
    EXPECT_TRUE(WIFEXITED(wait_status) && WEXITSTATUS(wait_status) == 0) << (typed ? "typed" : "signal");
    for (int fd : {ready[0], ready[1], input[0], input[1]}) ::close(fd);
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
