#include "diagnosis/call_retry.h"

#include <gtest/gtest.h>

namespace {

// The decisions behind the message filter, at their bounds; a busy stand-in
// host shows the filter itself at work.
TEST(CallRetryTest, OnlyABusyHostIsTriedAgainForAMinute) {
  const struct {
    const char* name;
    uint32_t rejectType;
    uint32_t elapsedMs;
    int32_t delay;
  } rows[] = {
      {"busy, first refusal", kServerCallRetryLater, 0, 250},
      {"busy for 59.999 s", kServerCallRetryLater, 59999, 250},
      {"busy for a minute: give up", kServerCallRetryLater, 60000, -1},
      {"busy far longer", kServerCallRetryLater, 4000000000u, -1},
      {"rejected outright: fail at once", kServerCallRejected, 0, -1},
      {"an answer of no known kind", 7, 0, -1},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(RetryDelayFor(row.rejectType, row.elapsedMs), row.delay);
  }
}

// A call the host ignored while busy is made again for as long as a host
// that says "retry later"; any other failure is final at once.
TEST(CallRetryTest, AnIgnoredCallIsMadeAgainForAMinute) {
  const struct {
    const char* name;
    uint32_t status;
    uint32_t elapsedMs;
    bool retry;
  } rows[] = {
      {"ignored, first try", kHostIgnoredCall, 0, true},
      {"ignored for 59.999 s", kHostIgnoredCall, 59999, true},
      {"ignored for a minute: give up", kHostIgnoredCall, 60000, false},
      {"the host's exception: final", 0x80020009u, 0, false},
      {"the host has gone: final", 0x800706BAu, 0, false},
      {"succeeded", 0, 0, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(RetryIgnoredCall(row.status, row.elapsedMs), row.retry);
  }
}

}  // namespace
