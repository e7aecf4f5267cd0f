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
