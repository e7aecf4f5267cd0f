// The console control handler: Ctrl+C, Ctrl+Break, a closed console, and
// log-off and shutdown where the system still tells them to the console.
#include "runner/interrupt.h"
#include "runner/run_ending.h"

namespace {

// How long the handler waits, once the run's thread is ending the run, for
// the process to end before it ends it itself.
constexpr DWORD kExitWaitMs = 1000;

BOOL WINAPI OnConsoleControl(DWORD kind) {
  switch (kind) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      Interrupt(kind);
      // The run's thread is leaving main. Never return before it has: for
      // a closing console, log-off and shutdown the system would end the
      // process with a status of its own.
      Sleep(kExitWaitMs);
      TerminateProcess(GetCurrentProcess(), EndingStatus());
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

void InstallInterruptHandler() {
  if (PrepareRunEnding()) SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}
