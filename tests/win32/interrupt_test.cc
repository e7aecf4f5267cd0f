// The watching threads of a run end with it: a time-limit watchdog that
// did not wake at the run's end would hold every run with a time limit
// for the end's whole wait.
#include "runner/interrupt.h"

#include <gtest/gtest.h>
#include <windows.h>

namespace {

TEST(InterruptTest, TheTimeLimitWatchEndsWithTheRun) {
  ASSERT_TRUE(SetEnvironmentVariableW(L"ULVEX_TIME_LIMIT", L"1h"));
  InstallInterruptHandler();
  ASSERT_NE(InterruptEvent(), nullptr);
  ASSERT_TRUE(WatchTimeLimit());
  WatchSessionEnd();
  EXPECT_TRUE(StopWatchThreads());
  EXPECT_FALSE(Interrupted());
  SetEnvironmentVariableW(L"ULVEX_TIME_LIMIT", nullptr);
}

}  // namespace
