// What to do with a call into the host that the host rejected, apart from
// COM so that the decisions can be tried on their own.
#pragma once

#include <cstdint>

/// The host's answers to an incoming call (the platform's SERVERCALL_*).
constexpr uint32_t kServerCallRejected = 1;
constexpr uint32_t kServerCallRetryLater = 2;

/// How long a call the host answers as busy is tried again, and how long
/// each try waits before it is made again.
constexpr uint32_t kRetryBusyForMs = 60000;
constexpr uint32_t kRetryDelayMs = 250;

/// The answer to give the platform for a rejected call: the milliseconds
/// to wait before the call is made again, or -1 to give up, after which
/// the call fails with the host's rejection. Only "busy, retry later" is
/// tried again, and only while elapsedMs (since the first try) is below
/// kRetryBusyForMs; a flat rejection fails at once.
int32_t RetryDelayFor(uint32_t rejectType, uint32_t elapsedMs);

/// VBA_E_IGNORE: the host took the call but ignored it, being in a state
/// where it takes none (just started, a dialog open, a cell in edit).
constexpr uint32_t kHostIgnoredCall = 0x800AC472u;

/// Whether a call that failed with status, elapsedMs after its first try,
/// is made again (after kRetryDelayMs): only a call the host ignored, and
/// only for as long as a host that says "retry later" is waited for.
bool RetryIgnoredCall(uint32_t status, uint32_t elapsedMs);
