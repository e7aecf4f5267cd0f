#include "check/check_ending.h"
#include "check/watchdog.h"
#include "platform/console.h"

namespace {

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
        LeaveCriticalSection(&lock);
        EndCheckNow(limitFirst ? EndingCause::TimeLimit
                               : EndingCause::NoAnswer);
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

void ArmWatchdog(const std::string& call) {
  StopIfEnding();
  FlushOutput();
  SetCallInProgress(call);
  if (thread == nullptr) return;
  EnterCriticalSection(&lock);
  callEnd = GetTickCount64() + kCallLimitMs;
  state = kArmed;
  LeaveCriticalSection(&lock);
  SetEvent(wake);
}

void DisarmWatchdog() {
  if (thread != nullptr) {
    EnterCriticalSection(&lock);
    state = kIdle;
    LeaveCriticalSection(&lock);
  }
  // A stop waiting for the host's tie goes on now; an ending that has
  // begun ends the process, and this thread stops here.
  CallReturned();
  SetCallInProgress("");
}

bool CallArmed() {
  if (thread == nullptr) return false;
  EnterCriticalSection(&lock);
  const bool armed = state == kArmed;
  LeaveCriticalSection(&lock);
  return armed;
}
