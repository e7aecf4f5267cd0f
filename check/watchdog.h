// The bound on every call the check makes into the host: a call that has
// not returned within 60 s, or before the time limit (ULVEX_TIME_LIMIT)
// runs out, ends the check at once (check/check_ending.h).
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

/// Before a call into the host (call names it in the report): if it has
/// not returned within kCallLimitMs, or before the time limit runs out,
/// the check ends at once. Stops the calling thread for good when an
/// ending has begun.
void ArmWatchdog(const std::string& call);

/// After the call. Should an ending have begun meanwhile, never returns.
void DisarmWatchdog();

/// True while a call is armed.
bool CallArmed();
