// The time-limit watchdog: ULVEX_TIME_LIMIT read once, and a thread that
// interrupts the run when the limit, counted from the program's start, runs
// out.
#include <cstdio>
#include <string>

#include "platform/console.h"
#include "platform/time_limit.h"
#include "runner/interrupt.h"
#include "runner/line_end.h"
#include "runner/run_ending.h"

namespace {

ULONGLONG limitMs = 0;

DWORD WINAPI TimeLimitWatch(void*) {
  const ULONGLONG now = GetTickCount64();
  const ULONGLONG deadline = RunStartTick() + limitMs;
  // NOTE: WaitForSingleObject's INFINITE is ~0u: the longest limit (1000 h)
  // stays below it.
  const DWORD left = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
  if (WaitForSingleObject(WatchThreadsStop(), left) == WAIT_TIMEOUT)
    Interrupt(kTimeLimitReached);
  return 0;
}

}  // namespace

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
  SetTimeLimitText(value);
  limitMs = static_cast<ULONGLONG>(seconds) * 1000;
  if (WatchThreadsStop() != nullptr)
    AddWatchThread(
        CreateThread(nullptr, 0, TimeLimitWatch, nullptr, 0, nullptr));
  return true;
}
