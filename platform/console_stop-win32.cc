// The console control handler: Ctrl+C, Ctrl+Break, a closed console, and
// log-off and shutdown where the system still tells them to the console.
#include "platform/stop_signals.h"

namespace {

StopHandler onStop = nullptr;

BOOL WINAPI OnConsoleControl(DWORD kind) {
  switch (kind) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      // Never returns before the program has ended: for a closing
      // console, log-off and shutdown the system would end the process
      // with a status of its own as soon as the handler did.
      onStop(kind);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

void InstallConsoleStopHandler(StopHandler untilEnded) {
  onStop = untilEnded;
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

const char* StopKindWords(DWORD kind) {
  switch (kind) {
    case CTRL_C_EVENT:
      return "Ctrl+C";
    case CTRL_BREAK_EVENT:
      return "Ctrl+Break";
    case CTRL_CLOSE_EVENT:
      return "closing the console window";
    case CTRL_LOGOFF_EVENT:
      return "the user logging off";
    case kClosingApplications:
      return "an installer or an update closing programs";
    case kCloseRequested:
      return "a request to close the program";
    default:
      return "the system shutting down";
  }
}
