#include "cli/stop_signal.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <atomic>

namespace vok::cli {

namespace {

// The exit status asked for, and kFinished once the run is over. The
// handler runs on a thread of its own.
constexpr int kFinished = 0x10000;
std::atomic<int> g_stop{0};

// How long a closing console may wait for the run: the system ends the
// process after about five seconds whatever the handler does.
constexpr DWORD kCloseGraceMs = 4500;

BOOL WINAPI ConsoleHandler(DWORD event) { return OnConsoleEvent(event) ? TRUE : FALSE; }

}  // namespace

int OnConsoleEvent(unsigned long event) {
  const bool closing = event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT ||
                       event == CTRL_SHUTDOWN_EVENT;
  if (!closing && event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  int none = 0;
  // Asked twice: the next handler, the system's, ends the process at once.
  if (!g_stop.compare_exchange_strong(none, closing ? 143 : 130)) return FALSE;
  if (closing) {
    for (DWORD waited = 0; waited < kCloseGraceMs && (g_stop.load() & kFinished) == 0; waited += 50)
      ::Sleep(50);
  }
  return TRUE;
}

void InstallStopHandlers() { ::SetConsoleCtrlHandler(ConsoleHandler, TRUE); }

int StopStatus() { return g_stop.load() & ~kFinished; }

void RunFinished() { g_stop.fetch_or(kFinished); }

// Writes to a closed pipe fail with an error here; there is no signal.
void IgnoreClosedPipes() {}

bool AwaitInputUnlessStopped() { return true; }

}  // namespace vok::cli
