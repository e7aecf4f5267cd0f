// The command line as a user types it: parse errors, the missing task
// identifier, the help switch and the echo of what was understood, checked
// on the real program's stdout, stderr and exit status.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tests/support/run_program.h"

namespace {

using ulvex_test::BinFolder;
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
      // The quoted switch in the ANSI code page (1252): "?" for what it
      // lacks, the same bytes as ever for what it has.
      {"/\xCE\xA9x", "?x", "Unknown option ''\n", "Unknown option '?x'\n"},
      {"/\xC3\xA9", "\xE9", "Unknown option ''\n", "Unknown option '\xE9'\n"},
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
      // A fullwidth solidus (U+FF0F) is no switch prefix: an argument.
      {"\xEF\xBC\x8Ftaskid=7", "\n"},
      {"/html \xEF\xBC\x8Ftaskid=7", "<br>"},
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
      // On a pipe, in the ANSI code page (1252): "?" for each character it
      // lacks, never a look-alike ("Lódz"), and the same bytes as ever for
      // the characters it has.
      {"/taskid=\xC5\x81\xC3\xB3"
       "d\xC5\xBA /p1=\xCE\x91\xCE\xB8\xCE\xAE\xCE\xBD\xCE\xB1 "
       "/p2=\xE6\x9D\xB1\xE4\xBA\xAC /p3=caf\xC3\xA9 "
       "\xEF\xBC\x8Ftaskid=7",
       "\n",
       {"Argument #0 is -TaskID set to '?\xF3"
        "d?'",
        "Argument #1 is -Task Parameter with optional argument '?????"
        "'",
        "Argument #2 is -Task Parameter with optional argument '??"
        "'",
        "Argument #3 is -Task Parameter with optional argument 'caf\xE9'",
        "Non-option argument #0 is ?taskid=7"}},
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

// The argument lists ArgvFixture prints: its C runtime's argv ("crt") and
// the program's split of its wide command line ("split"), each argument as
// <bytes>[<UTF-8 text>].
std::vector<std::string> ReadList(std::istringstream& in,
                                  const std::string& name) {
  std::vector<std::string> arguments;
  std::string word;
  size_t count = 0;
  if (!(in >> word >> count) || word != name) return {"<no " + name + ">"};
  in.get();
  for (size_t i = 0; i < count; ++i) {
    size_t length = 0;
    if (!(in >> length) || in.get() != '[') return {"<cut>"};
    std::string argument(length, '\0');
    in.read(&argument[0], static_cast<std::streamsize>(length));
    arguments.push_back(argument);
    in.ignore(2);  // "]\n"
  }
  return arguments;
}

// Wine's own msvcrt.dll, which a program's argv comes from under Wine.
bool RunningOnWine() {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr &&
         GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// Every command line gives the program the arguments the C runtime gave it
// before it read its wide command line: the fixture is linked as the
// program is and prints both.
TEST(CommandLineTest, ArgumentsAreSplitAsTheCRuntimeSplitsThem) {
  using Arguments = std::vector<std::string>;
  const struct {
    const wchar_t* line;
    // Where Wine's msvcrt.dll splits otherwise than Windows' own: Wine's
    // argv, and the split that Windows' msvcrt.dll gives and the program
    // keeps. Wine reads the program name by the rules of the other
    // arguments, and "" inside a quoted part as the runtimes since 2008
    // do, as a quote that leaves the part open.
    Arguments wineArgv = {};
    Arguments windowsArgv = {};
  } rows[] = {
      {L"prog a b c"},
      {L"prog \"a b\" c"},
      {L"prog a\tb\t\tc"},
      {L"prog   a   "},
      {L"prog"},
      {L"prog    "},
      {L"prog a\\\\b c\\"},
      {L"prog a\\\"b"},
      {L"prog a\\\\\"b c\""},
      {L"prog a\\\\\\\"b c"},
      {L"prog \"a\\\\\" b"},
      {L"prog \\\\\\\\\"a b\""},
      {L"prog \"a\\\" b\""},
      {L"prog \"C:\\dir\\\\\" x"},
      {L"prog \"\""},
      {L"prog \"\" \"\""},
      {L"prog a \"\" b"},
      {L"prog a \""},
      {L"prog \"a\"\"b\" c", {"prog", "a\"b", "c"}, {"prog", "a\"b c"}},
      {L"prog \"a\"\" b\"", {"prog", "a\" b"}, {"prog", "a\"", "b"}},
      {L"prog \"\"\"a b\"\"\"", {"prog", "\"a b\""}, {"prog", "\"a", "b\""}},
      {L"prog a\"\"b"},
      {L"prog \"a b"},
      {L"prog a\"b c\"d e"},
      {L"\"C:\\my dir\\prog.exe\" a"},
      {L"\"C:\\x\\\"y z", {"C:\\x\"y z"}, {"C:\\x\\", "y", "z"}},
      {L"\"pro\"gram a", {"program", "a"}, {"pro", "gram", "a"}},
      {L"pro\"gram a\" b", {"program a", "b"}, {"pro\"gram", "a b"}},
      {L"C:\\dir\\prog.exe\ta"},
      {L"\"prog"},
      {L"\"\" a"},
      {L"prog *.exe ?"},
      {L"prog /taskid=\u00e9t\u00e9 \"\u00c4 \u00df\""},
  };
  const bool wine = RunningOnWine();
  for (const auto& row : rows) {
    SCOPED_TRACE(ulvex_test::Narrow(row.line));
    RunOptions options;
    options.application = BinFolder() + L"\\ArgvFixture.exe";
    const ulvex_test::ProgramRun run = RunProgram(row.line, options);
    ASSERT_TRUE(run.started);
    EXPECT_EQ(run.exitCode, 0u);
    std::istringstream out(Lines(run.out));
    const Arguments runtime = ReadList(out, "crt");
    const Arguments split = ReadList(out, "split");
    if (wine && !row.wineArgv.empty()) {
      EXPECT_EQ(runtime, row.wineArgv) << run.out;
      EXPECT_EQ(split, row.windowsArgv) << run.out;
    } else {
      EXPECT_EQ(split, runtime) << run.out;
    }
  }
}

}  // namespace
