#include <cstdio>
#include <string>

#include "check/watchdog.h"
#include "ownership/host_job.h"
#include "platform/console.h"

namespace {

constexpr UINT kExitFailed = 1;
// How long ending the host, and writing the last lines, may take.
constexpr DWORD kHostEndWaitMs = 2000;
constexpr DWORD kWriteWaitMs = 1000;
constexpr DWORD kThreadStopMs = 1000;

enum State { kIdle, kArmed, kFired };

CRITICAL_SECTION lock;
HANDLE wake = nullptr;  // auto-reset: the thread looks again
HANDLE thread = nullptr;
ULONGLONG limitEnd = 0;
// Guarded by lock.
State state = kIdle;
bool stopping = false;
ULONGLONG callEnd = 0;
std::string stuck;
std::string limited;
// The bytes the watchdog writes, "\n" as "\r\n" as the C runtime writes it.
std::string pending;

DWORD WINAPI WriteStandardOutput(void*) {
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), pending.data(),
            static_cast<DWORD>(pending.size()), &written, nullptr);
  return 0;
}

// The call has not returned: the rest of the report goes out (on a thread
// of its own, bounded: a pipe that nobody reads must not keep the check
// alive), the host ends with its job, and so does the process.
[[noreturn]] void TakeOver(const std::string& text) {
  for (char c : text) {
    if (c == '\n') pending += '\r';
    pending += c;
  }
  const HANDLE writer =
      CreateThread(nullptr, 0, WriteStandardOutput, nullptr, 0, nullptr);
  if (writer != nullptr) {
    WaitForSingleObject(writer, kWriteWaitMs);
    CloseHandle(writer);
  }
  EndHostOfRun(kHostEndWaitMs);
  // NOTE: ExitProcess would run the C runtime's clean-up while the check's
  // thread, inside the call, may hold its locks.
  TerminateProcess(GetCurrentProcess(), kExitFailed);
  ExitProcess(kExitFailed);
}

DWORD WINAPI Watch(void*) {
  for (;;) {
    DWORD waitMs = INFINITE;
    EnterCriticalSection(&lock);
    if (stopping) {
      LeaveCriticalSection(&lock);
      return 0;
    }
    if (state == kArmed) {
      const ULONGLONG now = GetTickCount64();
      const bool limitFirst = limitEnd != 0 && limitEnd <= callEnd;
      const ULONGLONG end = limitFirst ? limitEnd : callEnd;
      if (now >= end) {
        state = kFired;
        const std::string text = limitFirst ? limited : stuck;
        LeaveCriticalSection(&lock);
        TakeOver(text);
      }
      waitMs = static_cast<DWORD>(end - now);
    }
    LeaveCriticalSection(&lock);
    WaitForSingleObject(wake, waitMs);
  }
}

}  // namespace

bool StartWatchdog(ULONGLONG limitEndTick) {
  InitializeCriticalSection(&lock);
  limitEnd = limitEndTick;
  wake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (wake == nullptr) return false;
  thread = CreateThread(nullptr, 0, Watch, nullptr, 0, nullptr);
  return thread != nullptr;
}

void StopWatchdog() {
  if (thread == nullptr) return;
  EnterCriticalSection(&lock);
  stopping = true;
  LeaveCriticalSection(&lock);
  SetEvent(wake);
  WaitForSingleObject(thread, kThreadStopMs);
  CloseHandle(thread);
  thread = nullptr;
}

bool TimeLimitPassed() { return limitEnd != 0 && GetTickCount64() >= limitEnd; }

void ArmWatchdog(const std::string& stuckText, const std::string& limitText) {
  FlushOutput();
  if (thread == nullptr) return;
  EnterCriticalSection(&lock);
  stuck = stuckText;
  limited = limitText;
  callEnd = GetTickCount64() + kCallLimitMs;
  state = kArmed;
  LeaveCriticalSection(&lock);
  SetEvent(wake);
}

void DisarmWatchdog() {
  if (thread == nullptr) return;
  EnterCriticalSection(&lock);
  const bool fired = state == kFired;
  state = kIdle;
  LeaveCriticalSection(&lock);
  // The watchdog writes the report's end and ends the process.
  if (fired) Sleep(INFINITE);
}
