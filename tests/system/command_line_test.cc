// The command line as a user types it: parse errors, the missing task
// identifier, the help switch and the echo of what was understood, checked
// on the real program's stdout, stderr and exit status.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/run_program.h"

namespace {

using ulvex_test::Lines;
using ulvex_test::QuotedProgramPath;
using ulvex_test::RunOptions;
using ulvex_test::RunProgram;
using ulvex_test::Widen;

// A run that gets past the parser goes on to the launch; it must still end
// well within the test's own time limit (at most five such runs per test).
constexpr DWORD kRunTimeoutMs = 20000;

constexpr const char* kHints =
    "\nUse /h parameter to display Ulvex command line help.\n"
    "Note : Parameter options are cAse sSnsItivE.\n";
constexpr const char* kHeader =
    "Parameters validated, loading Ulvex with commands :";


struct Result {
  std::string out;
  std::string err;
  DWORD status = 0;
  bool timedOut = false;
};

Result RunCommandLine(const std::string& arguments,
                      bool errorsToOutput = false) {
  RunOptions options;
  options.timeoutMs = kRunTimeoutMs;
  options.errorsToOutput = errorsToOutput;
  const ulvex_test::ProgramRun run =
      RunProgram(QuotedProgramPath() + L" " + Widen(arguments), options);
  EXPECT_TRUE(run.started);
  Result result;
  result.out = Lines(run.out);
  result.err = Lines(run.err);
  result.status = run.exitCode;
  result.timedOut = run.timedOut;
  return result;
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() &&
         text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// An echo block from its lines, each ended (and the header also begun)
// with the run's line end.
std::string EchoBlock(const std::vector<std::string>& lines,
                      const std::string& lineEnd) {
  std::string block = lineEnd + kHeader + lineEnd;
  for (const std::string& line : lines) block += line + lineEnd;
  return block;
}

struct EchoCase {
  const char* arguments;
  const char* lineEnd;
  std::vector<std::string> lines;  // the echo lines after the header
};

// The exact echo block, and no further echo line after it. What the banner
// prints before it and the launch after it is not this test's business.
void ExpectEchoes(const std::vector<EchoCase>& cases) {
  for (const EchoCase& row : cases) {
    SCOPED_TRACE(row.arguments);
    const Result result = RunCommandLine(row.arguments);
    const std::string block = EchoBlock(row.lines, row.lineEnd);
    const size_t at = result.out.find(block);
    ASSERT_NE(at, std::string::npos) << result.out;
    const std::string after = result.out.substr(at + block.size());
    EXPECT_NE(after.rfind("Argument #", 0), 0u) << after;
    EXPECT_NE(after.rfind("Non-option argument #", 0), 0u) << after;
    EXPECT_EQ(after.find(kHeader), std::string::npos);
    EXPECT_EQ(result.err, "");
  }
}

TEST(CommandLineTest, ParseErrorsPrintTheCheckMessageAndHints) {
  struct Case {
    const char* arguments;
    const char* quoted;  // the part of the message on stdout
    const char* err;     // the pieces around it on stderr
    // With both streams on one handle, as "> log 2>&1" gives them: the
    // whole message, which must read in order.
    const char* together = nullptr;
  };
  const Case cases[] = {
      {"/x", "x", "Unknown option ''\n"},
      {"/xyz /taskid=1", "xyz", "Unknown option ''\n"},
      {"/P1", "P1", "Unknown option ''\n"},
      {"/p31", "p31", "Unknown option ''\n"},
      {"/taskid=1 /p", "p", "Unknown option ''\n"},
      {"/=x", "/=x", "Unknown option ''\n"},
      {"--=x", "--=x", "Unknown option ''\n"},
      {"/taskid", "/taskid", "Option '' requires an argument\n"},
      {"/auto /t", "/t", "Option '' requires an argument\n"},
      // The parse fails before /html takes effect: plain line ends.
      {"/html /x", "x", "Unknown option ''\n"},
      {"/taskid=7 /Auto", "Auto", "Unknown option ''\n",
       "Unknown option 'Auto'\n"},
      {"/auto /taskid", "/taskid", "Option '' requires an argument\n",
       "Option '/taskid' requires an argument\n"},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.arguments);
    const Result result = RunCommandLine(row.arguments);
    EXPECT_FALSE(result.timedOut);
    // No banner and no echo: the message and the hints are all there is.
    EXPECT_EQ(result.out, std::string(row.quoted) + kHints);
    EXPECT_EQ(result.err, row.err);
    EXPECT_EQ(result.status, 1u);
    if (row.together == nullptr) continue;
    const Result shared = RunCommandLine(row.arguments, true);
    EXPECT_EQ(shared.out, std::string(row.together) + kHints);
    EXPECT_EQ(shared.err, "");
    EXPECT_EQ(shared.status, 1u);
  }
}

TEST(CommandLineTest, MissingTaskIdEndsTheRun) {
  struct Case {
    const char* arguments;
    const char* lineEnd;
  };
  const Case cases[] = {
      {"/auto", "\n"},
      {"/html /auto /p1=x", "<br>"},
      // After a non-option argument or the end marker, switches are only
      // arguments, so the task identifier is not seen.
      {"/auto x /taskid=1", "\n"},
      {"-- /taskid=1", "\n"},
      {"/auto=1 - /taskid=1", "\n"},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.arguments);
    const Result result = RunCommandLine(row.arguments);
    const std::string lineEnd = row.lineEnd;
    EXPECT_FALSE(result.timedOut);
    EXPECT_TRUE(EndsWith(result.out,
                         lineEnd + "Ulvex TaskID was not specified" + lineEnd +
                             lineEnd +
                             "Use /h parameter to display Ulvex command line "
                             "help." +
                             lineEnd))
        << result.out;
    EXPECT_EQ(result.out.find(kHeader), std::string::npos);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 1u);
  }
}

TEST(CommandLineTest, HelpAmongOtherSwitchesShowsNoEcho) {
  const char* cases[] = {
      "/taskid=7 /h", "/help /taskid=7 /auto", "/he", "/taskid=7 /hel /p1=x",
      "-h",
  };
  for (const char* arguments : cases) {
    SCOPED_TRACE(arguments);
    const Result result = RunCommandLine(arguments);
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.out.find(kHeader), std::string::npos);
    EXPECT_EQ(result.out.find("Press any key to exit..."), std::string::npos);
    EXPECT_EQ(result.out.find("TaskID was not specified"), std::string::npos);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 1u);
  }
}

TEST(CommandLineTest, EchoOfEverySlot) {
  ExpectEchoes({
      {"/auto /taskid=7 /dataload /validate /send /quitok",
       "\n",
       {"Argument #0 is -Auto enabled", "Argument #1 is -TaskID set to '7'",
        "Argument #2 is -Load data enabled",
        "Argument #3 is -Validate data enabled",
        "Argument #4 is -Send data enabled",
        "Argument #5 is -Quit on completion or failure enabled"}},
      {"/taskid=7 /html",
       "<br>",
       {"Argument #0 is -TaskID set to '7'",
        "Argument #1 is -HTML output enabled"}},
      // A repeated switch is echoed each time, with its own number.
      {"/taskid=7 /auto /auto",
       "\n",
       {"Argument #0 is -TaskID set to '7'", "Argument #1 is -Auto enabled",
        "Argument #2 is -Auto enabled"}},
      // Letter forms and abbreviations reach the same slots.
      {"/t=5 /a /ht /d /v /s /q /10 /0",
       "<br>",
       {"Argument #0 is -TaskID set to '5'", "Argument #1 is -Auto enabled",
        "Argument #2 is -HTML output enabled",
        "Argument #3 is -Load data enabled",
        "Argument #4 is -Validate data enabled",
        "Argument #5 is -Send data enabled",
        "Argument #6 is -Quit on completion or failure enabled",
        "Argument #7 is -Task Parameter with optional argument '0'",
        "Argument #8 is -Task Parameter without the optional argument"}},
  });
}

TEST(CommandLineTest, EchoOfParameterValues) {
  ExpectEchoes({
      {"/taskid=7 /p2=x",
       "\n",
       {"Argument #0 is -TaskID set to '7'",
        "Argument #1 is -Task Parameter with optional argument 'x'"}},
      {"/taskid=7 /p1",
       "\n",
       {"Argument #0 is -TaskID set to '7'",
        "Argument #1 is -Task Parameter without the optional argument"}},
      // A switch takes the next element as its value, and that element is
      // then read as a switch of its own.
      {"/p1 /p2 /p3 /p30= /taskid=7",
       "\n",
       {"Argument #0 is -Task Parameter with optional argument '/p2'",
        "Argument #1 is -Task Parameter with optional argument '/p3'",
        "Argument #2 is -Task Parameter with optional argument '/p30='",
        "Argument #3 is -Task Parameter with optional argument ''",
        "Argument #4 is -TaskID set to '7'"}},
      {"/p1=a=b /p1=a /taskid=\"A B\"",
       "\n",
       {"Argument #0 is -Task Parameter with optional argument 'a=b'",
        "Argument #1 is -Task Parameter with optional argument 'a'",
        "Argument #2 is -TaskID set to 'A B'"}},
      {"/taskid= /html",
       "<br>",
       {"Argument #0 is -TaskID set to ''",
        "Argument #1 is -HTML output enabled"}},
  });
}

TEST(CommandLineTest, EchoOfNonOptionArguments) {
  ExpectEchoes({
      {"/taskid=7 one two",
       "\n",
       {"Argument #0 is -TaskID set to '7'", "Non-option argument #0 is one",
        "Non-option argument #1 is two"}},
      // ABC is the task identifier and also the first leftover element, so
      // /auto after it is left over too.
      {"/taskid ABC /auto",
       "\n",
       {"Argument #0 is -TaskID set to 'ABC'", "Non-option argument #0 is ABC",
        "Non-option argument #1 is /auto"}},
      {"/taskid=7 -- /auto x",
       "\n",
       {"Argument #0 is -TaskID set to '7'", "Non-option argument #0 is /auto",
        "Non-option argument #1 is x"}},
      {"/taskid=7 /html / <tag>",
       "<br>",
       {"Argument #0 is -TaskID set to '7'",
        "Argument #1 is -HTML output enabled", "Non-option argument #0 is /",
        "Non-option argument #1 is <tag>"}},
      {"/taskid=7 /auto x /html",
       "\n",
       {"Argument #0 is -TaskID set to '7'", "Argument #1 is -Auto enabled",
        "Non-option argument #0 is x", "Non-option argument #1 is /html"}},
  });
}

}  // namespace
