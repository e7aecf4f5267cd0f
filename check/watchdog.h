// The bound on every call the check makes into the host: a call that has
// not returned within 60 s, or before the time limit (ULVEX_TIME_LIMIT)
// runs out, ends the host through its job and the check with a failure.
#pragma once

#include <windows.h>

#include <string>

/// The longest a call into the host may take.
constexpr DWORD kCallLimitMs = 60000;

/// Starts the watchdog's thread. limitEndTick is when the time limit runs
/// out (GetTickCount64), 0 for none. False when it cannot be started: the
/// calls are then not bounded.
bool StartWatchdog(ULONGLONG limitEndTick);

/// Stops the thread and waits for it (at most a second), so that no second
/// thread is left when the process ends.
void StopWatchdog();

/// True once the time limit has run out.
bool TimeLimitPassed();

/// Before a call into the host: if it has not returned within
/// kCallLimitMs, the watchdog writes stuckText (the rest of the report, as
/// if the check ended there) to standard output; if the time limit runs
/// out first, limitText. Then it ends the host the check started and the
/// process, with status 1. Standard output is flushed first.
void ArmWatchdog(const std::string& stuckText, const std::string& limitText);

/// After the call. Should the watchdog have taken over meanwhile, never
/// returns: the process is ending.
void DisarmWatchdog();
