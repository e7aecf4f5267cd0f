#include <atomic>
#include <cstdio>

#include "platform/system_api.h"
#include "runner/interrupt.h"
#include "runner/line_end.h"

namespace {

constexpr int kExitInterrupted = 1;
constexpr DWORD kNotInterrupted = ~0u;

// How long the handler leaves the run's own thread to end the run in
// order. That thread notices at once while it waits for the add-in; when
// it is busy elsewhere (inside a call into a host that does not answer)
// the handler ends the run itself. The system allows a handler 5 seconds
// for a closing console before it ends the process on its own.
constexpr DWORD kGraceMs = 1000;

HANDLE interruptEvent = nullptr;
std::atomic<DWORD> interruptKind{kNotInterrupted};
std::atomic<bool> reported{false};

const char* Describe(DWORD kind) {
  switch (kind) {
    case CTRL_C_EVENT:
      return "Ctrl+C";
    case CTRL_BREAK_EVENT:
      return "Ctrl+Break";
    case CTRL_CLOSE_EVENT:
      return "closing the console window";
    case CTRL_LOGOFF_EVENT:
      return "the user logging off";
    default:
      return "the system shutting down";
  }
}

[[noreturn]] void EndFromHandler() {
  EndInterruptedRun();
  // NOTE: ExitProcess would run the C runtime's clean-up on this thread
  // while the run's thread may hold its locks; all is flushed already.
  TerminateProcess(GetCurrentProcess(), kExitInterrupted);
  ExitProcess(kExitInterrupted);
}

// Marks the run interrupted, wakes its wait, and ends it here if its own
// thread does not within the grace period. Never returns: for a closing
// console, log-off and shutdown the system would end the process with its
// own status as soon as the handler returned.
[[noreturn]] void Interrupt(DWORD kind) {
  DWORD none = kNotInterrupted;
  interruptKind.compare_exchange_strong(none, kind);
  SetEvent(interruptEvent);
  Sleep(kGraceMs);
  EndFromHandler();
}

BOOL WINAPI OnConsoleControl(DWORD kind) {
  switch (kind) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      Interrupt(kind);
    default:
      return FALSE;
  }
}

LRESULT CALLBACK OnSessionMessage(HWND window, UINT message, WPARAM wParam,
                                  LPARAM lParam) {
  if (message == WM_QUERYENDSESSION) return TRUE;
  if (message == WM_ENDSESSION && wParam != 0)
    Interrupt((lParam & ENDSESSION_LOGOFF) != 0 ? CTRL_LOGOFF_EVENT
                                                : CTRL_SHUTDOWN_EVENT);
  return ulvex::System().DefWindowProcW(window, message, wParam, lParam);
}

DWORD WINAPI SessionWatch(void*) {
  const ulvex::SystemApi& system = ulvex::System();
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
  MSG message;
  while (system.GetMessageW(&message, nullptr, 0, 0) > 0)
    system.DispatchMessageW(&message);
  return 0;
}

}  // namespace

void InstallInterruptHandler() {
  interruptEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (interruptEvent != nullptr) SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

void WatchSessionEnd() {
  if (interruptEvent == nullptr) return;
  const HANDLE thread =
      CreateThread(nullptr, 0, SessionWatch, nullptr, 0, nullptr);
  if (thread != nullptr) CloseHandle(thread);
}

HANDLE InterruptEvent() { return interruptEvent; }

bool Interrupted() { return interruptKind.load() != kNotInterrupted; }

int EndInterruptedRun() {
  if (!reported.exchange(true)) {
    fflush(stdout);
    printf("%sRun interrupted by %s.%s", LineEnd, Describe(interruptKind),
           LineEnd);
    fflush(stdout);
  }
  return kExitInterrupted;
}
