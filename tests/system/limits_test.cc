// The real program at its limits: the longest command line the system
// passes, thousands of switches and arguments, single values of 32,000
// bytes, cache folders whose search patterns and paths reach the 2,000-byte
// limit, and COLUMNS at the ends of the int range. Each takes its fallback
// (the echo, the error message and the stored line whole; a folder or file
// that does not fit skipped; the width held) and the run goes on; no crash,
// no cut text, no hang.
//
// No host is registered, so every validated run ends right after the
// hand-off and the cache steps, at the launch's first message.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/expected_usage.h"
#include "tests/support/handoff_key.h"
#include "tests/support/install_folder.h"
#include "tests/support/registry_backup.h"
#include "tests/support/run_program.h"
#include "tests/support/standin_host.h"

namespace {

using ulvex_test::AnsiBytes;
using ulvex_test::InstallFolder;
using ulvex_test::Lines;
using ulvex_test::RunOptions;
using ulvex_test::RunProgram;

constexpr DWORD kRunTimeoutMs = 20000;
// CreateProcessW takes at most 32,767 characters, the terminating NUL
// included.
// NOTE: Wine starts a longer line too, but the child sees it cut to 32,766
// characters; Windows refuses it.
constexpr size_t kLongestCommandLine = 32766;
// The launch's line and its words.
const char kNotRegistered[] =
    "CLSIDFromProgID() failed:0x800401f3\n"
    "Invalid class string (CO_E_CLASSSTRING): Excel is not installed for this "
    "user. Install Excel, or repair its installation, for the account that "
    "runs this program.";
const char kHeader[] = "Parameters validated, loading Ulvex with commands :";

// Where two long texts part, briefly, for a failure message.
std::string Difference(const std::string& expected, const std::string& got) {
  const auto parted =
      std::mismatch(expected.begin(), expected.end(), got.begin(), got.end());
  const size_t at = static_cast<size_t>(parted.first - expected.begin());
  const size_t from = at < 40 ? 0 : at - 40;
  return "sizes " + std::to_string(expected.size()) + " and " +
         std::to_string(got.size()) + ", first difference at byte " +
         std::to_string(at) + ":\n  expected ..." + expected.substr(from, 80) +
         "\n  got      ..." + got.substr(from, 80);
}

// Characters of the ANSI code page, no spaces or quotes, in turn.
wchar_t FillerChar(size_t i) {
  static const wchar_t kCycle[] =
      L"abcdefghijklmnopqrstuvwxyz0123456789\u00e9\u00fc\u00df\u20ac";
  return kCycle[i % (std::size(kCycle) - 1)];
}

// A text of filler characters whose last one is always "Z", so a text that
// arrives whole shows it.
std::wstring Filler(size_t length) {
  std::wstring text;
  for (size_t i = 0; i < length; ++i) text += FillerChar(i);
  if (!text.empty()) text.back() = L'Z';
  return text;
}

// ---------------------------------------------------------------------------
// A command line built element by element, with the echo each element must
// give.

class CommandLine {
 public:
  explicit CommandLine(bool varySpaces) : varySpaces_(varySpaces) {
    line_ = ulvex_test::QuotedProgramPath();
  }

  /// A switch as typed and its echo line after "Argument #n is ".
  void Switch(const std::wstring& typed, const std::wstring& echo) {
    Add(typed);
    switches_.push_back(echo);
  }
  /// A non-option argument as typed and as the argument vector holds it.
  void Argument(const std::wstring& typed, const std::wstring& parsed) {
    Add(typed);
    arguments_.push_back(parsed);
  }
  /// Characters left for the next element after its separator.
  size_t Room() const {
    const size_t used = line_.size() + Spaces();
    return used < kLongestCommandLine ? kLongestCommandLine - used : 0;
  }

  const std::wstring& line() const { return line_; }
  size_t switchCount() const { return switches_.size(); }
  size_t argumentCount() const { return arguments_.size(); }

  /// The echo block the program must print for this line.
  std::string Echo(const std::string& lineEnd) const {
    std::string echo = lineEnd + kHeader + lineEnd;
    for (size_t i = 0; i < switches_.size(); ++i)
      echo += "Argument #" + std::to_string(i) + " is " +
              AnsiBytes(switches_[i]) + lineEnd;
    for (size_t i = 0; i < arguments_.size(); ++i)
      echo += "Non-option argument #" + std::to_string(i) + " is " +
              AnsiBytes(arguments_[i]) + lineEnd;
    return echo;
  }

 private:
  // One to three spaces in turn, or always one.
  size_t Spaces() const {
    return varySpaces_ ? 1 + (switches_.size() + arguments_.size()) % 3 : 1;
  }
  void Add(const std::wstring& typed) {
    line_ += std::wstring(Spaces(), L' ') + typed;
  }

  bool varySpaces_;
  std::wstring line_;
  std::vector<std::wstring> switches_;
  std::vector<std::wstring> arguments_;
};

std::wstring Parameter(const std::wstring& value) {
  return L"-Task Parameter with optional argument '" + value + L"'";
}

std::wstring TaskId(const std::wstring& value) {
  return L"-TaskID set to '" + value + L"'";
}

// Switches of every kind, typed with quotes, escaped quotes, repeated
// spaces and non-ASCII characters, then non-option arguments of every kind,
// the last one filling the line.
void MixedLine(CommandLine& line) {
  const std::wstring id = L"T\u00e2che-" + Filler(2000);
  line.Switch(L"/taskid=" + id, TaskId(id));
  const struct {
    const wchar_t* typed;
    const wchar_t* echo;
  } flags[] = {{L"/auto", L"-Auto enabled"},
               {L"/dataload", L"-Load data enabled"},
               {L"/validate", L"-Validate data enabled"},
               {L"/send", L"-Send data enabled"},
               {L"/quitok", L"-Quit on completion or failure enabled"}};
  for (int i = 0; i < 300; ++i) {
    const std::wstring name = L"/p" + std::to_wstring(i % 30 + 1);
    const std::wstring number = std::to_wstring(i);
    switch (i % 6) {
      case 0:
        line.Switch(name + L"=v" + number, Parameter(L"v" + number));
        break;
      case 1:
        line.Switch(name + L"=\"two  spaces " + number + L"\"",
                    Parameter(L"two  spaces " + number));
        break;
      case 2:
        line.Switch(name + L"=\u00e9\u20ac\u00fc\u00df" + number,
                    Parameter(L"\u00e9\u20ac\u00fc\u00df" + number));
        break;
      case 3:
        line.Switch(name + L"=say\\\"hi\\\"" + number,
                    Parameter(L"say\"hi\"" + number));
        break;
      case 4:
        line.Switch(flags[i / 6 % 5].typed, flags[i / 6 % 5].echo);
        break;
      case 5:
        line.Switch(name + L"=", Parameter(L""));
        break;
    }
  }
  // Without "=" a parameter takes the next element as its value, and that
  // element is still a switch of its own.
  line.Switch(L"/p7", Parameter(L"/p8=next"));
  line.Switch(L"/p8=next", Parameter(L"next"));
  line.Argument(L"plain", L"plain");
  line.Argument(L"\"two  words\"", L"two  words");
  line.Argument(L"\"\"", L"");
  line.Argument(L"/auto", L"/auto");
  line.Argument(L"--", L"--");
  line.Argument(L"\u00e9t\u00e9\u20ac", L"\u00e9t\u00e9\u20ac");
  line.Argument(L"\"q \\\"x\\\" q\"", L"q \"x\" q");
  line.Argument(L"back\\\\slash", L"back\\\\slash");
  const std::wstring last = Filler(line.Room());
  line.Argument(last, last);
}

// One /p1 value of more than 32,000 bytes.
void OneHugeValue(CommandLine& line) {
  line.Switch(L"/taskid=7", TaskId(L"7"));
  const std::wstring value = Filler(line.Room() - 4);
  line.Switch(L"/p1=" + value, Parameter(value));
}

// One non-option argument of more than 32,000 bytes.
void OneHugeArgument(CommandLine& line) {
  line.Switch(L"/taskid=7", TaskId(L"7"));
  const std::wstring argument = Filler(line.Room());
  line.Argument(argument, argument);
}

// As many switches as fit, numbered into the thousands, in HTML mode.
void ManySwitches(CommandLine& line) {
  line.Switch(L"/html", L"-HTML output enabled");
  line.Switch(L"/taskid=1", TaskId(L"1"));
  while (line.Room() > 12) line.Switch(L"/a", L"-Auto enabled");
  const std::wstring value = Filler(line.Room() - 4);
  line.Switch(L"/p1=" + value, Parameter(value));
}

// As many non-option arguments as fit, every tenth of them empty.
void ManyArguments(CommandLine& line) {
  line.Switch(L"/taskid=1", TaskId(L"1"));
  line.Argument(L"first", L"first");
  for (size_t i = 0; line.Room() > 12; ++i) {
    if (i % 10 == 9) {
      line.Argument(L"\"\"", L"");
    } else {
      const std::wstring one(1, FillerChar(i));
      line.Argument(one, one);
    }
  }
  const std::wstring last = Filler(line.Room());
  line.Argument(last, last);
}

// Every run here ends at the launch: the echo block, then nothing (no
// message from the hand-off or the caches) but the launch's message.
void ExpectEndAtLaunch(const ulvex_test::ProgramRun& run,
                       const std::string& echo) {
  EXPECT_TRUE(run.started);
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 1u);
  EXPECT_EQ(run.err, "");
  const std::string out = Lines(run.out);
  const std::string end = echo + kNotRegistered + "\n";
  // From the line end before the header (the banner comes before it).
  const size_t header = out.find(kHeader);
  const size_t lead = end.find(kHeader);
  ASSERT_TRUE(header != std::string::npos && header >= lead)
      << out.substr(0, 2000);
  const std::string got = out.substr(header - lead);
  EXPECT_TRUE(got == end) << Difference(end, got);
}

// The hand-off key exists (and is put back as it was afterwards); no host
// is registered.
class LimitsTest : public testing::Test {
 protected:
  void SetUp() override {
    ulvex_test::UnregisterStandInHost();
    ASSERT_TRUE(ulvex_test::CreateHandoffKey());
  }

 private:
  ulvex_test::RegistryBackup keepHandoff_{HKEY_CURRENT_USER,
                                          ulvex_test::kHandoffKey};
};

TEST_F(LimitsTest, LongestCommandLineIsEchoedAndStoredWhole) {
  const struct {
    const char* name;
    void (*build)(CommandLine& line);
    bool varySpaces;
    const char* lineEnd;
  } rows[] = {
      {"mixed switches and arguments", MixedLine, true, "\n"},
      {"one /p1 value fills the line", OneHugeValue, false, "\n"},
      {"one argument fills the line", OneHugeArgument, false, "\n"},
      {"as many switches as fit", ManySwitches, false, "<br>"},
      {"as many arguments as fit", ManyArguments, false, "\n"},
  };
  for (const auto& row : rows) {
    CommandLine line(row.varySpaces);
    row.build(line);
    SCOPED_TRACE(std::string(row.name) + ": " +
                 std::to_string(line.switchCount()) + " switches, " +
                 std::to_string(line.argumentCount()) + " arguments");
    ASSERT_EQ(line.line().size(), kLongestCommandLine);
    ASSERT_TRUE(ulvex_test::WriteHandoffValue(L"CommandLine", L"earlier"));

    RunOptions options;
    options.timeoutMs = kRunTimeoutMs;
    const auto run = RunProgram(line.line(), options);
    ExpectEndAtLaunch(run, line.Echo(row.lineEnd));

    // The raw line, code unit for code unit, with its terminating NUL.
    const auto stored = ulvex_test::ReadHandoffData(L"CommandLine");
    ASSERT_TRUE(stored.found);
    EXPECT_EQ(stored.type, static_cast<DWORD>(REG_SZ));
    const std::wstring& typed = line.line();
    const auto* bytes = reinterpret_cast<const unsigned char*>(typed.c_str());
    const std::vector<unsigned char> expected(
        bytes, bytes + (typed.size() + 1) * sizeof(wchar_t));
    EXPECT_EQ(stored.data.size(), 2 * (kLongestCommandLine + 1));
    EXPECT_TRUE(stored.data == expected) << Difference(
        ulvex_test::Narrow(typed),
        ulvex_test::Narrow(ulvex_test::ReadHandoffText(L"CommandLine")));
  }
}

// ---------------------------------------------------------------------------
// Cache folders at the 2,000-character limit of their patterns and paths.

// The cache folders under each variable. Each pattern adds its own length
// to the variable's value: "\vbe\*.exd" 10 characters, "\excel8.0\*.exd"
// 15, "\word8.0\*.exd" and "\PPT11.0\*.exd" 14, and
// "\microsoft\forms\*.exd" 22.
const struct {
  const wchar_t* variable;
  const wchar_t* folder;
} kCacheFolders[] = {
    {L"APPDATA", L"microsoft\\forms"},
    {L"TEMP", L"vbe"},
    {L"TEMP", L"excel8.0"},
    {L"TEMP", L"word8.0"},
    {L"TEMP", L"PPT11.0"},
};
// In every cache folder: a.exd and ab.exd (paths one character apart) and
// b.txt, which never matches.
const wchar_t* const kFiles[] = {L"a.exd", L"ab.exd", L"b.txt"};

// base + "\" + further folders, exactly length characters in all, their
// names made of the four characters of cycle. Each name stays well within
// the 255 bytes the Unix side allows a name.
std::wstring FolderOfLength(const std::wstring& base, size_t length,
                            const wchar_t (&kCycle)[5]) {
  constexpr size_t kNameLength = 100;
  std::wstring path = base;
  while (path.size() < length) {
    size_t name = std::min(kNameLength, length - path.size() - 1);
    // Never leave a single character over: it could not hold "\" and a name.
    if (length - path.size() - 1 - name == 1) --name;
    path += L'\\';
    for (size_t i = 0; i + 1 < name; ++i) path += kCycle[i % 4];
    path += L'd';  // a name may not end in a space
  }
  return path;
}

TEST_F(LimitsTest, CachePatternsAtTheirLimit) {
  // A length of 0 stands for a short folder. Files are named by variable,
  // cache folder and file name; all others must stay.
  const wchar_t kLatin[5] = L"d\u00e9 x";
  // Letters no ANSI code page holds: the limit counts characters.
  const wchar_t kGreek[5] = L"\u03a9\u03bb \u03b1";
  const struct {
    const char* name;
    size_t appDataLength;
    size_t tempLength;
    std::vector<std::wstring> deleted;
    const wchar_t (&cycle)[5];
  } rows[] = {
      {"TEMP of 1,990 characters: no temporary pattern fits",
       0,
       1990,
       {L"APPDATA\\microsoft\\forms\\a.exd",
        L"APPDATA\\microsoft\\forms\\ab.exd"},
       kLatin},
      {"TEMP of 1,989: the vbe pattern has 1,999 characters, a path 2,000",
       0,
       1989,
       {L"APPDATA\\microsoft\\forms\\a.exd",
        L"APPDATA\\microsoft\\forms\\ab.exd", L"TEMP\\vbe\\a.exd"},
       kLatin},
      {"TEMP of 1,985: word8.0 and PPT11.0 fit as well, excel8.0 does not",
       0,
       1985,
       {L"APPDATA\\microsoft\\forms\\a.exd",
        L"APPDATA\\microsoft\\forms\\ab.exd", L"TEMP\\vbe\\a.exd",
        L"TEMP\\vbe\\ab.exd", L"TEMP\\word8.0\\a.exd", L"TEMP\\PPT11.0\\a.exd"},
       kLatin},
      {"TEMP of 1,984: every pattern fits",
       0,
       1984,
       {L"APPDATA\\microsoft\\forms\\a.exd",
        L"APPDATA\\microsoft\\forms\\ab.exd", L"TEMP\\vbe\\a.exd",
        L"TEMP\\vbe\\ab.exd", L"TEMP\\word8.0\\a.exd", L"TEMP\\word8.0\\ab.exd",
        L"TEMP\\PPT11.0\\a.exd", L"TEMP\\PPT11.0\\ab.exd",
        L"TEMP\\excel8.0\\a.exd"},
       kLatin},
      {"APPDATA of 1,978: its pattern does not fit",
       1978,
       0,
       {L"TEMP\\vbe\\a.exd", L"TEMP\\vbe\\ab.exd", L"TEMP\\excel8.0\\a.exd",
        L"TEMP\\excel8.0\\ab.exd", L"TEMP\\word8.0\\a.exd",
        L"TEMP\\word8.0\\ab.exd", L"TEMP\\PPT11.0\\a.exd",
        L"TEMP\\PPT11.0\\ab.exd"},
       kLatin},
      {"APPDATA of 1,977: a pattern of 1,999 characters",
       1977,
       0,
       {L"APPDATA\\microsoft\\forms\\a.exd", L"TEMP\\vbe\\a.exd",
        L"TEMP\\vbe\\ab.exd", L"TEMP\\excel8.0\\a.exd",
        L"TEMP\\excel8.0\\ab.exd", L"TEMP\\word8.0\\a.exd",
        L"TEMP\\word8.0\\ab.exd", L"TEMP\\PPT11.0\\a.exd",
        L"TEMP\\PPT11.0\\ab.exd"},
       kLatin},
      {"TEMP of 1,989 in Greek letters: as in Latin ones",
       0,
       1989,
       {L"APPDATA\\microsoft\\forms\\a.exd",
        L"APPDATA\\microsoft\\forms\\ab.exd", L"TEMP\\vbe\\a.exd"},
       kGreek},
  };
  const std::string echo =
      std::string("\n") + kHeader + "\nArgument #0 is -TaskID set to '7'\n";
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    InstallFolder base(L"limits");
    auto folderFor = [&](const std::wstring& variable) {
      const size_t length =
          variable == L"TEMP" ? row.tempLength : row.appDataLength;
      const std::wstring start = base.path() + L"\\" + variable;
      return length == 0 ? start : FolderOfLength(start, length, row.cycle);
    };
    const std::wstring appData = folderFor(L"APPDATA");
    const std::wstring temp = folderFor(L"TEMP");
    if (row.tempLength != 0) ASSERT_EQ(temp.size(), row.tempLength);
    if (row.appDataLength != 0) ASSERT_EQ(appData.size(), row.appDataLength);

    auto fileOf = [&](const std::wstring& variable, const std::wstring& folder,
                      const std::wstring& name) {
      return (variable == L"TEMP" ? temp : appData) + L"\\" + folder + L"\\" +
             name;
    };
    for (const auto& cache : kCacheFolders)
      for (const wchar_t* name : kFiles) {
        const std::wstring file = fileOf(cache.variable, cache.folder, name);
        ASSERT_TRUE(base.WriteFile(file.substr(base.path().size() + 1), "x"))
            << ulvex_test::Narrow(file);
      }

    RunOptions options;
    options.timeoutMs = kRunTimeoutMs;
    options.setEnv[L"APPDATA"] = appData;
    options.setEnv[L"TEMP"] = temp;
    const auto run =
        RunProgram(ulvex_test::QuotedProgramPath() + L" /taskid=7", options);
    ExpectEndAtLaunch(run, echo);

    for (const auto& cache : kCacheFolders)
      for (const wchar_t* name : kFiles) {
        const std::wstring key =
            std::wstring(cache.variable) + L"\\" + cache.folder + L"\\" + name;
        const bool gone = std::find(row.deleted.begin(), row.deleted.end(),
                                    key) != row.deleted.end();
        SCOPED_TRACE(ulvex_test::Narrow(key));
        EXPECT_EQ(
            ulvex_test::FileAttributes(fileOf(cache.variable, cache.folder,
                                              name)) == INVALID_FILE_ATTRIBUTES,
            gone);
      }
  }
}

// Values far beyond any folder, and 16 times the pattern buffer: every row
// is skipped and the run goes on.
TEST_F(LimitsTest, HugeCacheVariablesAreSkipped) {
  RunOptions options;
  options.timeoutMs = kRunTimeoutMs;
  options.setEnv[L"APPDATA"] = L"C:\\" + Filler(32000);
  options.setEnv[L"TEMP"] = L"C:\\" + Filler(32000);
  const auto run =
      RunProgram(ulvex_test::QuotedProgramPath() + L" /taskid=7", options);
  ExpectEndAtLaunch(run, std::string("\n") + kHeader +
                             "\nArgument #0 is -TaskID set to '7'\n");
}

// An unknown switch that fills the command line is quoted whole in the
// parse error, and nothing reaches the hand-off key.
TEST_F(LimitsTest, HugeUnknownSwitchIsQuotedWhole) {
  const std::wstring program = ulvex_test::QuotedProgramPath() + L" ";
  const std::wstring tail = Filler(kLongestCommandLine - program.size() - 2);
  const struct {
    const char* name;
    std::wstring element;
    std::wstring quoted;  // the part of the message on stdout
  } rows[] = {
      {"letter form: quoted from the letter", L"/x" + tail, L"x" + tail},
      {"long form: the whole element", L"--" + tail, L"--" + tail},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ASSERT_TRUE(ulvex_test::WriteHandoffValue(L"CommandLine", L"earlier"));
    RunOptions options;
    options.timeoutMs = kRunTimeoutMs;
    ASSERT_EQ((program + row.element).size(), kLongestCommandLine);
    const auto run = RunProgram(program + row.element, options);
    EXPECT_TRUE(run.started);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 1u);
    const std::string expected =
        AnsiBytes(row.quoted) +
        "\nUse /h parameter to display Ulvex command line help.\n"
        "Note : Parameter options are cAse sSnsItivE.\n";
    const std::string out = Lines(run.out);
    EXPECT_TRUE(out == expected) << Difference(expected, out);
    EXPECT_EQ(Lines(run.err), "Unknown option ''\n");
    EXPECT_EQ(ulvex_test::ReadHandoffText(L"CommandLine"), L"earlier");
  }
}

// COLUMNS at the ends of the int range and far beyond it: the width is
// held within its limits and the usage comes out whole.
TEST_F(LimitsTest, ColumnsAtTheEndsOfTheIntRange) {
  const std::string& wide = ulvex_test::kUsageAt10000;
  const std::string& narrow = ulvex_test::kUsageAt80;
  const struct {
    std::wstring columns;
    const std::string* usage;  // null: either limit's layout
  } rows[] = {
      {L"2147483647", &wide},
      {L"-2147483648", &narrow},
      // The C library's conversion of a value out of range is its own:
      // Windows' clamps it, Wine's wraps it around.
      {L"99999999999999999999", nullptr},
      {std::wstring(32000, L'9'), nullptr},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.columns.substr(0, 20));
    RunOptions options;
    options.timeoutMs = kRunTimeoutMs;
    options.setEnv[L"COLUMNS"] = row.columns;
    const auto run =
        RunProgram(ulvex_test::QuotedProgramPath() + L" /h", options);
    EXPECT_TRUE(run.started);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_EQ(run.err, "");
    const std::string out = Lines(run.out);
    auto endsWith = [&out](const std::string& end) {
      return out.size() >= end.size() &&
             out.compare(out.size() - end.size(), end.size(), end) == 0;
    };
    if (row.usage != nullptr)
      EXPECT_TRUE(endsWith(*row.usage)) << out;
    else
      EXPECT_TRUE(endsWith(wide) || endsWith(narrow)) << out;
  }
}

}  // namespace
