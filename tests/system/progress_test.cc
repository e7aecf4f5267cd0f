// The progress monitor as the add-in meets it: the real program waits on
// the hand-off key while the test plays the add-in, writing "Progress" step
// by step and watching what the program prints.
#include <gtest/gtest.h>
#include <windows.h>
// Needs <windows.h> first.
#include <shlobj.h>

#include <iterator>
#include <string>
#include <vector>

#include "tests/support/handoff_key.h"
#include "tests/support/install_folder.h"
#include "tests/support/registry_backup.h"
#include "tests/support/run_program.h"
#include "tests/support/standin_host.h"

namespace {

using ulvex_test::AnsiBytes;
using ulvex_test::CreateHandoffKey;
using ulvex_test::DeleteHandoffKey;
using ulvex_test::HandoffKeyExists;
using ulvex_test::InstallFolder;
using ulvex_test::RunningChild;
using ulvex_test::RunOptions;
using ulvex_test::RunProgram;
using ulvex_test::WriteProgress;

const wchar_t kSuccess[] = L"QUIT - Task SUCCEEDED, process exit code 0";
const char kLoading[] = "Loading Application";
const char kReadError[] = "GetStringRegKey Error";
// Long enough for a loaded machine; a scenario that passes never waits it.
constexpr DWORD kAwaitMs = 10000;
// The longest a run may take to end once its host is gone.
constexpr DWORD kHostEndToExitMs = 2000;

// ---------------------------------------------------------------------------
// Expected output from "Loading Application" to the end, as a sequence of
// pieces; time stamps differ between runs, so they match any valid time.

struct Piece {
  enum Kind { Text, Dots, Line, LineEndOnly } kind;
  std::string text;  // Text: literal bytes; Line: the progress text
  size_t minDots = 0;
};

Piece Lit(const std::string& text) { return {Piece::Text, text}; }
Piece Dots(size_t atLeast = 0) { return {Piece::Dots, "", atLeast}; }
// A progress line: the line end, the time stamp, ":" and the text.
Piece Line(const std::wstring& text) { return {Piece::Line, AnsiBytes(text)}; }
// A progress line whose text is given as the exact bytes on the pipe.
Piece LineBytes(const std::string& bytes) { return {Piece::Line, bytes}; }
Piece End() { return {Piece::LineEndOnly, ""}; }

using Pattern = std::vector<Piece>;

// "\nhh:mm:ss:" on the 12-hour clock.
bool StampAt(const std::string& out, size_t pos) {
  auto digit = [&](size_t i) {
    return out[pos + i] >= '0' && out[pos + i] <= '9';
  };
  if (out.size() < pos + 10 || out[pos] != '\n' || out[pos + 3] != ':' ||
      out[pos + 6] != ':' || out[pos + 9] != ':')
    return false;
  for (size_t i : {1, 2, 4, 5, 7, 8})
    if (!digit(i)) return false;
  const int hour = (out[pos + 1] - '0') * 10 + (out[pos + 2] - '0');
  return hour >= 1 && hour <= 12 && out[pos + 4] <= '5' && out[pos + 7] <= '5';
}

bool Matches(const Pattern& pattern, size_t index, const std::string& out,
             size_t pos, const std::string& lineEnd) {
  if (index == pattern.size()) return pos == out.size();
  const Piece& piece = pattern[index];
  auto literalThen = [&](const std::string& text, size_t at) -> long {
    return out.compare(at, text.size(), text) == 0
               ? static_cast<long>(at + text.size())
               : -1;
  };
  switch (piece.kind) {
    case Piece::Dots: {
      size_t count = 0;
      while (pos + count < out.size() && out[pos + count] == '.') ++count;
      for (size_t take = count + 1; take-- > piece.minDots;)
        if (Matches(pattern, index + 1, out, pos + take, lineEnd)) return true;
      return false;
    }
    case Piece::Text: {
      const long next = literalThen(piece.text, pos);
      return next >= 0 && Matches(pattern, index + 1, out, next, lineEnd);
    }
    case Piece::LineEndOnly: {
      const long next = literalThen(lineEnd, pos);
      return next >= 0 && Matches(pattern, index + 1, out, next, lineEnd);
    }
    case Piece::Line: {
      const long stamp = literalThen(lineEnd, pos);
      if (stamp < 0 || !StampAt(out, stamp)) return false;
      const long next = literalThen(piece.text, stamp + 10);
      return next >= 0 && Matches(pattern, index + 1, out, next, lineEnd);
    }
  }
  return false;
}

// Shows line ends and long texts readably in a failure message.
std::string Visible(const std::string& out) {
  std::string shown;
  for (char c : out)
    shown += c == '\n' ? std::string("\\n") : std::string(1, c);
  if (shown.size() > 600)
    shown = shown.substr(0, 300) + " ... " + shown.substr(shown.size() - 300);
  return shown;
}

// ---------------------------------------------------------------------------
// The add-in's side: a script of registry operations, played while the
// program runs.

struct Step {
  enum Kind {
    Write,
    WriteBytes,
    Delete,
    Await,
    Pause,
    Interrupt,
    EndSession,
    CloseRequest,
    KillHost
  } kind;
  std::wstring text;                 // Write
  std::vector<unsigned char> bytes;  // WriteBytes (exactly these)
  std::string awaited;               // Await: output since the last write
  DWORD ms = 0;                      // Pause
  DWORD type = REG_SZ;               // WriteBytes; Interrupt: the event;
                                     // EndSession: the flags (lParam)
};

Step Write(const std::wstring& text) { return {Step::Write, text}; }
Step WriteBytes(const std::vector<unsigned char>& bytes, DWORD type = REG_SZ) {
  return {Step::WriteBytes, L"", bytes, "", 0, type};
}
// The bytes of text and its terminating NUL, as a string value holds them.
std::vector<unsigned char> TextBytes(const std::wstring& text) {
  const auto* first = reinterpret_cast<const unsigned char*>(text.c_str());
  return {first, first + (text.size() + 1) * sizeof(wchar_t)};
}
// Ctrl+C or Ctrl+Break in the program's console, as a user presses it.
Step Interrupt(DWORD event) { return {Step::Interrupt, L"", {}, "", 0, event}; }
// The end of the session as the system announces it to the program's
// hidden window: WM_QUERYENDSESSION, then WM_ENDSESSION, with these flags
// (ENDSESSION_LOGOFF, ENDSESSION_CLOSEAPP, or 0 for shutdown).
Step EndSession(DWORD flags) {
  return {Step::EndSession, L"", {}, "", 0, flags};
}
// WM_CLOSE to the program's hidden window, as taskkill without /f posts it.
Step CloseRequest() { return {Step::CloseRequest}; }
// The host's process ends at once, as when it crashes or is killed.
Step KillHost() { return {Step::KillHost}; }
Step DeleteProgress() { return {Step::Delete}; }
Step Await(const std::string& text) { return {Step::Await, L"", {}, text}; }
Step Pause(DWORD ms) { return {Step::Pause, L"", {}, "", ms}; }

struct WindowSearch {
  DWORD processId;
  HWND found;
};

BOOL CALLBACK MatchSessionWindow(HWND window, LPARAM context) {
  auto& search = *reinterpret_cast<WindowSearch*>(context);
  wchar_t name[64] = {};
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != search.processId ||
      GetClassNameW(window, name, static_cast<int>(std::size(name))) == 0 ||
      wcscmp(name, L"UlvexCmdLineSessionWatch") != 0)
    return TRUE;
  search.found = window;
  return FALSE;
}

// Tells the program's hidden window that the session ends, as the system
// does, and then ends the program with status 0, as the system may once
// every window has answered (Wine does): a window that answers before the
// run has ended lets the session's end pass for success. False when the
// window is not found or does not answer the query.
bool SendEndSession(HANDLE process, DWORD flags) {
  WindowSearch search{GetProcessId(process), nullptr};
  const ULONGLONG deadline = GetTickCount64() + kAwaitMs;
  while (search.found == nullptr && GetTickCount64() < deadline) {
    EnumWindows(MatchSessionWindow, reinterpret_cast<LPARAM>(&search));
    if (search.found == nullptr) Sleep(20);
  }
  if (search.found == nullptr) return false;
  DWORD_PTR answer = 0;
  if (!SendMessageTimeoutW(search.found, WM_QUERYENDSESSION, 0, flags,
                           SMTO_ABORTIFHUNG, kAwaitMs, &answer) ||
      answer == 0)
    return false;
  // The window never answers: the run ends the process first.
  SendMessageTimeoutW(search.found, WM_ENDSESSION, TRUE, flags, SMTO_NORMAL,
                      kAwaitMs, &answer);
  if (WaitForSingleObject(process, 0) == WAIT_TIMEOUT)
    TerminateProcess(process, 0);
  return true;
}

// Posts WM_CLOSE to the program's hidden window; false when it is not found.
bool SendCloseRequest(HANDLE process) {
  WindowSearch search{GetProcessId(process), nullptr};
  const ULONGLONG deadline = GetTickCount64() + kAwaitMs;
  while (search.found == nullptr && GetTickCount64() < deadline) {
    EnumWindows(MatchSessionWindow, reinterpret_cast<LPARAM>(&search));
    if (search.found == nullptr) Sleep(20);
  }
  return search.found != nullptr &&
         PostMessageW(search.found, WM_CLOSE, 0, 0) != 0;
}

// Plays the steps once the program has printed "Loading Application";
// returns false (after reporting) when the program did not do what a step
// waits for, and then ends the run with a "QUIT" text.
bool PlayScript(RunningChild& child, const std::vector<Step>& steps) {
  if (!child.WaitForOutput(kLoading, 0, kAwaitMs)) {
    ADD_FAILURE() << "no \"" << kLoading
                  << "\" in: " << Visible(child.Output());
    return false;
  }
  size_t mark = child.Output().size();
  for (size_t i = 0; i < steps.size(); ++i) {
    const Step& step = steps[i];
    bool done = true;
    switch (step.kind) {
      case Step::Write:
        mark = child.Output().size();
        done = WriteProgress(step.text);
        break;
      case Step::WriteBytes:
        mark = child.Output().size();
        done = ulvex_test::WriteHandoffData(L"Progress", step.type, step.bytes);
        break;
      case Step::Interrupt:
        mark = child.Output().size();
        done = ulvex_test::SendConsoleControl(child.process(), step.type);
        break;
      case Step::EndSession:
        mark = child.Output().size();
        done = SendEndSession(child.process(), step.type);
        break;
      case Step::CloseRequest:
        mark = child.Output().size();
        done = SendCloseRequest(child.process());
        break;
      case Step::KillHost:
        mark = child.Output().size();
        // The run must end, and soon, once its host is gone.
        done = ulvex_test::TerminateStandInHosts() > 0 &&
               WaitForSingleObject(child.process(), kHostEndToExitMs) ==
                   WAIT_OBJECT_0;
        break;
      case Step::Delete:
        mark = child.Output().size();
        done = ulvex_test::DeleteHandoffValue(L"Progress");
        break;
      case Step::Await:
        done = child.WaitForOutput(step.awaited, mark, kAwaitMs);
        break;
      case Step::Pause:
        Sleep(step.ms);
        break;
    }
    if (!done) {
      ADD_FAILURE() << "step " << i << " failed (awaiting \""
                    << Visible(step.awaited)
                    << "\"); output so far: " << Visible(child.Output());
      WriteProgress(L"QUIT - the test gave up");
      return false;
    }
  }
  return true;
}

// Runs in an install folder of their own, with the stand-in host in the
// place of the spreadsheet host, so that the program gets past the launch
// into the monitor. The stand-in's add-in stays idle: these tests play the
// add-in themselves.
class ProgressTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(CreateHandoffKey());
    ReachTheMonitor();
  }
  void TearDown() override {
    ulvex_test::KillStandInHosts();
    ulvex_test::UnregisterStandInHost();
  }

  // The hand-off key as it was before the test.
  ulvex_test::RegistryBackup keepHandoff_{HKEY_CURRENT_USER,
                                          L"Software\\Quennet\\Ulvex"};

  // Everything a run needs so that it reaches the monitor.
  void ReachTheMonitor() {
    ASSERT_TRUE(folder_.AddProgram());
    ASSERT_TRUE(folder_.WriteFile(L"App\\Ulvex", "idle\n"));
    RegisterHost();
  }

  // A class of its own for the next run: a run that is interrupted ends its
  // host, and under Wine a killed server's class cannot start again.
  void RegisterHost() {
    ASSERT_TRUE(ulvex_test::RegisterStandInHost(L"Excel.Application.16"));
    ASSERT_TRUE(ulvex_test::SetStandInScenario(folder_.File(L"App\\Ulvex"),
                                               folder_.File(L"host.log")));
  }

  std::wstring Program() const { return folder_.QuotedProgram(); }
  std::wstring HostLog() const { return folder_.File(L"host.log"); }

 private:
  InstallFolder folder_{L"progress"};
};

// Standard output is in text mode: each "\n" reaches the pipe as "\r\n".
// The expectations are written with the program's own "\n".
std::string Lines(const std::string& out) {
  std::string lines;
  for (size_t i = 0; i < out.size(); ++i)
    if (out[i] != '\r' || i + 1 == out.size() || out[i + 1] != '\n')
      lines += out[i];
  return lines;
}

// The output from "Loading Application" on; empty when it is missing.
std::string MonitorOutput(const std::string& out) {
  const size_t start = out.find(kLoading);
  return start == std::string::npos ? std::string() : Lines(out.substr(start));
}

std::wstring LongText(size_t length) {
  std::wstring text;
  for (size_t i = 0; text.size() < length; ++i)
    text += L"part " + std::to_wstring(i) + L"; ";
  text.resize(length);
  text.back() = L'Z';  // the last character shows the text came whole
  return text;
}

TEST_F(ProgressTest, AddInScenarios) {
  const std::wstring text4095 = LongText(4095);
  const std::wstring text4096 = LongText(4096);
  const std::wstring nonAscii = L"Caf\u00e9 \u03a9 \u20ac \u4e2d end";
  const std::vector<unsigned char> noNul = {'N', 0,   'o', 0,   'N',
                                            0,   'u', 0,   'l', 0};
  const std::string success = AnsiBytes(kSuccess);
  const std::string hostEnded =
      "Excel, which this run started, has been ended.";
  const struct {
    const char* name;
    const wchar_t* arguments;
    const wchar_t* leftOver;  // "Progress" before the run, or null
    std::vector<Step> script;
    Pattern expected;
    DWORD status;
  } rows[] = {
      {"first message, DONE, dots, success",
       L"/taskid=7",
       nullptr,
       {Write(L"Step one"), Await("Step one"), Write(L"DONE"), Await("\n"),
        Await(".."), Write(kSuccess)},
       {Lit(kLoading), Dots(), Line(L"Step one"), Dots(), End(), Dots(2),
        Line(kSuccess), End()},
       0},
      {"QUIT alone fails",
       L"/taskid=7",
       nullptr,
       {Write(L"QUIT")},
       {Lit(kLoading), Dots(), Line(L"QUIT"), End()},
       1},
      {"another QUIT text fails",
       L"/taskid=7",
       nullptr,
       {Write(L"Step one"), Await("Step one"),
        Write(L"QUIT - Task FAILED, process exit code 3")},
       {Lit(kLoading), Dots(), Line(L"Step one"), Dots(),
        Line(L"QUIT - Task FAILED, process exit code 3"), End()},
       1},
      {"success text with one more character fails",
       L"/taskid=7",
       nullptr,
       {Write(std::wstring(kSuccess) + L"!")},
       {Lit(kLoading), Dots(), Line(std::wstring(kSuccess) + L"!"), End()},
       1},
      {"lower-case quit does not end the wait",
       L"/taskid=7",
       nullptr,
       {Write(L"quit"), Await("quit"), Await("."), Write(L"Quit now"),
        Await("Quit now"), Await("."), Write(L"QUIT")},
       {Lit(kLoading), Dots(), Line(L"quit"), Dots(1), Line(L"Quit now"),
        Dots(1), Line(L"QUIT"), End()},
       1},
      {"the same text twice is printed once",
       L"/taskid=7",
       nullptr,
       {Write(L"Same"), Await("Same"), Write(L"Same"), Await("."),
        Write(L"QUIT")},
       {Lit(kLoading), Dots(), Line(L"Same"), Dots(1), Line(L"QUIT"), End()},
       1},
      {"emptied after a message prints a dot",
       L"/taskid=7",
       nullptr,
       {Write(L"Step one"), Await("Step one"), Write(L""), Await("."),
        Write(L"QUIT")},
       {Lit(kLoading), Dots(), Line(L"Step one"), Dots(1), Line(L"QUIT"),
        End()},
       1},
      {"deleted value prints the read error once",
       L"/taskid=7",
       nullptr,
       {Write(L"Step one"), Await("Step one"), DeleteProgress(),
        Await(kReadError), Await(".."), Write(L"QUIT")},
       {Lit(kLoading), Dots(), Line(L"Step one"), Dots(),
        Line(L"GetStringRegKey Error"), Dots(2), Line(L"QUIT"), End()},
       1},
      {"4,095 characters are read whole",
       L"/taskid=7",
       nullptr,
       {Write(text4095), Await(AnsiBytes(text4095.substr(4000))),
        Write(L"QUIT")},
       {Lit(kLoading), Dots(), Line(text4095), Dots(), Line(L"QUIT"), End()},
       1},
      {"4,096 characters are a read error",
       L"/taskid=7",
       nullptr,
       {Write(text4096), Await(kReadError), Write(L"QUIT")},
       {Lit(kLoading), Dots(), Line(L"GetStringRegKey Error"), Dots(),
        Line(L"QUIT"), End()},
       1},
      {"the success text as a string list is no text",
       L"/taskid=7",
       nullptr,
       {WriteBytes(TextBytes(std::wstring(kSuccess) + L'\0'), REG_MULTI_SZ),
        Await(kReadError), Write(L"QUIT")},
       {Lit(kLoading), Dots(), Line(L"GetStringRegKey Error"), Dots(),
        Line(L"QUIT"), End()},
       1},
      {"the success text as binary data is no text",
       L"/taskid=7",
       nullptr,
       {WriteBytes(TextBytes(kSuccess), REG_BINARY), Await(kReadError),
        Write(L"QUIT")},
       {Lit(kLoading), Dots(), Line(L"GetStringRegKey Error"), Dots(),
        Line(L"QUIT"), End()},
       1},
      {"an expandable string is read as it stands",
       L"/taskid=7",
       nullptr,
       {WriteBytes(TextBytes(L"%TEMP% here"), REG_EXPAND_SZ),
        Await("%TEMP% here"), WriteBytes(TextBytes(kSuccess), REG_EXPAND_SZ)},
       {Lit(kLoading), Dots(), Line(L"%TEMP% here"), Dots(), Line(kSuccess),
        End()},
       0},
      {"Ctrl+C ends the run with status 1",
       L"/taskid=7",
       nullptr,
       {Write(L"Step one"), Await("Step one"), Interrupt(CTRL_C_EVENT)},
       {Lit(kLoading), Dots(), Line(L"Step one"), Dots(),
        Lit("\nRun interrupted by Ctrl+C.\n" + hostEnded + "\n")},
       1},
      {"Ctrl+C in HTML mode",
       L"/taskid=7 /html",
       nullptr,
       {Await("."), Interrupt(CTRL_C_EVENT)},
       {Lit(kLoading), Dots(1),
        Lit("<br>Run interrupted by Ctrl+C.<br>" + hostEnded + "<br>")},
       1},
      {"an installer closing programs",
       L"/taskid=7",
       nullptr,
       {Await("."), EndSession(ENDSESSION_CLOSEAPP)},
       {Lit(kLoading), Dots(1),
        Lit("\nRun interrupted by an installer or an update closing "
            "programs.\n" +
            hostEnded + "\n")},
       1},
      {"log-off",
       L"/taskid=7",
       nullptr,
       {Await("."), EndSession(ENDSESSION_LOGOFF)},
       {Lit(kLoading), Dots(1),
        Lit("\nRun interrupted by the user logging off.\n" + hostEnded + "\n")},
       1},
      {"shutdown",
       L"/taskid=7",
       nullptr,
       {Await("."), EndSession(0)},
       {Lit(kLoading), Dots(1),
        Lit("\nRun interrupted by the system shutting down.\n" + hostEnded +
            "\n")},
       1},
      // A polite stop (taskkill without /f) is an interruption of its own.
      {"a request to close the program",
       L"/taskid=7",
       nullptr,
       {Await("."), CloseRequest()},
       {Lit(kLoading), Dots(1),
        Lit("\nRun interrupted by a request to close the program.\n" +
            hostEnded + "\n")},
       1},
      {"host killed mid-task: the run ends within 2 s",
       L"/taskid=7",
       nullptr,
       {Write(L"Step one"), Await("Step one"), KillHost()},
       {Lit(kLoading), Dots(), Line(L"Step one"), Dots(),
        Line(L"Excel ended before the Ulvex Task reported its end"), End()},
       1},
      {"data without a terminating NUL",
       L"/taskid=7",
       nullptr,
       {WriteBytes(noNul), Await("NoNul"), Write(L"QUIT")},
       {Lit(kLoading), Dots(), Line(L"NoNul"), Dots(), Line(L"QUIT"), End()},
       1},
      {"non-ASCII text is printed whole",
       L"/taskid=7",
       nullptr,
       {Write(nonAscii), Await(" end"), Write(L"QUIT")},
       {Lit(kLoading), Dots(), Line(nonAscii), Dots(), Line(L"QUIT"), End()},
       1},
      // What the ANSI code page (1252) lacks is "?", never a look-alike.
      {"Greek, Chinese and Polish text",
       L"/taskid=7",
       nullptr,
       {Write(
            L"\u0391\u03b8\u03ae\u03bd\u03b1 \u6771\u4eac \u0141\u00f3d\u017a"),
        Await(" ?\xF3"), Write(L"QUIT")},
       {Lit(kLoading), Dots(),
        LineBytes("????? ?? ?\xF3"
                  "d?"),
        Dots(), Line(L"QUIT"), End()},
       1},
      {"host killed mid-task, HTML mode",
       L"/taskid=7 /html",
       nullptr,
       {Write(L"Step one"), Await("Step one"), KillHost()},
       {Lit(kLoading), Dots(), Line(L"Step one"), Dots(),
        Line(L"Excel ended before the Ulvex Task reported its end"), End()},
       1},
      {"HTML mode",
       L"/taskid=7 /html",
       nullptr,
       {Write(L"Step one"), Await("Step one"), Write(L"DONE"), Await("<br>"),
        Await("."), Write(kSuccess)},
       {Lit(kLoading), Dots(), Line(L"Step one"), Dots(), End(), Dots(1),
        Line(kSuccess), End()},
       0},
      {"an earlier run's QUIT text does not end this one",
       L"/taskid=7",
       L"QUIT - Task FAILED, process exit code 1",
       {Await("."), Write(kSuccess)},
       {Lit(kLoading), Dots(1), Line(kSuccess), End()},
       0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    RegisterHost();
    if (row.leftOver != nullptr) ASSERT_TRUE(WriteProgress(row.leftOver));
    RunOptions options;
    options.watch = [&row](RunningChild& child) {
      PlayScript(child, row.script);
    };
    const auto run = RunProgram(Program() + L" " + row.arguments, options);
    ASSERT_TRUE(run.started);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, row.status);
    EXPECT_EQ(run.err, "");
    const std::string monitored = MonitorOutput(run.out);
    const std::string lineEnd =
        wcsstr(row.arguments, L"/html") != nullptr ? "<br>" : "\n";
    EXPECT_TRUE(Matches(row.expected, 0, monitored, 0, lineEnd))
        << Visible(run.out);
    EXPECT_EQ(run.out.find(kLoading), run.out.rfind(kLoading));
    // The host, visible and not quit by its add-in, stays, as Excel does.
    ulvex_test::KillStandInHosts();
  }
}

TEST_F(ProgressTest, MissingHandoffKeyIsReportedByEveryStep) {
  ASSERT_TRUE(DeleteHandoffKey());
  const auto run = RunProgram(Program() + L" /taskid=7");
  ASSERT_TRUE(run.started);
  const std::string out = Lines(run.out);
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 1u);
  EXPECT_EQ(run.err, "");
  const std::string writers =
      "Command line ERR: Failed to set Registry value : "
      "Software\\Quennet\\Ulvex\\CommandLine\n"
      "Progress ERR: Failed to set Ulvex Progress Registry value : "
      "Progress\n";
  const std::string monitorFailure = "Error in RegOpenKeyEx (2).\n";
  EXPECT_NE(out.find(writers), std::string::npos) << Visible(out);
  ASSERT_GE(out.size(), monitorFailure.size());
  EXPECT_EQ(out.substr(out.size() - monitorFailure.size()), monitorFailure)
      << Visible(out);
  EXPECT_EQ(out.find(kLoading), std::string::npos);
  // Found before the launch: no host was started to be left behind.
  EXPECT_EQ(out.find("CLSIDFromProgID"), std::string::npos);
  EXPECT_TRUE(ulvex_test::ReadStandInLog(HostLog()).empty());
  // The program never creates the key.
  EXPECT_FALSE(HandoffKeyExists());
}

// A run killed while it holds the user's run lock leaves the lock
// abandoned: the next run takes it over at once instead of waiting.
TEST_F(ProgressTest, AKilledRunLeavesNoLockBehind) {
  RunOptions killed;
  killed.watch = [](RunningChild& child) {
    ASSERT_TRUE(child.WaitForOutput(kLoading, 0, kAwaitMs));
    TerminateProcess(child.process(), 9);
  };
  const auto first = RunProgram(Program() + L" /taskid=7", killed);
  ASSERT_TRUE(first.started);
  EXPECT_EQ(first.exitCode, 9u);
  ulvex_test::KillStandInHosts();
  RegisterHost();

  RunOptions next;
  next.watch = [](RunningChild& child) { PlayScript(child, {Write(L"QUIT")}); };
  const auto second = RunProgram(Program() + L" /taskid=8", next);
  ASSERT_TRUE(second.started);
  EXPECT_FALSE(second.timedOut);
  EXPECT_EQ(second.exitCode, 1u);
  EXPECT_EQ(second.out.find("waiting"), std::string::npos) << second.out;
}

// The user's run lock file, below the local application data folder.
std::wstring LockFilePath() {
  PWSTR folder = nullptr;
  std::wstring path;
  if (SUCCEEDED(
          SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &folder)))
    path = std::wstring(folder) + L"\\Quennet\\UlvexCmdLine\\run.lock";
  CoTaskMemFree(folder);
  return path;
}

// No lock can be had: the run says so after its echo and ends with status 1
// before it touches anything that another run of the user might share.
TEST_F(ProgressTest, ARunWithoutTheLockEndsBeforeAnythingElse) {
  const std::wstring path = LockFilePath();
  ASSERT_FALSE(path.empty());
  const struct {
    const char* name;
    bool folder;  // a folder in the lock file's place, else the file held
                  // open without sharing
    const char* line;
  } rows[] = {
      {"the file held open without sharing", false,
       "The run lock of this user could not be taken (error 32); the run "
       "ends.\n"},
      {"a folder in the file's place", true,
       "The run lock of this user could not be taken (error 5); the run "
       "ends.\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    HANDLE held = INVALID_HANDLE_VALUE;
    if (row.folder) {
      DeleteFileW(path.c_str());
      ASSERT_TRUE(CreateDirectoryW(path.c_str(), nullptr));
    } else {
      held = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
      ASSERT_NE(held, INVALID_HANDLE_VALUE);
    }
    ASSERT_TRUE(ulvex_test::WriteHandoffValue(L"CommandLine", L"earlier"));
    ASSERT_TRUE(WriteProgress(L"earlier text"));
    const auto run = RunProgram(Program() + L" /taskid=7", {});
    if (row.folder)
      RemoveDirectoryW(path.c_str());
    else
      CloseHandle(held);
    ASSERT_TRUE(run.started);
    EXPECT_FALSE(run.timedOut);
    const std::string out = Lines(run.out);
    EXPECT_EQ(run.exitCode, 1u) << Visible(out);
    EXPECT_EQ(run.err, "");
    const std::string end =
        "Argument #0 is -TaskID set to '7'\n" + std::string(row.line);
    EXPECT_TRUE(out.size() >= end.size() &&
                out.compare(out.size() - end.size(), end.size(), end) == 0)
        << Visible(out);
    // The hand-off key was not touched.
    EXPECT_EQ(ulvex_test::ReadHandoffText(L"CommandLine"), L"earlier");
    EXPECT_EQ(ulvex_test::ReadHandoffText(L"Progress"), L"earlier text");
    EXPECT_TRUE(ulvex_test::ReadStandInLog(HostLog()).empty());
  }
}

// A process of the user that opens the lock file only to read can hold
// the lock all the same (the file's label keeps lower-integrity processes
// out, which Wine does not enforce): a run then waits for it like for
// another run, and only its time limit (or Ctrl+C) ends the wait.
TEST_F(ProgressTest, ALockHeldThroughAReadHandleHoldsTheRunUntilItsLimit) {
  const std::wstring path = LockFilePath();
  ASSERT_FALSE(path.empty());
  const std::wstring folder = path.substr(0, path.rfind(L'\\'));
  CreateDirectoryW(folder.substr(0, folder.rfind(L'\\')).c_str(), nullptr);
  CreateDirectoryW(folder.c_str(), nullptr);
  const HANDLE held = CreateFileW(path.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  OVERLAPPED at{};
  ASSERT_TRUE(LockFileEx(
      held, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at));
  ASSERT_TRUE(ulvex_test::WriteHandoffValue(L"CommandLine", L"earlier"));
  RunOptions options;
  options.setEnv[L"ULVEX_TIME_LIMIT"] = L"3s";
  const auto run = RunProgram(Program() + L" /taskid=7", options);
  UnlockFileEx(held, 0, 1, 0, &at);
  CloseHandle(held);
  ASSERT_TRUE(run.started);
  EXPECT_FALSE(run.timedOut);
  const std::string out = Lines(run.out);
  EXPECT_EQ(run.exitCode, 1u) << Visible(out);
  const std::string waiting =
      "Argument #0 is -TaskID set to '7'\n"
      "Another Ulvex Task of this user is running; waiting for it to end.\n";
  const std::string limit =
      ":The Ulvex Task did not end within the time limit "
      "(ULVEX_TIME_LIMIT=3s).\n";
  const size_t waitingAt = out.find(waiting);
  ASSERT_NE(waitingAt, std::string::npos) << Visible(out);
  // The waiting line, then the time-stamped limit line, and nothing else.
  const size_t stamp = waitingAt + waiting.size();
  EXPECT_TRUE(StampAt(out, stamp)) << Visible(out);
  EXPECT_EQ(out.substr(stamp + 9), limit) << Visible(out);
  EXPECT_EQ(ulvex_test::ReadHandoffText(L"CommandLine"), L"earlier");
  EXPECT_TRUE(ulvex_test::ReadStandInLog(HostLog()).empty());
}

TEST_F(ProgressTest, CommandLineIsStoredExactlyAsTyped) {
  const std::wstring commandLine =
      Program() +
      L"  /taskid=7   /auto \"two  words\"  plain \u00e9t\u00e9 \u03a9\u4e2d"
      L" \"a \\\"quoted\\\" one\"   ";
  RunOptions options;
  options.watch = [](RunningChild& child) {
    PlayScript(child, {Write(L"QUIT")});
  };
  const auto run = RunProgram(commandLine, options);
  ASSERT_TRUE(run.started);
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 1u);

  const auto stored = ulvex_test::ReadHandoffData(L"CommandLine");
  ASSERT_TRUE(stored.found);
  EXPECT_EQ(stored.type, static_cast<DWORD>(REG_SZ));
  // The data holds the text and its terminating NUL, nothing more.
  EXPECT_EQ(stored.data.size(), (commandLine.size() + 1) * sizeof(wchar_t));
  EXPECT_EQ(ulvex_test::ReadHandoffText(L"CommandLine"), commandLine);
}

TEST_F(ProgressTest, WaitingWithoutChangesIsQuietAndCheap) {
  constexpr DWORD kSilenceMs = 3000;
  size_t dots = 0;
  double cpuSeconds = -1;
  RunOptions options;
  options.watch = [&](RunningChild& child) {
    ASSERT_TRUE(child.WaitForOutput(kLoading, 0, kAwaitMs));
    const size_t mark = child.Output().size();
    Sleep(kSilenceMs);
    const std::string& out = child.Output();
    for (size_t i = mark; i < out.size(); ++i) dots += out[i] == '.';
    EXPECT_EQ(out.find_first_not_of('.', mark), std::string::npos)
        << Visible(out);
    cpuSeconds = ulvex_test::ProcessCpuSeconds(child.process());
    WriteProgress(L"QUIT");
  };
  const auto run = RunProgram(Program() + L" /taskid=7", options);
  ASSERT_TRUE(run.started);
  EXPECT_EQ(run.exitCode, 1u);
  // One dot per 1000 ms cycle: a spinning loop would print thousands.
  EXPECT_GE(dots, 1u);
  EXPECT_LE(dots, 4u);
  EXPECT_GE(cpuSeconds, 0.0);
  EXPECT_LT(cpuSeconds, 0.5);
}

// Ctrl+C ends the run even while its thread is blocked writing to a pipe
// whose reader stopped reading: the handler takes no lock of the C runtime
// and gives up on its own write.
TEST_F(ProgressTest, CtrlCEndsARunBlockedOnAFullPipe) {
  constexpr int kMaxTexts = 400;
  constexpr int kStillWrites = 5;  // writes without growth: blocked
  bool blocked = false;
  DWORD ended = WAIT_TIMEOUT;
  double pressedToExitMs = -1;
  RunOptions options;
  options.watch = [&](RunningChild& child) {
    ASSERT_TRUE(child.WaitForOutput(kLoading, 0, kAwaitMs));
    // From here on nothing is read: every text is a line of 4,000 bytes.
    DWORD unread = 0;
    int still = 0;
    for (int i = 0; i < kMaxTexts && still < kStillWrites; ++i) {
      WriteProgress(std::to_wstring(i) + L" " + LongText(4000));
      Sleep(30);
      const DWORD now = child.UnreadOutput();
      still = now == unread && now > 0 ? still + 1 : 0;
      unread = now;
    }
    blocked = still >= kStillWrites;
    const double pressed = ulvex_test::MillisecondsNow();
    ASSERT_TRUE(ulvex_test::SendConsoleControl(child.process(), CTRL_C_EVENT));
    ended = WaitForSingleObject(child.process(), kAwaitMs);
    pressedToExitMs = ulvex_test::MillisecondsNow() - pressed;
  };
  const auto run = RunProgram(Program() + L" /taskid=7", options);
  ASSERT_TRUE(run.started);
  EXPECT_TRUE(blocked) << "the pipe never filled";
  EXPECT_EQ(ended, WAIT_OBJECT_0) << "still running after Ctrl+C";
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 1u);
  RecordProperty("CtrlCToExitMs", static_cast<int>(pressedToExitMs));
  // The host went with the run.
  EXPECT_TRUE(ulvex_test::WaitForStandInExit(kAwaitMs));
}

}  // namespace
