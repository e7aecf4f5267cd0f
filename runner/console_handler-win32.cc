// The console control handler: Ctrl+C, Ctrl+Break, a closed console, and
// log-off and shutdown where the system still tells them to the console.
#include "runner/interrupt.h"
#include "runner/run_ending.h"

namespace {

BOOL WINAPI OnConsoleControl(DWORD kind) {
  switch (kind) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      // Never returns before the run has ended: for a closing console,
      // log-off and shutdown the system would end the process with a
      // status of its own as soon as the handler did.
      InterruptUntilEnded(kind);
    default:
      return FALSE;
  }
}

}  // namespace

void InstallInterruptHandler() {
  if (PrepareRunEnding()) SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}
