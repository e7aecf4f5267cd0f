// The help screen of the real program: /h, an empty command line, /help
// among other switches, and the width taken from COLUMNS.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/expected_usage.h"
#include "tests/support/run_program.h"

namespace {

using ulvex_test::ProgramRun;
using ulvex_test::QuotedProgramPath;
using ulvex_test::RunOptions;
using ulvex_test::RunProgram;
using ulvex_test::Widen;

// The help paths end before the launch; a run that took this long would be
// waiting for a key press it cannot get.
constexpr DWORD kHelpTimeoutMs = 15000;

const char kKeyPrompt[] = "Press any key to exit...\n";

// Standard output is in text mode: every "\n" reaches the pipe as "\r\n".
std::string AsWritten(const std::string& text) {
  std::string written;
  for (char c : text) {
    if (c == '\n') written += '\r';
    written += c;
  }
  return written;
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() &&
         text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Runs the program with COLUMNS unset, or set to columns when given.
ProgramRun RunHelp(const std::string& arguments, const wchar_t* columns) {
  RunOptions options;
  options.timeoutMs = kHelpTimeoutMs;
  if (columns != nullptr)
    options.setEnv[L"COLUMNS"] = columns;
  else
    options.unsetEnv[L"COLUMNS"] = true;
  std::wstring commandLine = QuotedProgramPath();
  if (!arguments.empty()) commandLine += L" " + Widen(arguments);
  return RunProgram(commandLine, options);
}

TEST(HelpTest, HelpSwitchPrintsBannerAndUsage) {
  const struct {
    const char* arguments;
    const char* absent;  // a text of the run that must not appear
  } cases[] = {
      {"/h", kKeyPrompt},
      {"/help", kKeyPrompt},
      {"/help /taskid=7", "Parameters validated"},
      {"/taskid=7 /h /auto", "Argument #"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments);
    const ProgramRun run = RunHelp(c.arguments, nullptr);
    ASSERT_TRUE(run.started);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_EQ(run.err, "");
    EXPECT_TRUE(EndsWith(run.out, AsWritten(ulvex_test::kUsageAt80)))
        << run.out;
    // The banner comes first: something precedes the usage.
    EXPECT_GT(run.out.size(), AsWritten(ulvex_test::kUsageAt80).size());
    EXPECT_EQ(run.out.find(c.absent), std::string::npos);
  }
}

TEST(HelpTest, EmptyCommandLineAsksForAKeyAndEndsWithoutAConsole) {
  const ProgramRun run = RunHelp("", nullptr);
  ASSERT_TRUE(run.started);
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 1u);
  EXPECT_EQ(run.err, "");
  EXPECT_TRUE(EndsWith(run.out, AsWritten(ulvex_test::kUsageAt80 + kKeyPrompt)))
      << run.out;
}

TEST(HelpTest, ColumnsSetsTheLayoutWidth) {
  const struct {
    const wchar_t* columns;
    const std::string* usage;
  } cases[] = {
      {L"40", &ulvex_test::kUsageAt40},
      {L"40abc", &ulvex_test::kUsageAt40},
      {L"20", &ulvex_test::kUsageAt20},
      {L"80", &ulvex_test::kUsageAt80},
      {L"0", &ulvex_test::kUsageAt80},
      {L"-5", &ulvex_test::kUsageAt80},
      {L"wide", &ulvex_test::kUsageAt80},
      {L"", &ulvex_test::kUsageAt80},
      {L"20000", &ulvex_test::kUsageAt10000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(ulvex_test::Narrow(c.columns));
    const ProgramRun run = RunHelp("/h", c.columns);
    ASSERT_TRUE(run.started);
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_TRUE(EndsWith(run.out, AsWritten(*c.usage))) << run.out;
  }
}

}  // namespace
