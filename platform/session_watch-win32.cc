// The hidden session window: log-off, shutdown and an installer closing
// programs, which the system announces by window message once a console
// program has loaded user32, and WM_CLOSE (taskkill without /f).
#include "platform/stop_signals.h"
#include "platform/system_api.h"

namespace {

// Set once, before the thread starts.
HANDLE stopEvent = nullptr;
StopHandler onSessionEnd = nullptr;
StopHandler onCloseRequest = nullptr;

LRESULT CALLBACK OnSessionMessage(HWND window, UINT message, WPARAM wParam,
                                  LPARAM lParam) {
  // The query is answered at once: the session may still go on (another
  // program may refuse), so the program ends only when it does end. Restart
  // Manager too asks first and closes programs with the end's message.
  if (message == WM_QUERYENDSESSION) return TRUE;
  if (message == WM_ENDSESSION && wParam != 0) {
    // Restart Manager (an installer or an update) closes programs with
    // ENDSESSION_CLOSEAPP; log-off may come with it.
    DWORD kind = CTRL_SHUTDOWN_EVENT;
    if ((lParam & ENDSESSION_LOGOFF) != 0)
      kind = CTRL_LOGOFF_EVENT;
    else if ((lParam & ENDSESSION_CLOSEAPP) != 0)
      kind = kClosingApplications;
    // Never returns: once every window has answered, the system may end
    // the process with a status of its own (0 under Wine).
    onSessionEnd(kind);
  }
  if (message == WM_CLOSE) {
    // A polite request to stop. The window stays: DefWindowProcW would
    // destroy it, and with it the program's ear for log-off and shutdown.
    onCloseRequest(kCloseRequested);
    return 0;
  }
  return ulvex::System().DefWindowProcW(window, message, wParam, lParam);
}

DWORD WINAPI SessionWatch(void*) {
  const ulvex::SystemApi& system = ulvex::System();
  HANDLE stop = stopEvent;
  // A program that ends at once needs no window.
  if (WaitForSingleObject(stop, 0) == WAIT_OBJECT_0) return 0;
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = OnSessionMessage;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = L"UlvexCmdLineSessionWatch";
  if (system.RegisterClassExW(&windowClass) == 0) return 0;
  // A top-level window that is never shown: a message-only window would
  // not receive the session's broadcasts.
  if (system.CreateWindowExW(0, windowClass.lpszClassName, L"", WS_OVERLAPPED,
                             0, 0, 0, 0, nullptr, nullptr, instance,
                             nullptr) == nullptr)
    return 0;
  // The stop event, not WM_QUIT, ends the loop: it is there before the
  // thread starts, so a program that ends while the thread is still
  // starting stops it all the same.
  for (;;) {
    const DWORD woken = system.MsgWaitForMultipleObjectsEx(
        1, &stop, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    if (woken != WAIT_OBJECT_0 + 1) return 0;
    MSG message;
    while (system.PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) return 0;
      system.DispatchMessageW(&message);
    }
  }
}

}  // namespace

HANDLE StartSessionWatch(HANDLE stop, StopHandler untilEnded,
                         StopHandler request) {
  if (stop == nullptr) return nullptr;
  stopEvent = stop;
  onSessionEnd = untilEnded;
  onCloseRequest = request;
  return CreateThread(nullptr, 0, SessionWatch, nullptr, 0, nullptr);
}
