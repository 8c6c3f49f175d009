#include "cli/stop_signal.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace vok::cli {

namespace {

std::atomic<int> g_stop{0};
static_assert(std::atomic<int>::is_always_lock_free, "the flag is set in a signal handler");

extern "C" void OnStopSignal(int signo) {
  int none = 0;
  if (g_stop.compare_exchange_strong(none, 128 + signo)) return;
  // Asked twice: the default action, at once.
  ::signal(signo, SIG_DFL);
  ::raise(signo);
}

}  // namespace

void InstallStopHandlers() {
  struct sigaction action = {};
  action.sa_handler = OnStopSignal;
  // Calls that wait (poll, sleeps) come back early and look at the clock
  // again; the others simply go on.
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (int signo : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&action.sa_mask, signo);
  for (int signo : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signo, &action, nullptr);
}

int StopStatus() { return g_stop.load(); }

void RunFinished() {}

void IgnoreClosedPipes() { ::signal(SIGPIPE, SIG_IGN); }

bool AwaitInputUnlessStopped() {
  for (;;) {
    if (StopStatus() != 0) return false;
    pollfd in = {STDIN_FILENO, POLLIN, 0};
    const int ready = ::poll(&in, 1, 100);
    // A signal cuts the wait short (poll is never restarted): the flag is
    // looked at again rather than the read begun, which would go on.
    if (ready > 0 || (ready < 0 && errno != EINTR)) return true;
  }
}

}  // namespace vok::cli
