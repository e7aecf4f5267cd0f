#include <gtest/gtest.h>

#include "tests/support/run_program.h"

namespace {

using ulvex_test::QuotedProgramPath;
using ulvex_test::RunProgram;

TEST(SmokeTest, ProgramStartsAndEnds) {
  const auto run = RunProgram(QuotedProgramPath() + L" /x");
  ASSERT_TRUE(run.started);
  EXPECT_FALSE(run.timedOut);
}

}  // namespace
