#pragma once

// The command line's answer to Ctrl-C and its kin. The first request to
// stop only raises a flag; the procedures see it through
// UserInterface::StopRequested before their next target command and end at
// that safe point, leaving what a resume needs and nothing else. A second
// request ends the program at once, as the system would have: the journal
// holds for that too. The flag is the process's one global.

namespace vok::cli {

// POSIX: SIGINT, SIGTERM and SIGHUP. Windows: Ctrl-C, Ctrl-Break and the
// closing of the console (logoff and shutdown as well).
void InstallStopHandlers();

// 0 while no stop was asked for; then the exit status that tells how: 130
// for SIGINT, Ctrl-C or Ctrl-Break, 143 for SIGTERM or a closed console,
// 129 for SIGHUP.
int StopStatus();

// Called once the run has reached its end: a closing console waits for it,
// since the system ends the process as soon as the handler returns.
void RunFinished();

// A reader that goes away (a closed pipe) must not kill an update half way:
// writes then fail quietly and the procedure runs to its end.
void IgnoreClosedPipes();

// Waits until standard input has something to read (true) or a stop is
// asked for (false), so that Ctrl-C at a question answers No: the read itself
// would go on. Windows leaves the wait to the read (true at once).
bool AwaitInputUnlessStopped();

#ifdef _WIN32
// The console control handler itself, for the tests: TRUE when the event
// was taken as a request to stop.
int OnConsoleEvent(unsigned long event);
#endif

}  // namespace vok::cli
