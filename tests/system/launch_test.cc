// The launch of the host as a user meets it: the real program starts the
// stand-in host through COM, which records every automation call and plays
// the add-in from the workbook it is told to open (the install folder's
// App\Ulvex holds the add-in's script).
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "diagnosis/call_retry.h"
#include "tests/support/handoff_key.h"
#include "tests/support/host_record.h"
#include "tests/support/install_folder.h"
#include "tests/support/run_program.h"
#include "tests/support/standin_host.h"

namespace {

using ulvex_test::FileAttributes;
using ulvex_test::InstallFolder;
using ulvex_test::Lines;
using ulvex_test::Narrow;
using ulvex_test::RunningChild;
using ulvex_test::RunOptions;
using ulvex_test::RunProgram;

const char kSuccess[] = "QUIT - Task SUCCEEDED, process exit code 0";
const char kFailure[] = "QUIT - Task FAILED, process exit code 1";
const char kLoading[] = "Loading Application";
// Long enough for a cold host start on a loaded machine.
constexpr DWORD kRunLimitMs = 60000;
constexpr DWORD kHostExitMs = 10000;

// A last line and the line end that ends the run's output.
std::string Ended(const std::string& lastLine,
                  const std::string& lineEnd = "\n") {
  return lastLine + lineEnd;
}

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// True when text holds "\nhh:mm:ss:" followed by line, as a progress line.
bool HasStampedLine(const std::string& text, const std::string& line) {
  for (size_t at = text.find(":" + line); at != std::string::npos;
       at = text.find(":" + line, at + 1)) {
    if (at < 9 || text[at - 9] != '\n' || text[at - 6] != ':' ||
        text[at - 3] != ':')
      continue;
    bool digits = true;
    for (size_t i : {8, 7, 5, 4, 2, 1})
      digits = digits && isdigit(text[at - i]);
    if (digits) return true;
  }
  return false;
}

// True when some line of text begins with prefix and ends with suffix.
bool HasLine(const std::string& text, const std::string& prefix,
             const std::string& suffix) {
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(at, end - at);
    if (line.compare(0, prefix.size(), prefix) == 0 && EndsWith(line, suffix) &&
        line.size() >= prefix.size() + suffix.size())
      return true;
    at = end + 1;
  }
  return false;
}

// The hand-off key must exist for the add-in to report progress; one made
// here is removed again.
class HandoffKeyScope {
 public:
  HandoffKeyScope() : made_(!ulvex_test::HandoffKeyExists()) {
    ulvex_test::CreateHandoffKey();
  }
  ~HandoffKeyScope() {
    if (made_) ulvex_test::DeleteHandoffKey();
  }

 private:
  bool made_;
};

enum class Registration { kStandIn, kBroken, kNone };
enum class FileState { kMissing, kWritable, kReadOnly };

// One run of the program against a host, and what it must show.
struct Scenario {
  const char* name;
  Registration registration;
  std::wstring curVer;  // CurVer of the stand-in; empty: none
  std::string script;   // the add-in workbook's content
  FileState workbook;   // App\Ulvex before the run
  FileState stackTrace;
  DWORD exitCode;
  // The automation calls the host received; "<open>" stands for the Open
  // call with the workbook's path.
  std::vector<std::string> calls;
  // Lines the output must hold: pairs of prefix and suffix.
  std::vector<std::pair<std::string, std::string>> lines;
  std::string outputEnd;      // what stdout must end with (lines compared)
  bool monitorReached;        // "Loading Application" printed
  bool writeQuitWhenLoading;  // the test ends the task itself
  std::wstring folderName = L"launch";  // part of the install folder's name
  const wchar_t* timeLimit = nullptr;   // ULVEX_TIME_LIMIT; null: unset
  std::wstring arguments = L"/taskid=7";
  // USERPROFILE names the install folder, which has no Desktop folder.
  bool profileWithoutDesktop = false;
};

const std::string kVisible = "PUT Visible VT_I4 1";
const std::string kHwnd = "GET Hwnd";
const std::string kWorkbooks = "GET Workbooks";
const std::string kFileValidation = "PUT FileValidation VT_I4 0";
const std::string kWindowState = "PUT WindowState VT_I4 -4137";
const std::string kOpen = "<open>";

// The whole output of a run whose time limit cannot be read: the banner,
// then this line.
std::string BadLimit(const std::string& value) {
  return "\nULVEX_TIME_LIMIT='" + value +
         "' is not a valid time limit: give a whole number of minutes, or a "
         "number followed by s, m or h (for example 90, 45s or 2h).\n";
}

// A task that leaves its host running, as a task run without /quitok
// does: a visible host stays after the run.
std::string TaskLeavingHost(const std::string& finalText) {
  return "progress Working\nsleep 50\nprogress " + finalText + "\n";
}

// A task whose add-in quits its host at its end, as with /quitok: the host
// ends at once when the run holds none of its objects, else at the run's
// release.
std::string Script(const std::string& finalText) {
  return TaskLeavingHost(finalText) + "quit\n";
}

void SetAttributes(const std::wstring& path, FileState state) {
  SetFileAttributesW(path.c_str(), state == FileState::kReadOnly
                                       ? FILE_ATTRIBUTE_READONLY
                                       : FILE_ATTRIBUTE_NORMAL);
}

bool IsReadOnly(const std::wstring& path) {
  const DWORD attributes = FileAttributes(path);
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

TEST(LaunchTest, HostScenarios) {
  HandoffKeyScope handoffKey;
  // The host's window is read first: the host is tied and recorded before
  // any other call.
  const std::vector<std::string> allFive = {
      kHwnd, kVisible, kWorkbooks, kFileValidation, kWindowState, kOpen};
  const std::vector<std::string> withoutValidation = {
      kHwnd, kVisible, kWorkbooks, kWindowState, kOpen};
  const std::vector<std::string> withoutHwnd = {
      kVisible, kWorkbooks, kFileValidation, kWindowState, kOpen};
  const std::string notOpened =
      "The Ulvex add-in workbook could not be opened: ";
  const std::string hostEnded =
      "Excel ended before the Ulvex Task reported its end";
  const std::string lookupFailed = "IDispatch::GetIDsOfNames(\"";
  const std::string invokeFailed = "IDispatch ()::Invoke(\"";
  const std::string untied =
      "Excel could not be tied to this run (it did not name its window); it "
      "will outlive the run if the run is interrupted.";
  const std::string limitReached =
      "The Ulvex Task did not end within the time limit "
      "(ULVEX_TIME_LIMIT=6s).\n";
  const std::string hostEnded6s =
      "Excel, which this run started, has been ended.\n";
  // Each failure line of the automation layer is followed by a line in
  // words, and a host's exception by what the host said.
  const std::string classStringWords =
      "Invalid class string (CO_E_CLASSSTRING): Excel is not installed for "
      "this user. Install Excel, or repair its installation, for the account "
      "that runs this program.\n";
  const std::string classNotRegisteredWords =
      "Class not registered (REGDB_E_CLASSNOTREG): Excel is not installed for "
      "this user. Install Excel, or repair its installation, for the account "
      "that runs this program.\n";
  const std::string exceptionWords =
      "Exception occurred (DISP_E_EXCEPTION): Excel could not do what it was "
      "asked and raised an error of its own; what Excel said, when it said "
      "anything, follows.";
  const std::string hostSaid = "Excel said (StandInHost): ";
  const std::string unknownNameWords =
      "Unknown name (DISP_E_UNKNOWNNAME): the program registered as Excel "
      "does not know this member: it is not Excel, or too old an Excel. Check "
      "which program the registration of Excel.Application starts (its "
      "LocalServer32), and repair or update Excel.";
  std::vector<Scenario> scenarios = {
      {"version 16: file validation set, success",
       Registration::kStandIn,
       L"Excel.Application.16",
       Script(kSuccess),
       FileState::kWritable,
       FileState::kMissing,
       0,
       allFive,
       {},
       Ended(kSuccess),
       true,
       false},
      {"version 13: file validation set",
       Registration::kStandIn,
       L"Excel.Application.13",
       Script(kSuccess),
       FileState::kWritable,
       FileState::kMissing,
       0,
       allFive,
       {},
       Ended(kSuccess),
       true,
       false},
      {"version 12: no file validation",
       Registration::kStandIn,
       L"Excel.Application.12",
       Script(kSuccess),
       FileState::kWritable,
       FileState::kMissing,
       0,
       withoutValidation,
       {},
       Ended(kSuccess),
       true,
       false},
      {"no CurVer: no file validation",
       Registration::kStandIn,
       L"",
       Script(kSuccess),
       FileState::kWritable,
       FileState::kMissing,
       0,
       withoutValidation,
       {},
       Ended(kSuccess),
       true,
       false},
      {"non-numeric version: no file validation",
       Registration::kStandIn,
       L"Excel.Application.x",
       Script(kSuccess),
       FileState::kWritable,
       FileState::kMissing,
       0,
       withoutValidation,
       {},
       Ended(kSuccess),
       true,
       false},
      {"another QUIT text: status 1",
       Registration::kStandIn,
       L"Excel.Application.16",
       Script(kFailure),
       FileState::kWritable,
       FileState::kMissing,
       1,
       allFive,
       {},
       Ended(kFailure),
       true,
       false},
      {"QUIT alone: status 1",
       Registration::kStandIn,
       L"Excel.Application.16",
       Script("QUIT"),
       FileState::kWritable,
       FileState::kMissing,
       1,
       allFive,
       {},
       Ended("QUIT"),
       true,
       false},
      {"read-only workbook and StackTrace.txt",
       Registration::kStandIn,
       L"Excel.Application.16",
       Script(kSuccess),
       FileState::kReadOnly,
       FileState::kReadOnly,
       0,
       allFive,
       {},
       Ended(kSuccess),
       true,
       false},
      {"writable StackTrace.txt left alone",
       Registration::kStandIn,
       L"Excel.Application.16",
       Script(kSuccess),
       FileState::kWritable,
       FileState::kWritable,
       0,
       allFive,
       {},
       Ended(kSuccess),
       true,
       false},
      {"host refuses FileValidation: the launch goes on",
       Registration::kStandIn,
       L"Excel.Application.16",
       "refuse FileValidation\n" + Script(kSuccess),
       FileState::kWritable,
       FileState::kMissing,
       0,
       withoutValidation,
       {{lookupFailed + "FileValidation\") failed w/err 0x80020006", ""},
        {unknownNameWords, ""}},
       Ended(kSuccess),
       true,
       false},
      {"host fails WindowState: the launch goes on",
       Registration::kStandIn,
       L"Excel.Application.16",
       "fail WindowState\n" + Script(kSuccess),
       FileState::kWritable,
       FileState::kMissing,
       0,
       allFive,
       {{invokeFailed + "WindowState\"=", ") failed w/ err0x80020009"},
        {exceptionWords, ""},
        {hostSaid + "Told to fail: WindowState", ""}},
       Ended(kSuccess),
       true,
       false},
      {"failed Open ends the run, the host left as it is",
       Registration::kStandIn,
       L"Excel.Application.16",
       "fail-open\n" + Script(kSuccess),
       FileState::kWritable,
       FileState::kMissing,
       1,
       allFive,
       {{invokeFailed + "Open\"=", ") failed w/ err0x80020009"},
        {exceptionWords, ""},
        {hostSaid + "Told to fail: Open", ""},
        {notOpened, "\\App\\Ulvex"}},
       "\\App\\Ulvex\n",
       false,
       false},
      // A run on a visible window station gets no desktop advice, even
      // when its profile lacks the Desktop folder: the output ends with
      // the workbook's line.
      {"failed Open on a visible desktop, profile without Desktop",
       Registration::kStandIn,
       L"Excel.Application.16",
       "fail-open\n",
       FileState::kWritable,
       FileState::kMissing,
       1,
       allFive,
       {{notOpened, "\\App\\Ulvex"}},
       "\\App\\Ulvex\n",
       false,
       false,
       L"launch",
       nullptr,
       L"/taskid=7",
       true},
      {"add-in workbook missing: the run ends",
       Registration::kStandIn,
       L"Excel.Application.16",
       Script(kSuccess),
       FileState::kMissing,
       FileState::kMissing,
       1,
       allFive,
       {{invokeFailed + "Open\"=", ") failed w/ err0x80020009"},
        {exceptionWords, ""},
        {hostSaid + "Cannot open the file ", "\\App\\Ulvex"},
        {notOpened, "\\App\\Ulvex"}},
       "\\App\\Ulvex\n",
       false,
       false},
      {"host without Hwnd: the run goes on unwatched",
       Registration::kStandIn,
       L"Excel.Application.16",
       "refuse Hwnd\n" + Script(kSuccess),
       FileState::kWritable,
       FileState::kMissing,
       0,
       withoutHwnd,
       {{untied, ""}},
       Ended(kSuccess),
       true,
       false},
      {"host ends after a message: status 1",
       Registration::kStandIn,
       L"Excel.Application.16",
       "progress Working\nsleep 300\ncrash\n",
       FileState::kWritable,
       FileState::kMissing,
       1,
       allFive,
       {},
       Ended(hostEnded),
       true,
       false},
      {"host ends without any text: status 1",
       Registration::kStandIn,
       L"Excel.Application.16",
       "crash\n",
       FileState::kWritable,
       FileState::kMissing,
       1,
       allFive,
       {},
       Ended(hostEnded),
       true,
       false},
      {"host ends right after the success text: status 0",
       Registration::kStandIn,
       L"Excel.Application.16",
       TaskLeavingHost(kSuccess) + "crash\n",
       FileState::kWritable,
       FileState::kMissing,
       0,
       allFive,
       {},
       Ended(kSuccess),
       true,
       false},
      {"host quits right after a failure text: status 1",
       Registration::kStandIn,
       L"Excel.Application.16",
       Script(kFailure),
       FileState::kWritable,
       FileState::kMissing,
       1,
       allFive,
       {},
       Ended(kFailure),
       true,
       false},
      // A host closed mid-task ends at once: the run holds none of its
      // objects while it waits.
      {"host closed mid-task: status 1",
       Registration::kStandIn,
       L"Excel.Application.16",
       "progress Working\nsleep 300\nclose\n",
       FileState::kWritable,
       FileState::kMissing,
       1,
       allFive,
       {},
       Ended(hostEnded),
       true,
       false},
      {"host quit by its add-in without a final text: status 1",
       Registration::kStandIn,
       L"Excel.Application.16",
       "progress Working\nsleep 300\nquit\n",
       FileState::kWritable,
       FileState::kMissing,
       1,
       allFive,
       {},
       Ended(hostEnded),
       true,
       false},
      // The add-in's start-up code ends the task inside Open and quits the
      // host, which fails the call: the final text decides the run.
      {"success text written inside Open, then the host quit: status 0",
       Registration::kStandIn,
       L"Excel.Application.16",
       "in-open\n" + Script(kSuccess),
       FileState::kWritable,
       FileState::kMissing,
       0,
       allFive,
       {{invokeFailed + "Open\"=", ") failed w/ err0x80010108"},
        {"The object invoked has disconnected from its clients", ""}},
       Ended(kSuccess),
       false,
       false},
      {"failure text written inside Open, then the host quit: status 1",
       Registration::kStandIn,
       L"Excel.Application.16",
       "in-open\n" + Script(kFailure),
       FileState::kWritable,
       FileState::kMissing,
       1,
       allFive,
       {{invokeFailed + "Open\"=", ") failed w/ err0x80010108"}},
       Ended(kFailure),
       false,
       false},
      // A busy host: "retry later" from its message filter for 3 s, or a
      // call it ignores once; the run waits and prints nothing more.
      {"host busy for 3 s after its start: status 0",
       Registration::kStandIn,
       L"Excel.Application.16",
       "busy 3000\n" + Script(kSuccess),
       FileState::kWritable,
       FileState::kMissing,
       0,
       allFive,
       {},
       Ended(kSuccess),
       true,
       false},
      {"host ignores the first Workbooks: status 0",
       Registration::kStandIn,
       L"Excel.Application.16",
       "fail-once Workbooks 0x800AC472\n" + Script(kSuccess),
       FileState::kWritable,
       FileState::kMissing,
       0,
       allFive,
       {},
       Ended(kSuccess),
       true,
       false},
      {"host refuses Workbooks: status 1, nothing opened",
       Registration::kStandIn,
       L"Excel.Application.16",
       "refuse Workbooks\n" + Script(kSuccess),
       FileState::kWritable,
       FileState::kMissing,
       1,
       {kHwnd, kVisible},
       {},
       lookupFailed + "Workbooks\") failed w/err 0x80020006\n" +
           unknownNameWords + "\n",
       false,
       false},
      {"host fails Workbooks: status 1, nothing opened",
       Registration::kStandIn,
       L"Excel.Application.16",
       "fail Workbooks\n" + Script(kSuccess),
       FileState::kWritable,
       FileState::kMissing,
       1,
       {kHwnd, kVisible, kWorkbooks},
       {{invokeFailed + "Workbooks\"=", ") failed w/ err0x80020009"},
        {exceptionWords, ""}},
       hostSaid + "Told to fail: Workbooks\n",
       false,
       false},
      {"install folder named in any script, with spaces",
       Registration::kStandIn,
       L"Excel.Application.16",
       Script(kSuccess),
       FileState::kWritable,
       FileState::kReadOnly,
       0,
       allFive,
       {},
       Ended(kSuccess),
       true,
       false,
       L"\u0395\u03bb\u03bb\u03ac\u03b4\u03b1 Pr\u00fcfung \u6d4b\u8bd5"},
      {"time limit runs out while the add-in is silent",
       Registration::kStandIn,
       L"Excel.Application.16",
       "idle\n",
       FileState::kWritable,
       FileState::kMissing,
       1,
       allFive,
       {},
       limitReached + hostEnded6s,
       true,
       false,
       L"launch",
       L"6s"},
      {"time limit runs out while Open never returns",
       Registration::kStandIn,
       L"Excel.Application.16",
       "hang-open\n",
       FileState::kWritable,
       FileState::kMissing,
       1,
       allFive,
       {},
       limitReached + hostEnded6s,
       false,
       false,
       L"launch",
       L"6s"},
      {"ProgID missing",
       Registration::kNone,
       L"",
       Script(kSuccess),
       FileState::kWritable,
       FileState::kMissing,
       1,
       {},
       {},
       "\nCLSIDFromProgID() failed:0x800401f3\n" + classStringWords,
       false,
       false},
      {"class registered, no server",
       Registration::kBroken,
       L"",
       Script(kSuccess),
       FileState::kWritable,
       FileState::kMissing,
       1,
       {},
       {{"Excel not registered properly: 0x",
         "NULL IDispatch passed to AutoWrap()"}},
       "NULL IDispatch passed to AutoWrap()\n" + classNotRegisteredWords,
       false,
       false},
      // The switches are read from the command line as typed: a fullwidth
      // solidus (U+FF0F) is no switch prefix, so there is no task ID.
      {"U+FF0F taskid: no task ID, no host",
       Registration::kStandIn,
       L"Excel.Application.16",
       Script(kSuccess),
       FileState::kWritable,
       FileState::kMissing,
       1,
       {},
       {{"Ulvex TaskID was not specified", ""}},
       "Use /h parameter to display Ulvex command line help.\n",
       false,
       false,
       L"launch",
       nullptr,
       L"\uff0ftaskid=7"},
      // To a pipe, what the ANSI code page (1252) lacks is "?", never a
      // look-alike; what it has is the same bytes as ever. The text stays
      // 600 ms: a monitor held up longer on a loaded machine would see
      // only the final text, and well under the second after which it
      // prints a dot.
      {"Polish, Greek and Chinese text on a pipe",
       Registration::kStandIn,
       L"Excel.Application.16",
       "progress \xCE\x91\xCE\xB8\xCE\xAE\xCE\xBD\xCE\xB1 "
       "\xE6\x9D\xB1\xE4\xBA\xAC \xC5\x81\xC3\xB3"
       "d\xC5\xBA\nsleep 600\nprogress " +
           std::string(kSuccess) + "\nquit\n",
       FileState::kWritable,
       FileState::kMissing,
       0,
       allFive,
       {{"Argument #0 is -TaskID set to '?\xF3"
         "d?'",
         ""},
        {"Argument #1 is -Task Parameter with optional argument '?????"
         "'",
         ""},
        {"Argument #2 is -Task Parameter with optional argument '??"
         "'",
         ""},
        {"",
         ":????? ?? ?\xF3"
         "d?"}},
       Ended(kSuccess),
       true,
       false,
       L"launch",
       nullptr,
       L"/taskid=\u0141\u00f3d\u017a /p1=\u0391\u03b8\u03ae\u03bd\u03b1 "
       L"/p2=\u6771\u4eac"},
      // Every ending ends with a line end, in HTML mode too: "<br>" for the
      // program's own lines, "\n" for the other messages.
      {"HTML: success",
       Registration::kStandIn,
       L"Excel.Application.16",
       Script(kSuccess),
       FileState::kWritable,
       FileState::kMissing,
       0,
       allFive,
       {},
       Ended(kSuccess, "<br>"),
       true,
       false,
       L"launch",
       nullptr,
       L"/taskid=7 /html"},
      {"HTML: another QUIT text",
       Registration::kStandIn,
       L"Excel.Application.16",
       Script(kFailure),
       FileState::kWritable,
       FileState::kMissing,
       1,
       allFive,
       {},
       Ended(kFailure, "<br>"),
       true,
       false,
       L"launch",
       nullptr,
       L"/taskid=7 /html"},
      {"HTML: host ends after a message",
       Registration::kStandIn,
       L"Excel.Application.16",
       "progress Working\nsleep 300\ncrash\n",
       FileState::kWritable,
       FileState::kMissing,
       1,
       allFive,
       {},
       Ended(hostEnded, "<br>"),
       true,
       false,
       L"launch",
       nullptr,
       L"/taskid=7 /html"},
      {"HTML: ProgID missing",
       Registration::kNone,
       L"",
       Script(kSuccess),
       FileState::kWritable,
       FileState::kMissing,
       1,
       {},
       {},
       "<br>CLSIDFromProgID() failed:0x800401f3\n" + classStringWords,
       false,
       false,
       L"launch",
       nullptr,
       L"/taskid=7 /html"},
      // The automation layer's lines end with a plain line end in HTML
      // mode too.
      {"HTML: refused Open, what the host said",
       Registration::kStandIn,
       L"Excel.Application.16",
       "fail-open\n",
       FileState::kWritable,
       FileState::kMissing,
       1,
       allFive,
       {{"", ") failed w/ err0x80020009"},
        {exceptionWords, ""},
        {hostSaid, "Told to fail: Open"},
        {notOpened, "\\App\\Ulvex"}},
       "\\App\\Ulvex\n",
       false,
       false,
       L"launch",
       nullptr,
       L"/taskid=7 /html"},
      {"a code outside the table: the system's own text",
       Registration::kStandIn,
       L"Excel.Application.16",
       "fail Open 0x80004005\n",
       FileState::kWritable,
       FileState::kMissing,
       1,
       allFive,
       {{invokeFailed + "Open\"=", ") failed w/ err0x80004005"},
        // NOTE: Wine's text for E_FAIL; Windows' is "Unspecified error".
        {"Call failed.", ""},
        {notOpened, "\\App\\Ulvex"}},
       "\\App\\Ulvex\n",
       false,
       false},
  };

  // A time limit that cannot be read: its line, status 1, no host started.
  for (const wchar_t* value :
       {L"abc", L"0", L"-5", L"1.5h", L"10x", L"", L"99999999999999999999",
        L"1001h", L" 5", L"5 m"})
    scenarios.push_back({"ULVEX_TIME_LIMIT cannot be read: nothing runs",
                         Registration::kStandIn,
                         L"Excel.Application.16",
                         Script(kSuccess),
                         FileState::kWritable,
                         FileState::kMissing,
                         1,
                         {},
                         {},
                         BadLimit(Narrow(value)),
                         false,
                         false,
                         L"launch",
                         value});

  for (const Scenario& scenario : scenarios) {
    SCOPED_TRACE(scenario.name);
    SCOPED_TRACE(scenario.timeLimit != nullptr
                     ? "ULVEX_TIME_LIMIT='" + Narrow(scenario.timeLimit) + "'"
                     : std::string("ULVEX_TIME_LIMIT unset"));
    InstallFolder install(scenario.folderName);
    ASSERT_TRUE(install.AddProgram());
    ASSERT_TRUE(install.AddProductExe());
    const std::wstring workbook = install.File(L"App\\Ulvex");
    const std::wstring stackTrace = install.File(L"StackTrace.txt");
    const std::wstring log = install.File(L"host.log");
    ASSERT_TRUE(install.WriteFile(L"App\\Ulvex", scenario.script));
    SetAttributes(workbook, scenario.workbook);
    if (scenario.workbook == FileState::kMissing)
      ASSERT_TRUE(DeleteFileW(workbook.c_str()));
    if (scenario.stackTrace != FileState::kMissing) {
      ASSERT_TRUE(install.WriteFile(L"StackTrace.txt", "trace"));
      SetAttributes(stackTrace, scenario.stackTrace);
    }

    switch (scenario.registration) {
      case Registration::kStandIn:
        ASSERT_TRUE(ulvex_test::RegisterStandInHost(scenario.curVer));
        break;
      case Registration::kBroken:
        ASSERT_TRUE(ulvex_test::RegisterBrokenHost());
        break;
      case Registration::kNone:
        ulvex_test::UnregisterStandInHost();
        break;
    }
    ASSERT_TRUE(ulvex_test::SetStandInScenario(workbook, log));

    RunOptions options;
    options.timeoutMs = kRunLimitMs;
    if (scenario.timeLimit != nullptr)
      options.setEnv[L"ULVEX_TIME_LIMIT"] = scenario.timeLimit;
    if (scenario.profileWithoutDesktop)
      options.setEnv[L"USERPROFILE"] = install.path();
    if (scenario.writeQuitWhenLoading) {
      options.watch = [](RunningChild& child) {
        if (child.WaitForOutput(kLoading, 0, kRunLimitMs))
          ulvex_test::WriteProgress(ulvex_test::Widen(kFailure));
      };
    }
    const double started = ulvex_test::MillisecondsNow();
    const auto run = RunProgram(
        install.QuotedProgram() + L" " + scenario.arguments, options);
    const double runMs = ulvex_test::MillisecondsNow() - started;
    ASSERT_TRUE(run.started);
    EXPECT_FALSE(run.timedOut);
    const std::string out = Lines(run.out);
    EXPECT_EQ(run.exitCode, scenario.exitCode) << out;
    if (scenario.outputEnd == limitReached + hostEnded6s) {
      EXPECT_TRUE(HasStampedLine(out, limitReached)) << out;
      // Ended by the limit, not by the test's own time-out (liveness only).
      EXPECT_LT(runMs, 6000 + 15000);
    }
    EXPECT_TRUE(EndsWith(out, scenario.outputEnd)) << out;
    EXPECT_EQ(out.find(kLoading) != std::string::npos, scenario.monitorReached)
        << out;
    EXPECT_EQ(run.err, "");
    const std::string lineEnd =
        scenario.arguments.find(L"/html") != std::wstring::npos ? "<br>" : "\n";
    EXPECT_NE(out.find(lineEnd + "Version: 2.3.7" + lineEnd), std::string::npos)
        << out;
    for (const auto& line : scenario.lines)
      EXPECT_TRUE(HasLine(out, line.first, line.second))
          << line.first << "..." << line.second << " in\n"
          << out;
    // A call that succeeded on a later try prints nothing of its failures.
    if (scenario.exitCode == 0 && scenario.lines.empty())
      EXPECT_EQ(out.find("failed"), std::string::npos) << out;

    // Every ending here is a designed one. One that leaves the host
    // running before the add-in's final text (a failed launch step) keeps
    // the host's record for the next run; the others remove it. Such a
    // host was made visible: it stays, as Excel does, for its user to
    // close. Every other host here ends: its add-in quits it, or it fails.
    const bool hostLeftRunning =
        scenario.exitCode == 1 && !scenario.monitorReached &&
        scenario.timeLimit == nullptr &&
        scenario.outputEnd.rfind("QUIT", 0) != 0 &&
        std::find(scenario.calls.begin(), scenario.calls.end(), kHwnd) !=
            scenario.calls.end();
    EXPECT_EQ(ulvex_test::HostRecordExists(), hostLeftRunning);
    ulvex_test::DeleteHostRecord();

    if (hostLeftRunning)
      EXPECT_EQ(ulvex_test::StandInHostProcessIds().size(), 1u);
    const bool hostEnded =
        !hostLeftRunning && ulvex_test::WaitForStandInExit(kHostExitMs);
    const std::vector<std::string> hostLog = ulvex_test::ReadStandInLog(log);
    EXPECT_EQ(hostEnded, !hostLeftRunning) << testing::PrintToString(hostLog);
    std::vector<std::string> expected = scenario.calls;
    for (std::string& call : expected)
      if (call == kOpen) call = "METHOD Open VT_BSTR " + Narrow(workbook);
    // A call the host ignored is made again: the calls in order, each
    // however often it was tried.
    std::vector<std::string> calls = ulvex_test::StandInCalls(hostLog);
    calls.erase(std::unique(calls.begin(), calls.end()), calls.end());
    EXPECT_EQ(calls, expected);

    // The add-in workbook is made read-only before it is opened; a
    // read-only StackTrace.txt is made writable for the add-in's trace.
    const bool launched = scenario.registration == Registration::kStandIn;
    const bool opened = std::find(scenario.calls.begin(), scenario.calls.end(),
                                  kOpen) != scenario.calls.end();
    EXPECT_EQ(IsReadOnly(workbook),
              scenario.workbook == FileState::kReadOnly ||
                  (opened && scenario.workbook != FileState::kMissing));
    if (scenario.stackTrace == FileState::kMissing)
      EXPECT_EQ(FileAttributes(stackTrace), INVALID_FILE_ATTRIBUTES);
    else
      EXPECT_EQ(IsReadOnly(stackTrace),
                scenario.stackTrace == FileState::kReadOnly && !launched);

    ulvex_test::KillStandInHosts();
  }
  ulvex_test::UnregisterStandInHost();
}

// A host that ignores a call for longer than a busy host is waited for:
// the call fails as a call that was never tried again, with its line and
// status 1 (the host, made visible, stays). A test of its own: the wait
// is a minute.
TEST(LaunchTest, AHostBusyPastTheBoundFailsTheRun) {
  HandoffKeyScope handoffKey;
  InstallFolder install(L"busy");
  ASSERT_TRUE(install.AddProgram());
  ASSERT_TRUE(install.AddProductExe());
  const std::wstring log = install.File(L"host.log");
  ASSERT_TRUE(install.WriteFile(
      L"App\\Ulvex", "fail Workbooks 0x800AC472\n" + Script(kSuccess)));
  ASSERT_TRUE(ulvex_test::RegisterStandInHost(L"Excel.Application.16"));
  ASSERT_TRUE(ulvex_test::SetStandInScenario(install.File(L"App\\Ulvex"), log));
  RunOptions options;
  options.timeoutMs = kRunLimitMs + kRetryBusyForMs;
  const auto run = RunProgram(install.QuotedProgram() + L" /taskid=7", options);
  ASSERT_TRUE(run.started);
  EXPECT_FALSE(run.timedOut);
  const std::string out = Lines(run.out);
  EXPECT_EQ(run.exitCode, 1u) << out;
  // Its one failure line, as before the host was called again.
  const std::string failed =
      "IDispatch ()::Invoke(\"Workbooks\"=00000002) failed w/ err0x800ac472\n";
  EXPECT_TRUE(EndsWith(out, "Argument #0 is -TaskID set to '7'\n" + failed))
      << out;
  EXPECT_EQ(run.err, "");
  std::vector<std::string> calls =
      ulvex_test::StandInCalls(ulvex_test::ReadStandInLog(log));
  EXPECT_GT(calls.size(), 4u);
  calls.erase(std::unique(calls.begin(), calls.end()), calls.end());
  EXPECT_EQ(calls, (std::vector<std::string>{kHwnd, kVisible, kWorkbooks}));
  ulvex_test::DeleteHostRecord();
  ulvex_test::KillStandInHosts();
  ulvex_test::UnregisterStandInHost();
}

// On a console every text arrives whole, whatever the console's code page:
// the echo of the switches, the add-in's progress texts and the quoted
// switch of a parse error.
TEST(LaunchTest, TextInAnyScriptReachesAConsoleWhole) {
  HandoffKeyScope handoffKey;
  InstallFolder install(L"console");
  ASSERT_TRUE(install.AddProgram());
  ASSERT_TRUE(install.AddProductExe());
  const std::wstring workbook = install.File(L"App\\Ulvex");
  ASSERT_TRUE(
      install.WriteFile(L"App\\Ulvex",
                        "progress \xCE\x91\xCE\xB8\xCE\xAE\xCE\xBD\xCE\xB1 "
                        "\xE6\x9D\xB1\xE4\xBA\xAC \xC5\x81\xC3\xB3"
                        "d\xC5\xBA\nsleep 600\nprogress " +
                            std::string(kSuccess) + "\nquit\n"));
  ASSERT_TRUE(ulvex_test::RegisterStandInHost(L"Excel.Application.16"));
  ASSERT_TRUE(
      ulvex_test::SetStandInScenario(workbook, install.File(L"host.log")));

  const ulvex_test::ConsoleRun run = ulvex_test::RunInConsole(
      install.QuotedProgram() +
          L" /taskid=\u0141\u00f3d\u017a /p1=\u0391\u03b8\u03ae\u03bd\u03b1 "
          L"/p2=\u6771\u4eac",
      kRunLimitMs);
  ASSERT_TRUE(run.consoleMade);
  ASSERT_TRUE(run.started);
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 0u);
  const std::string screen = Narrow(run.screen);
  for (const wchar_t* text : {
           L"\nArgument #0 is -TaskID set to '\u0141\u00f3d\u017a'\n",
           L"\nArgument #1 is -Task Parameter with optional argument "
           L"'\u0391\u03b8\u03ae\u03bd\u03b1'\n",
           L"\nArgument #2 is -Task Parameter with optional argument "
           L"'\u6771\u4eac'\n",
           L":\u0391\u03b8\u03ae\u03bd\u03b1 \u6771\u4eac "
           L"\u0141\u00f3d\u017a\n",
       })
    EXPECT_NE(run.screen.find(text), std::wstring::npos)
        << Narrow(text) << " in\n"
        << screen;
  // The final text's line is ended: the cursor stands on an empty row.
  EXPECT_TRUE(EndsWith(screen, Ended(kSuccess) + "\n")) << screen;
  EXPECT_TRUE(ulvex_test::WaitForStandInExit(kHostExitMs));
  ulvex_test::KillStandInHosts();
  ulvex_test::UnregisterStandInHost();

  // A parse error: its pieces on standard error, the quoted switch on
  // standard output, one console.
  const ulvex_test::ConsoleRun rejected = ulvex_test::RunInConsole(
      install.QuotedProgram() + L" /\u03a9x", kRunLimitMs);
  ASSERT_TRUE(rejected.started);
  EXPECT_EQ(rejected.exitCode, 1u);
  EXPECT_NE(rejected.screen.find(L"Unknown option '\u03a9x'\n"),
            std::wstring::npos)
      << Narrow(rejected.screen);
}

// A stand-in host started by hand, as an earlier run's host still running:
// it serves the class registered now. Null when it did not come up.
HANDLE StartLeftoverHost() {
  DWORD processId = 0;
  const HANDLE process = ulvex_test::StartBuildProgram(
      L"StandInHost.exe", L"-Embedding", &processId);
  if (process == nullptr) return nullptr;
  // Its main window comes after its class object: once the window is
  // there, registering a new class cannot reach this host.
  for (int tries = 0; tries < 500; ++tries) {
    for (HWND window = FindWindowExW(HWND_MESSAGE, nullptr,
                                     L"UlvexStandInHostMain", nullptr);
         window != nullptr;
         window = FindWindowExW(HWND_MESSAGE, window, L"UlvexStandInHostMain",
                                nullptr)) {
      DWORD owner = 0;
      GetWindowThreadProcessId(window, &owner);
      if (owner == processId) return process;
    }
    if (WaitForSingleObject(process, 20) != WAIT_TIMEOUT) break;
  }
  TerminateProcess(process, 1);
  CloseHandle(process);
  return nullptr;
}

// A run first ends the host an earlier run left running, when the record
// names it still running (same start time and image) and it is the
// registered host; any other process of the user that the record names is
// left running, with a line. The other rows plant a process of the user's
// own, not a stand-in host: a stand-in ended from outside would leave its
// class unusable under Wine.
TEST(LaunchTest, AHostLeftByAnEarlierRunIsEndedFirst) {
  HandoffKeyScope handoffKey;
  constexpr DWORD kIdleMs = 60000;
  enum class Record {
    kLiveHost,
    kOwnProcess,
    kEndedHost,
    kOtherStartTime,
    kOtherImage
  };
  const struct {
    const char* name;
    Record record;
    const char* line;  // after the echo; null: none
  } rows[] = {
      {"the host still runs: ended, with its line", Record::kLiveHost,
       "Ended Excel (process %), left running by an earlier run of this "
       "user."},
      {"another process of the user's: left running, with its line",
       Record::kOwnProcess,
       "Process %, named by an earlier run's record of Excel, was left "
       "running (its program is not the registered Excel); the record was "
       "removed."},
      {"the host has ended: the record goes silently", Record::kEndedHost,
       nullptr},
      {"another start time (a reused process ID): left alone",
       Record::kOtherStartTime, nullptr},
      {"another image: left alone", Record::kOtherImage, nullptr},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    InstallFolder install(L"leftover");
    ASSERT_TRUE(install.AddProgram());
    const std::wstring workbook = install.File(L"App\\Ulvex");
    ASSERT_TRUE(install.WriteFile(L"App\\Ulvex",
                                  "progress Working\nsleep 1000\nprogress " +
                                      std::string(kSuccess) + "\nquit\n"));
    HANDLE planted = nullptr;
    if (row.record == Record::kLiveHost) {
      ASSERT_TRUE(ulvex_test::RegisterStandInHost(L"Excel.Application.16"));
      ASSERT_TRUE(ulvex_test::SetStandInScenario(
          workbook, install.File(L"leftover.log")));
      planted = StartLeftoverHost();
    } else {
      planted = ulvex_test::StartIdleProcess(
          row.record == Record::kEndedHost ? 0 : kIdleMs);
    }
    ASSERT_NE(planted, nullptr);
    // The run's own host serves a class of its own.
    ASSERT_TRUE(ulvex_test::RegisterStandInHost(L"Excel.Application.16"));
    ASSERT_TRUE(
        ulvex_test::SetStandInScenario(workbook, install.File(L"host.log")));
    if (row.record == Record::kEndedHost)
      ASSERT_EQ(WaitForSingleObject(planted, kHostExitMs), WAIT_OBJECT_0);
    const DWORD processId = GetProcessId(planted);
    ULONGLONG startTime = ulvex_test::ProcessStartTime(planted);
    std::wstring image = ulvex_test::ProcessImage(planted);
    if (row.record == Record::kOtherStartTime) startTime -= 10000000;
    if (row.record == Record::kOtherImage) image = L"C:\\Other\\EXCEL.EXE";
    ASSERT_TRUE(ulvex_test::WriteHostRecord(processId, startTime, image));

    // While the run waits for its add-in, the record names its own host.
    DWORD recordedWhileRunning = 0;
    std::wstring imageWhileRunning;
    RunOptions options;
    options.timeoutMs = kRunLimitMs;
    options.watch = [&](RunningChild& child) {
      if (!child.WaitForOutput(kLoading, 0, kRunLimitMs)) return;
      recordedWhileRunning = ulvex_test::RecordedHostProcessId();
      imageWhileRunning = ulvex_test::RecordedHostImage();
    };
    const auto run =
        RunProgram(install.QuotedProgram() + L" /taskid=7", options);
    ASSERT_TRUE(run.started);
    EXPECT_FALSE(run.timedOut);
    const std::string out = Lines(run.out);
    EXPECT_EQ(run.exitCode, 0u) << out;
    EXPECT_TRUE(EndsWith(out, Ended(kSuccess))) << out;
    EXPECT_EQ(run.err, "");
    if (row.line != nullptr) {
      std::string line = row.line;
      line.replace(line.find('%'), 1, std::to_string(processId));
      // After the echo, before anything of the run.
      EXPECT_NE(out.find("Argument #0 is -TaskID set to '7'\n" + line +
                         "\nLoading Application"),
                std::string::npos)
          << out;
    } else {
      EXPECT_EQ(out.find("Ended Excel"), std::string::npos) << out;
      EXPECT_EQ(out.find("was left running"), std::string::npos) << out;
    }
    if (row.record == Record::kLiveHost)
      EXPECT_EQ(WaitForSingleObject(planted, kHostExitMs), WAIT_OBJECT_0);
    else if (row.record != Record::kEndedHost)
      EXPECT_EQ(WaitForSingleObject(planted, 0),
                static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_NE(recordedWhileRunning, 0u);
    EXPECT_NE(recordedWhileRunning, processId);
    EXPECT_TRUE(EndsWith(Narrow(imageWhileRunning), "\\StandInHost.exe"))
        << Narrow(imageWhileRunning);
    EXPECT_FALSE(ulvex_test::HostRecordExists());

    TerminateProcess(planted, 0);
    WaitForSingleObject(planted, kHostExitMs);
    CloseHandle(planted);
    EXPECT_TRUE(ulvex_test::WaitForStandInExit(kHostExitMs));
    ulvex_test::KillStandInHosts();
  }
  ulvex_test::UnregisterStandInHost();
}

// A host started through another program (here cmd.exe, registered as the
// local server) names a window of a process that is not the registered
// server: that process is neither tied to the run nor recorded, but its end
// still ends the run at once. A 64-bit registration that names the host's
// own file through %ProgramFiles% is that file, as the system's launcher
// expands it, also from a 32-bit run: the host is tied and recorded.
TEST(LaunchTest, AWindowOfAnotherProgramIsOnlyWatched) {
  HandoffKeyScope handoffKey;
  wchar_t system[MAX_PATH] = {};
  ASSERT_NE(GetSystemDirectoryW(system, MAX_PATH), 0u);
  ulvex_test::NativeProgramCopy nativeHost(L"StandInHost.exe");
  ASSERT_FALSE(nativeHost.path().empty());
  const std::wstring throughCmd =
      std::wstring(system) + L"\\cmd.exe /c \"" + nativeHost.path() + L"\"";
  const std::string watchedOnly =
      "(process %, which its window names, is only watched, as its program "
      "is not the registered Excel); it will outlive the run if the run is "
      "interrupted.\n";
  const struct {
    const char* name;
    std::wstring executable64;  // the 64-bit view's program; empty: cmd
    std::string script;
    DWORD exitCode;
    std::string last;
    bool tied;
  } rows[] = {
      {"another program registered: only watched", L"", Script(kSuccess), 0,
       kSuccess, false},
      {"a host only watched ends: the run ends at once", L"",
       "progress Working\nsleep 50\ncrash\n", 1,
       "Excel ended before the Ulvex Task reported its end", false},
      {"%ProgramFiles% in the 64-bit view: tied and recorded",
       L"%ProgramFiles%\\UlvexTest\\StandInHost.exe", Script(kSuccess), 0,
       kSuccess, true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    InstallFolder install(L"other-program");
    ASSERT_TRUE(install.AddProgram());
    const std::wstring workbook = install.File(L"App\\Ulvex");
    ASSERT_TRUE(install.WriteFile(L"App\\Ulvex", row.script));
    // The run's own view starts the host through cmd.exe.
    // NOTE: Wine's launcher cannot start a REG_EXPAND_SZ LocalServer32;
    // it starts the 64-bit view's host from its plain command line, while
    // the program's check takes the host's "ServerExecutable".
    ASSERT_TRUE(row.executable64.empty()
                    ? ulvex_test::RegisterHostServer(throughCmd, REG_SZ, false)
                    : ulvex_test::RegisterHostServerInViews(
                          throughCmd,
                          L"\"" + nativeHost.path() + L"\" -Embedding",
                          row.executable64));
    ASSERT_TRUE(
        ulvex_test::SetStandInScenario(workbook, install.File(L"host.log")));
    ASSERT_TRUE(ulvex_test::DeleteHostRecord());

    std::wstring recorded;
    std::vector<DWORD> hosts;
    RunOptions options;
    options.timeoutMs = kRunLimitMs;
    options.watch = [&](RunningChild& child) {
      if (!child.WaitForOutput(kLoading, 0, kRunLimitMs)) return;
      recorded = ulvex_test::RecordedHostImage();
      hosts = ulvex_test::StandInHostProcessIds();
    };
    const auto run =
        RunProgram(install.QuotedProgram() + L" /taskid=7", options);
    ASSERT_TRUE(run.started);
    EXPECT_FALSE(run.timedOut);
    const std::string out = Lines(run.out);
    EXPECT_EQ(run.exitCode, row.exitCode) << out;
    EXPECT_TRUE(EndsWith(out, Ended(row.last))) << out;
    if (row.tied) {
      EXPECT_EQ(out.find("could not be tied"), std::string::npos) << out;
      EXPECT_EQ(Narrow(recorded), Narrow(nativeHost.path()));
    } else {
      ASSERT_EQ(hosts.size(), 1u);
      std::string line = watchedOnly;
      line.replace(line.find('%'), 1, std::to_string(hosts[0]));
      EXPECT_NE(out.find("Excel could not be tied to this run " + line),
                std::string::npos)
          << out;
      EXPECT_EQ(recorded, L"");
    }
    EXPECT_TRUE(ulvex_test::WaitForStandInExit(kHostExitMs));
    ulvex_test::KillStandInHosts();
  }
  ulvex_test::UnregisterStandInHost();
}

// A batch file sees the task's outcome in ERRORLEVEL.
TEST(LaunchTest, BatchFileSeesTheExitStatus) {
  HandoffKeyScope handoffKey;
  const struct {
    const char* name;
    std::string finalText;
    std::string errorLevel;
  } cases[] = {
      {"succeeding task", kSuccess, "0"},
      {"failing task", kFailure, "1"},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(row.name);
    InstallFolder install(L"batch");
    ASSERT_TRUE(install.AddProgram());
    const std::wstring workbook = install.File(L"App\\Ulvex");
    ASSERT_TRUE(install.WriteFile(L"App\\Ulvex", Script(row.finalText)));
    ASSERT_TRUE(ulvex_test::RegisterStandInHost(L"Excel.Application.16"));
    ASSERT_TRUE(
        ulvex_test::SetStandInScenario(workbook, install.File(L"host.log")));
    // NOTE: Wine's cmd resets ERRORLEVEL after "set": copy it at once.
    const std::string batch =
        "@echo off\r\n" + Narrow(install.QuotedProgram()) + " /taskid=7 > \"" +
        Narrow(install.File(L"out.txt")) +
        "\"\r\n"
        "set RC=%ERRORLEVEL%\r\n"
        "echo ERRORLEVEL=%RC%\r\n"
        "exit /b %RC%\r\n";
    ASSERT_TRUE(install.WriteFile(L"task.bat", batch));
    RunOptions options;
    options.timeoutMs = kRunLimitMs;
    const auto run =
        RunProgram(L"cmd /c \"" + install.File(L"task.bat") + L"\"", options);
    ASSERT_TRUE(run.started);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(Lines(run.out), "ERRORLEVEL=" + row.errorLevel + "\n");
    EXPECT_EQ(std::to_string(run.exitCode), row.errorLevel);
    EXPECT_TRUE(ulvex_test::WaitForStandInExit(kHostExitMs));
    ulvex_test::KillStandInHosts();
  }
  ulvex_test::UnregisterStandInHost();
}

// Two runs of one user share the hand-off key: the second waits for the
// first to end, then runs with its own command line, texts and status.
TEST(LaunchTest, TwoRunsOfOneUserTakeTurns) {
  HandoffKeyScope handoffKey;
  InstallFolder first(L"turn-a");
  InstallFolder second(L"turn-b");
  ASSERT_TRUE(first.AddProgram());
  ASSERT_TRUE(second.AddProgram());
  ASSERT_TRUE(first.WriteFile(L"App\\Ulvex",
                              "progress Task A working\nsleep 1500\nprogress " +
                                  std::string(kSuccess) + "\nquit\n"));
  ASSERT_TRUE(second.WriteFile(L"App\\Ulvex",
                               "progress Task B working\nsleep 300\nprogress " +
                                   std::string(kFailure) + "\nquit\n"));
  ASSERT_TRUE(ulvex_test::RegisterStandInHost(L"Excel.Application.16"));
  const std::wstring log = first.File(L"host.log");
  ASSERT_TRUE(ulvex_test::SetStandInScenario(first.File(L"App\\Ulvex"), log));

  const std::wstring firstLine = first.QuotedProgram() + L" /taskid=A";
  const std::wstring secondLine = second.QuotedProgram() + L" /taskid=B";
  const std::string waitingLine =
      "Another Ulvex Task of this user is running; waiting for it to end.\n";
  ulvex_test::ProgramRun secondRun, interruptedRun;
  RunOptions options;
  options.timeoutMs = kRunLimitMs;
  options.watch = [&](RunningChild&) {
    Sleep(500);
    // A third run, interrupted while it waits: nothing of it runs.
    RunOptions interruptedOptions;
    interruptedOptions.timeoutMs = kRunLimitMs;
    interruptedOptions.watch = [&](RunningChild& waiting) {
      // The raw output, whose line ends are "\r\n".
      if (waiting.WaitForOutput("waiting for it to end.", 0, kRunLimitMs))
        EXPECT_TRUE(
            ulvex_test::SendConsoleControl(waiting.process(), CTRL_C_EVENT));
    };
    interruptedRun =
        RunProgram(first.QuotedProgram() + L" /taskid=C", interruptedOptions);
    RunOptions secondOptions;
    secondOptions.timeoutMs = kRunLimitMs;
    secondRun = RunProgram(secondLine, secondOptions);
  };
  const auto firstRun = RunProgram(firstLine, options);
  ASSERT_TRUE(firstRun.started);
  ASSERT_TRUE(secondRun.started);
  EXPECT_FALSE(firstRun.timedOut);
  EXPECT_FALSE(secondRun.timedOut);
  const std::string firstOut = Lines(firstRun.out);
  const std::string secondOut = Lines(secondRun.out);
  EXPECT_EQ(firstRun.exitCode, 0u) << firstOut;
  EXPECT_EQ(secondRun.exitCode, 1u) << secondOut;
  EXPECT_TRUE(EndsWith(firstOut, Ended(kSuccess))) << firstOut;
  EXPECT_TRUE(EndsWith(secondOut, Ended(kFailure))) << secondOut;
  EXPECT_NE(firstOut.find("Task A working"), std::string::npos) << firstOut;
  EXPECT_EQ(firstOut.find("Task B"), std::string::npos) << firstOut;
  EXPECT_EQ(secondOut.find("Task A"), std::string::npos) << secondOut;
  // One line, after the echo and before anything of the run.
  const std::string waiting =
      "Argument #0 is -TaskID set to 'B'\n"
      "Another Ulvex Task of this user is running; waiting for it to end.\n"
      "Loading Application";
  EXPECT_NE(secondOut.find(waiting), std::string::npos) << secondOut;
  EXPECT_NE(secondOut.find("Task B working"), std::string::npos) << secondOut;
  EXPECT_EQ(firstOut.find("waiting"), std::string::npos) << firstOut;
  const std::string interruptedOut = Lines(interruptedRun.out);
  EXPECT_EQ(interruptedRun.exitCode, 1u) << interruptedOut;
  EXPECT_TRUE(
      EndsWith(interruptedOut, waitingLine + "\nRun interrupted by Ctrl+C.\n"))
      << interruptedOut;

  // Each host's add-in read its own run's command line, in turn.
  EXPECT_TRUE(ulvex_test::WaitForStandInExit(kHostExitMs));
  std::vector<std::string> commandLines;
  for (const std::string& line : ulvex_test::ReadStandInLog(log))
    if (line.rfind("COMMANDLINE", 0) == 0) commandLines.push_back(line);
  const std::vector<std::string> expected = {
      "COMMANDLINE " + Narrow(firstLine), "COMMANDLINE " + Narrow(secondLine)};
  EXPECT_EQ(commandLines, expected);
  ulvex_test::KillStandInHosts();
  ulvex_test::UnregisterStandInHost();
}

// A run stopped before its add-in reported takes its host along: the
// host's late success text can no longer reach the next run, which ends
// with its own add-in's failure.
TEST(LaunchTest, AStoppedRunsHostCannotHandTheNextRunItsSuccess) {
  HandoffKeyScope handoffKey;
  const struct {
    const char* name;
    bool killed;  // TerminateProcess from outside; otherwise Ctrl+C
    DWORD exitCode;
  } rows[] = {
      {"interrupted by Ctrl+C", false, 1},
      {"killed from outside", true, 255},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    InstallFolder first(L"stopped-a");
    InstallFolder second(L"stopped-b");
    ASSERT_TRUE(first.AddProgram());
    ASSERT_TRUE(second.AddProgram());
    // A's add-in would write the success text 2 s into its task; B's own
    // add-in fails later than that.
    ASSERT_TRUE(first.WriteFile(
        L"App\\Ulvex", "progress Task A working\nsleep 2000\nprogress " +
                           std::string(kSuccess) + "\n"));
    ASSERT_TRUE(second.WriteFile(
        L"App\\Ulvex", "progress Task B working\nsleep 3500\nprogress " +
                           std::string(kFailure) + "\nquit\n"));
    ASSERT_TRUE(ulvex_test::RegisterStandInHost(L"Excel.Application.16"));
    ASSERT_TRUE(ulvex_test::SetStandInScenario(first.File(L"App\\Ulvex"),
                                               first.File(L"host.log")));
    RunOptions stopOptions;
    stopOptions.timeoutMs = kRunLimitMs;
    stopOptions.watch = [&row](RunningChild& child) {
      if (!child.WaitForOutput("Task A working", 0, kRunLimitMs)) return;
      if (row.killed)
        TerminateProcess(child.process(), 255);
      else
        EXPECT_TRUE(
            ulvex_test::SendConsoleControl(child.process(), CTRL_C_EVENT));
    };
    const auto stopped =
        RunProgram(first.QuotedProgram() + L" /taskid=A", stopOptions);
    ASSERT_TRUE(stopped.started);
    const std::string stoppedOut = Lines(stopped.out);
    EXPECT_EQ(stopped.exitCode, row.exitCode) << stoppedOut;
    if (!row.killed)
      EXPECT_TRUE(EndsWith(stoppedOut,
                           "\nRun interrupted by Ctrl+C.\n"
                           "Excel, which this run started, has been ended.\n"))
          << stoppedOut;
    EXPECT_TRUE(ulvex_test::WaitForStandInExit(kHostExitMs))
        << "A's host is still running";

    // A class of its own for B: under Wine, A's killed host leaves its
    // class unable to start again.
    ASSERT_TRUE(ulvex_test::RegisterStandInHost(L"Excel.Application.16"));
    ASSERT_TRUE(ulvex_test::SetStandInScenario(second.File(L"App\\Ulvex"),
                                               second.File(L"host.log")));
    RunOptions nextOptions;
    nextOptions.timeoutMs = kRunLimitMs;
    const auto next =
        RunProgram(second.QuotedProgram() + L" /taskid=B", nextOptions);
    ASSERT_TRUE(next.started);
    EXPECT_FALSE(next.timedOut);
    const std::string nextOut = Lines(next.out);
    EXPECT_EQ(next.exitCode, 1u) << nextOut;
    EXPECT_TRUE(EndsWith(nextOut, Ended(kFailure))) << nextOut;
    EXPECT_EQ(nextOut.find(kSuccess), std::string::npos) << nextOut;
    EXPECT_TRUE(ulvex_test::WaitForStandInExit(kHostExitMs));
    ulvex_test::KillStandInHosts();
  }
  ulvex_test::UnregisterStandInHost();
}

}  // namespace

// Every designed ending lets the host go on as it is: a host that stays
// after its last release, as a visible host does, still runs after the run
// has exited. A failed Open leaves its record for the next run, because the
// add-in it started may still write; after the add-in's final text the
// record goes. From that text on the host is let go: a run killed from
// outside while it releases a slow host (a scheduler's limit) leaves it.
TEST(LaunchTest, DesignedEndingsLeaveTheHostRunning) {
  HandoffKeyScope handoffKey;
  constexpr DWORD kOutliveMs = 2000;
  const struct {
    const char* name;
    std::string script;
    DWORD exitCode;
    bool recordKept;
    const char* killAt = nullptr;  // killed once the host's log has this
  } rows[] = {
      // A visible host stays for its user until it is closed.
      {"success", TaskLeavingHost(kSuccess), 0, false},
      {"failed task", TaskLeavingHost(kFailure), 1, false},
      {"success text written inside Open: the first read sees it",
       "in-open\n" + TaskLeavingHost(kSuccess), 0, false},
      {"failed Open after the add-in started",
       "fail-open-started\nprogress Working\nidle\n", 1, true},
      // Only a host that could not be made visible is held to the end.
      {"killed from outside during a slow release after success",
       "stay\nfail Visible 0x80004005\nslow-release 8000\n" +
           TaskLeavingHost(kSuccess),
       255, false, "SLOW-RELEASE"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    InstallFolder install(L"outlive");
    ASSERT_TRUE(install.AddProgram());
    ASSERT_TRUE(install.WriteFile(L"App\\Ulvex", row.script));
    ASSERT_TRUE(ulvex_test::RegisterStandInHost(L"Excel.Application.16"));
    ASSERT_TRUE(ulvex_test::SetStandInScenario(install.File(L"App\\Ulvex"),
                                               install.File(L"host.log")));
    RunOptions options;
    options.timeoutMs = kRunLimitMs;
    const std::wstring log = install.File(L"host.log");
    if (row.killAt != nullptr) {
      options.watch = [&row, &log](RunningChild& child) {
        for (int i = 0; i < 400 && WaitForSingleObject(child.process(), 50) ==
                                       WAIT_TIMEOUT;
             ++i) {
          for (const std::string& line : ulvex_test::ReadStandInLog(log))
            if (line == row.killAt) {
              TerminateProcess(child.process(), 255);
              return;
            }
        }
      };
    }
    const auto run =
        RunProgram(install.QuotedProgram() + L" /taskid=7", options);
    ASSERT_TRUE(run.started);
    EXPECT_FALSE(run.timedOut);
    const std::string out = Lines(run.out);
    EXPECT_EQ(run.exitCode, row.exitCode) << out;
    EXPECT_EQ(out.find("could not be let go of"), std::string::npos) << out;
    if (row.killAt != nullptr)
      EXPECT_TRUE(EndsWith(out, Ended(kSuccess))) << out;

    EXPECT_FALSE(ulvex_test::WaitForStandInExit(kOutliveMs))
        << "the host went with the run";
    const std::vector<DWORD> hosts = ulvex_test::StandInHostProcessIds();
    EXPECT_EQ(hosts.size(), 1u);
    EXPECT_EQ(ulvex_test::HostRecordExists(), row.recordKept);
    if (row.recordKept && hosts.size() == 1)
      EXPECT_EQ(ulvex_test::RecordedHostProcessId(), hosts[0]);
    ulvex_test::DeleteHostRecord();
    ulvex_test::KillStandInHosts();
  }
  ulvex_test::UnregisterStandInHost();
}

// A hand-off key that the run can follow but not write: the command line
// cannot reach the add-in, so no host is started (it would read a stale
// command line and could hand over a stale final text).
TEST(LaunchTest, AnUnwritableHandoffKeyStartsNoHost) {
  HandoffKeyScope handoffKey;
  InstallFolder install(L"unwritable");
  ASSERT_TRUE(install.AddProgram());
  ASSERT_TRUE(install.WriteFile(L"App\\Ulvex", Script(kSuccess)));
  ASSERT_TRUE(ulvex_test::RegisterStandInHost(L"Excel.Application.16"));
  const std::wstring log = install.File(L"host.log");
  ASSERT_TRUE(ulvex_test::SetStandInScenario(install.File(L"App\\Ulvex"), log));
  ASSERT_TRUE(ulvex_test::SetHandoffKeyReadOnly(true));
  RunOptions options;
  options.timeoutMs = kRunLimitMs;
  const auto run = RunProgram(install.QuotedProgram() + L" /taskid=7", options);
  ASSERT_TRUE(ulvex_test::SetHandoffKeyReadOnly(false));
  ASSERT_TRUE(run.started);
  EXPECT_FALSE(run.timedOut);
  const std::string out = Lines(run.out);
  EXPECT_EQ(run.exitCode, 1u) << out;
  EXPECT_TRUE(EndsWith(out,
                       "Progress ERR: Failed to set Ulvex Progress Registry "
                       "value : Progress\n"))
      << out;
  EXPECT_TRUE(ulvex_test::ReadStandInLog(log).empty()) << "a host started";
  ulvex_test::KillStandInHosts();
  ulvex_test::UnregisterStandInHost();
}

// The run owns its host from the first call to the final text: Ctrl+C
// while the host starts, or while it answers its first call slowly, waits
// for the host and ends it; a time limit that runs out while the run lets
// go of a slow host after the success text changes nothing. Only the host
// is the run's: a program the add-in started stays when its host is ended.
TEST(LaunchTest, InterruptionsAtTheEdgesOfTheHostsLife) {
  HandoffKeyScope handoffKey;
  const std::string interrupted =
      "\nRun interrupted by Ctrl+C.\n"
      "Excel, which this run started, has been ended.\n";
  const struct {
    const char* name;
    std::string script;
    const char* pressAt;  // Ctrl+C once a line of the host's log begins so
    const wchar_t* timeLimit;
    DWORD exitCode;
    std::string outputEnd;
  } rows[] = {
      {"Ctrl+C after the add-in started a program of its own",
       "child 60000\nidle\n", "CHILD ", nullptr, 1, interrupted},
      {"Ctrl+C while the host starts", "slow-start 3000\nidle\n", "SLOW-START",
       nullptr, 1, interrupted},
      {"Ctrl+C while the host answers its first call", "slow Hwnd 3000\nidle\n",
       "SLOW Hwnd", nullptr, 1, interrupted},
      {"time limit while the host answers its release late",
       "fail Visible 0x80004005\nslow-release 8000\n" + Script(kSuccess),
       nullptr, L"4s", 0, Ended(kSuccess)},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    InstallFolder install(L"edges");
    ASSERT_TRUE(install.AddProgram());
    ASSERT_TRUE(install.WriteFile(L"App\\Ulvex", row.script));
    ASSERT_TRUE(ulvex_test::RegisterStandInHost(L"Excel.Application.16"));
    const std::wstring log = install.File(L"host.log");
    ASSERT_TRUE(
        ulvex_test::SetStandInScenario(install.File(L"App\\Ulvex"), log));
    RunOptions options;
    options.timeoutMs = kRunLimitMs;
    if (row.timeLimit != nullptr)
      options.setEnv[L"ULVEX_TIME_LIMIT"] = row.timeLimit;
    bool pressed = row.pressAt == nullptr;
    if (row.pressAt != nullptr) {
      options.watch = [&](RunningChild& child) {
        for (int i = 0; i < 400; ++i) {
          for (const std::string& line : ulvex_test::ReadStandInLog(log))
            if (line.rfind(row.pressAt, 0) == 0) i = 400;
          if (i < 400) Sleep(50);
        }
        pressed = ulvex_test::SendConsoleControl(child.process(), CTRL_C_EVENT);
      };
    }
    const auto run =
        RunProgram(install.QuotedProgram() + L" /taskid=7", options);
    ASSERT_TRUE(run.started);
    EXPECT_TRUE(pressed);
    EXPECT_FALSE(run.timedOut);
    const std::string out = Lines(run.out);
    EXPECT_EQ(run.exitCode, row.exitCode) << out;
    EXPECT_TRUE(EndsWith(out, row.outputEnd)) << out;
    // Every line printed before the host was asked for reached the pipe.
    EXPECT_NE(out.find("Argument #0 is -TaskID set to '7'\n"),
              std::string::npos)
        << out;
    if (row.exitCode == 1) {
      EXPECT_TRUE(ulvex_test::WaitForStandInExit(kHostExitMs));
      EXPECT_FALSE(ulvex_test::HostRecordExists());
    }
    // The add-in's program outlives its host.
    size_t children = 0;
    for (const std::string& line : ulvex_test::ReadStandInLog(log)) {
      if (line.rfind("CHILD ", 0) != 0) continue;
      ++children;
      const HANDLE child =
          OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE,
                      strtoul(line.c_str() + strlen("CHILD "), nullptr, 10));
      ASSERT_NE(child, nullptr) << line;
      EXPECT_EQ(WaitForSingleObject(child, 0), static_cast<DWORD>(WAIT_TIMEOUT))
          << "the host's child went with it";
      TerminateProcess(child, 0);
      CloseHandle(child);
    }
    EXPECT_EQ(children, row.script.rfind("child", 0) == 0 ? 1u : 0u);
    ulvex_test::KillStandInHosts();
    ulvex_test::DeleteHostRecord();
  }
  ulvex_test::UnregisterStandInHost();
}
