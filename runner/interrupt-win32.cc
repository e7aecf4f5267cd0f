#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>

#include "host/desktop_check.h"
#include "host/host_job.h"
#include "host/host_record.h"
#include "platform/console.h"
#include "platform/system_api.h"
#include "runner/interrupt.h"
#include "runner/line_end.h"
#include "runner/time_limit.h"

namespace {

constexpr int kExitInterrupted = 1;
constexpr DWORD kNotInterrupted = ~0u;
// Interruptions of the run's own, beside the console's CTRL_* events.
constexpr DWORD kClosingApplications = 0x100;  // an installer, an update
constexpr DWORD kTimeLimitReached = 0x101;

// How long the handler leaves the run's own thread to end the run in
// order. That thread notices at once while it waits for the add-in; when
// it is busy elsewhere (inside a call into a host that does not answer)
// the handler ends the run itself. The system allows a handler 5 seconds
// for a closing console before it ends the process on its own.
constexpr DWORD kGraceMs = 1000;
// How long the run's thread may take over its ordered ending before the
// handler ends the run all the same (its thread may be blocked writing to a
// pipe that nobody reads).
constexpr DWORD kOrderlyEndingMs = 3000;
// How long an ending waits for the host to go once it is told to.
constexpr DWORD kHostEndWaitMs = 2000;
// How long the handler's own lines may take to reach standard output.
constexpr DWORD kHandlerWriteMs = 500;
// How long the end of the run waits for its watching threads.
constexpr DWORD kThreadStopMs = 1000;
// The handler's lines: two lines and a time stamp, and the advice for a
// run without a desktop, which may name two folders.
constexpr size_t kEndingTextSize = 1536;

HANDLE interruptEvent = nullptr;
// Set when the run's thread begins to end the run in order: the handler
// then leaves the ending to it.
HANDLE orderlyEnding = nullptr;
// Set at the very end of the run: the watching threads end.
HANDLE threadsStop = nullptr;
HANDLE sessionThread = nullptr;
HANDLE limitThread = nullptr;
ULONGLONG startTick = 0;
ULONGLONG limitMs = 0;
char limitText[64] = "";  // the variable's value as given (digits, a unit)

std::atomic<DWORD> interruptKind{kNotInterrupted};
std::atomic<bool> reported{false};
std::atomic<bool> hostEndReported{false};
// Who ends an interrupted run: its own thread, in order, or the thread of
// the interruption (a handler, the session watch, the time limit).
enum Ender { kNobody, kRunThread, kHandler };
std::atomic<int> ender{kNobody};

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
    case kClosingApplications:
      return "an installer or an update closing programs";
    default:
      return "the system shutting down";
  }
}

// Appends printf-style text to buffer (always terminated, never overrun).
void Append(char* buffer, size_t size, const char* format, const char* a = "",
            const char* b = "", const char* c = "", const char* d = "") {
  const size_t used = strlen(buffer);
  if (used + 1 >= size) return;
  snprintf(buffer + used, size - used, format, a, b, c, d);
}

// The interruption's line, into buffer: for the time limit a progress-style
// line with the time stamp. Only Win32 calls and snprintf: no stdio lock.
void FormatInterruption(char* buffer, size_t size) {
  const DWORD kind = interruptKind.load();
  if (kind != kTimeLimitReached) {
    Append(buffer, size, "%sRun interrupted by %s.%s", LineEnd, Describe(kind),
           LineEnd);
    return;
  }
  SYSTEMTIME now;
  GetLocalTime(&now);
  // The progress lines' "%I:%M:%S", on the 12-hour clock.
  const int hour = now.wHour % 12 == 0 ? 12 : now.wHour % 12;
  char stamp[16];
  snprintf(stamp, sizeof stamp, "%02d:%02d:%02d", hour, now.wMinute,
           now.wSecond);
  Append(buffer, size,
         "%s%s:The Ulvex Task did not end within the time limit (", LineEnd,
         stamp);
  Append(buffer, size, "%s=%s).%s", kTimeLimitVariable, limitText, LineEnd);
  Append(buffer, size, "%s", DesktopAdviceForEnding());
}

void FormatHostEnded(char* buffer, size_t size) {
  Append(buffer, size, "Excel, which this run started, has been ended.%s",
         LineEnd);
}

struct PendingWrite {
  char bytes[2 * kEndingTextSize];
  DWORD length;
};

DWORD WINAPI WriteStandardOutput(void* context) {
  const PendingWrite& pending = *static_cast<const PendingWrite*>(context);
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), pending.bytes, pending.length,
            &written, nullptr);
  return 0;
}

// Writes text to the standard output handle on a thread of its own and
// waits for it a bounded time: a pipe whose reader stopped reading must not
// keep the process alive. Standard output is in text mode for the C
// runtime, so each "\n" goes out as "\r\n" as the runtime writes it.
void WriteBounded(const char* text) {
  static PendingWrite pending;
  DWORD length = 0;
  for (const char* at = text; *at != '\0' && length + 2 < sizeof pending.bytes;
       ++at) {
    if (*at == '\n') pending.bytes[length++] = '\r';
    pending.bytes[length++] = *at;
  }
  if (length == 0) return;
  pending.length = length;
  const HANDLE writer =
      CreateThread(nullptr, 0, WriteStandardOutput, &pending, 0, nullptr);
  if (writer == nullptr) return;
  WaitForSingleObject(writer, kHandlerWriteMs);
  CloseHandle(writer);
}

// Ends the run from a thread other than the run's own: the lines that are
// still due, then the host, then the process, taking no C runtime lock (the
// run's thread may hold the one of standard output). The lines go out
// while the host still runs: the run's thread, stuck in a call to the host,
// would go on (and print) once the host is gone. The host's end is not
// waited for; the process's end would end it all the same, through the
// job's kill-on-close.
[[noreturn]] void EndFromHandler() {
  char text[kEndingTextSize] = "";
  if (!reported.exchange(true)) FormatInterruption(text, sizeof text);
  const bool endHost = HostOfRunRunning() && !hostEndReported.exchange(true);
  if (endHost) FormatHostEnded(text, sizeof text);
  WriteBounded(text);
  // The record would name a process that has ended: no later run needs it.
  if (endHost && EndHostOfRun(0)) ForgetHost();
  // NOTE: ExitProcess would run the C runtime's clean-up on this thread
  // while the run's thread may hold its locks.
  TerminateProcess(GetCurrentProcess(), kExitInterrupted);
  ExitProcess(kExitInterrupted);
}

// Marks the run interrupted and wakes its waits. The run's own thread ends
// the run in order if it begins to within the grace period; otherwise this
// thread ends it. Returns only when the run's thread has ended the run in
// order and only its exit is left; a run's thread that takes longer than
// kOrderlyEndingMs over its ending (blocked on a full pipe) is ended too.
void Interrupt(DWORD kind) {
  DWORD none = kNotInterrupted;
  interruptKind.compare_exchange_strong(none, kind);
  SetEvent(interruptEvent);
  WaitForSingleObject(orderlyEnding, kGraceMs);
  int ending = kNobody;
  if (ender.compare_exchange_strong(ending, kHandler)) EndFromHandler();
  // Another interruption's thread ends the run and the process.
  if (ending == kHandler) Sleep(INFINITE);
  if (WaitForSingleObject(threadsStop, kOrderlyEndingMs) != WAIT_OBJECT_0)
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
      // The run's thread is leaving main. Never return before it has: for
      // a closing console, log-off and shutdown the system would end the
      // process with a status of its own.
      Sleep(kGraceMs);
      TerminateProcess(GetCurrentProcess(), kExitInterrupted);
      return TRUE;
    default:
      return FALSE;
  }
}

LRESULT CALLBACK OnSessionMessage(HWND window, UINT message, WPARAM wParam,
                                  LPARAM lParam) {
  if (message == WM_QUERYENDSESSION) return TRUE;
  if (message == WM_ENDSESSION && wParam != 0) {
    // Restart Manager (an installer or an update) closes programs with
    // ENDSESSION_CLOSEAPP; log-off may come with it.
    DWORD kind = CTRL_SHUTDOWN_EVENT;
    if ((lParam & ENDSESSION_LOGOFF) != 0)
      kind = CTRL_LOGOFF_EVENT;
    else if ((lParam & ENDSESSION_CLOSEAPP) != 0)
      kind = kClosingApplications;
    Interrupt(kind);
    return 0;
  }
  return ulvex::System().DefWindowProcW(window, message, wParam, lParam);
}

DWORD WINAPI SessionWatch(void*) {
  const ulvex::SystemApi& system = ulvex::System();
  // A run that ends at once needs no window.
  if (WaitForSingleObject(threadsStop, 0) == WAIT_OBJECT_0) return 0;
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
  // thread starts, so a run that ends while the thread is still starting
  // stops it all the same.
  for (;;) {
    const DWORD woken = system.MsgWaitForMultipleObjectsEx(
        1, &threadsStop, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    if (woken != WAIT_OBJECT_0 + 1) return 0;
    MSG message;
    while (system.PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) return 0;
      system.DispatchMessageW(&message);
    }
  }
}

// Claims the ending for the run's own thread. When an interruption's thread
// has claimed it already, that thread writes the lines and ends the process:
// this thread must not cut it short by leaving main, so it waits for that.
void ClaimEndingForRunThread() {
  int ending = kNobody;
  if (!ender.compare_exchange_strong(ending, kRunThread) && ending == kHandler)
    Sleep(INFINITE);
}

DWORD WINAPI TimeLimitWatch(void*) {
  const ULONGLONG now = GetTickCount64();
  const ULONGLONG deadline = startTick + limitMs;
  // NOTE: WaitForSingleObject's INFINITE is ~0u: the longest limit (1000 h)
  // stays below it.
  const DWORD left = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
  if (WaitForSingleObject(threadsStop, left) == WAIT_TIMEOUT)
    Interrupt(kTimeLimitReached);
  return 0;
}

}  // namespace

void InstallInterruptHandler() {
  startTick = GetTickCount64();
  interruptEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  orderlyEnding = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  threadsStop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (interruptEvent == nullptr || orderlyEnding == nullptr ||
      threadsStop == nullptr) {
    interruptEvent = nullptr;
    return;
  }
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

bool WatchTimeLimit() {
  constexpr wchar_t kVariable[] = L"ULVEX_TIME_LIMIT";
  constexpr DWORD kValueChars = 64;
  wchar_t value[kValueChars];
  SetLastError(ERROR_SUCCESS);
  const DWORD length = GetEnvironmentVariableW(kVariable, value, kValueChars);
  if (length == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND) return true;
  unsigned long seconds = 0;
  if (length >= kValueChars || !ParseTimeLimit(value, seconds)) {
    printf("%s='", kTimeLimitVariable);
    if (length < kValueChars) {
      WriteWideText(value);
    } else {
      std::wstring whole(length, L'\0');
      const DWORD got = GetEnvironmentVariableW(kVariable, &whole[0], length);
      whole.resize(got < length ? got : 0);
      WriteWideText(whole.c_str());
    }
    printf(
        "' is not a valid time limit: give a whole number of minutes, or a "
        "number followed by s, m or h (for example 90, 45s or 2h).%s",
        LineEnd);
    FlushOutput();
    return false;
  }
  // Valid text is digits and at most one letter: it fits, and it is ASCII.
  for (size_t i = 0; i < sizeof limitText - 1 && value[i] != L'\0'; ++i)
    limitText[i] = static_cast<char>(value[i]);
  limitMs = static_cast<ULONGLONG>(seconds) * 1000;
  if (interruptEvent != nullptr)
    limitThread = CreateThread(nullptr, 0, TimeLimitWatch, nullptr, 0, nullptr);
  return true;
}

void WatchSessionEnd() {
  if (interruptEvent == nullptr) return;
  sessionThread = CreateThread(nullptr, 0, SessionWatch, nullptr, 0, nullptr);
}

void StopWatchThreads() {
  if (interruptEvent == nullptr) return;
  // An interruption that comes now finds the run ending in order.
  ClaimEndingForRunThread();
  SetEvent(orderlyEnding);
  SetEvent(threadsStop);
  HANDLE threads[2];
  DWORD count = 0;
  if (sessionThread != nullptr) threads[count++] = sessionThread;
  if (limitThread != nullptr) threads[count++] = limitThread;
  if (count > 0) WaitForMultipleObjects(count, threads, TRUE, kThreadStopMs);
}

HANDLE InterruptEvent() { return interruptEvent; }

bool Interrupted() { return interruptKind.load() != kNotInterrupted; }

int EndInterruptedRun() {
  ClaimEndingForRunThread();
  if (interruptEvent != nullptr) SetEvent(orderlyEnding);
  if (!reported.exchange(true)) {
    char text[kEndingTextSize] = "";
    FormatInterruption(text, sizeof text);
    fflush(stdout);
    fputs(text, stdout);
    fflush(stdout);
  }
  if (EndHostOfRun(kHostEndWaitMs) && !hostEndReported.exchange(true)) {
    ForgetHost();  // it named the host that has just been ended
    char text[kEndingTextSize] = "";
    FormatHostEnded(text, sizeof text);
    fputs(text, stdout);
    fflush(stdout);
  }
  return kExitInterrupted;
}
