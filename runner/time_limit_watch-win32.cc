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
  const TimeLimit limit = ReadTimeLimit();
  if (limit.setting == TimeLimitSetting::Unset) return true;
  if (limit.setting == TimeLimitSetting::Invalid) {
    WriteWideText(InvalidTimeLimitLine(limit.text).c_str());
    printf("%s", LineEnd);
    FlushOutput();
    return false;
  }
  SetTimeLimitText(limit.text.c_str());
  limitMs = static_cast<ULONGLONG>(limit.seconds) * 1000;
  if (WatchThreadsStop() != nullptr)
    AddWatchThread(
        CreateThread(nullptr, 0, TimeLimitWatch, nullptr, 0, nullptr));
  return true;
}
