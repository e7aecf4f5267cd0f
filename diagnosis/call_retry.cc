#include "diagnosis/call_retry.h"

int32_t RetryDelayFor(uint32_t rejectType, uint32_t elapsedMs) {
  if (rejectType != kServerCallRetryLater) return -1;
  if (elapsedMs >= kRetryBusyForMs) return -1;
  return static_cast<int32_t>(kRetryDelayMs);
}

bool RetryIgnoredCall(uint32_t status, uint32_t elapsedMs) {
  return status == kHostIgnoredCall && elapsedMs < kRetryBusyForMs;
}
