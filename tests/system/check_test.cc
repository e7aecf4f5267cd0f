// The installation check as a user meets it: the real UlvexCheck.exe in a
// throw-away install folder, run with a real command line, against the
// stand-in host, the hand-off key and the user's run lock.
#include <gtest/gtest.h>
#include <windows.h>
// Needs <windows.h> first.
#include <shlobj.h>

#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/support/handoff_key.h"
#include "tests/support/host_record.h"
#include "tests/support/install_folder.h"
#include "tests/support/machine_facts.h"
#include "tests/support/registry_backup.h"
#include "tests/support/run_program.h"
#include "tests/support/standin_host.h"

namespace {

using ulvex_test::InstallFolder;
using ulvex_test::Lines;
using ulvex_test::Narrow;
using ulvex_test::RunningChild;
using ulvex_test::RunOptions;
using ulvex_test::RunProgram;

// The check bounds each call into the host at 60 s; a cold host start takes
// about a second under Wine.
constexpr DWORD kCheckLimitMs = 90000;
constexpr DWORD kHostGoneMs = 1000;
const char kReady[] =
    "This installation is ready for an unattended Ulvex Task.";
const char kSuccess[] = "QUIT - Task SUCCEEDED, process exit code 0";

// One check's line as it starts: the status and the name in their columns.
std::string Line(const std::string& status, const std::string& id,
                 const std::string& found) {
  std::string line = status;
  line.resize(4, ' ');
  std::string name = id;
  name.resize(17, ' ');
  return line + " " + name + " " + found;
}

bool HasLineStarting(const std::string& out, const std::string& start) {
  return out.find("\n" + start) != std::string::npos;
}

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// The host's calls, with the check's own file in Open's line named
// "(the check's file)" once it has been found to be one under the
// temporary folder that is gone again.
std::vector<std::string> HostCalls(const std::vector<std::string>& log) {
  std::vector<std::string> calls = ulvex_test::StandInCalls(log);
  const std::string open = "METHOD Open VT_BSTR ";
  for (std::string& call : calls) {
    if (call.rfind(open, 0) != 0) continue;
    const std::string path = call.substr(open.size());
    const bool own = path.find("\\UlvexCheck-") != std::string::npos &&
                     EndsWith(path, ".txt");
    EXPECT_TRUE(own) << path;
    EXPECT_EQ(GetFileAttributesW(ulvex_test::Widen(path).c_str()),
              INVALID_FILE_ATTRIBUTES)
        << path << " is left";
    if (own) call = "METHOD Open (the check's file)";
  }
  return calls;
}

// The hand-off key, the stand-in's scenario and registration are put back
// as they were after each test.
class CheckTest : public testing::Test {
 protected:
  void TearDown() override {
    ulvex_test::KillStandInHosts();
    ulvex_test::UnregisterStandInHost();
  }

  ulvex_test::RegistryBackup keepHandoff_{HKEY_CURRENT_USER,
                                          L"Software\\Quennet\\Ulvex"};
};

// An install folder with the check, the program, the product and the
// add-in workbook (which the stand-in reads at its start).
struct Installed {
  explicit Installed(const std::string& script, bool workbook = true)
      : folder(L"check") {
    folder.AddCheck();
    folder.AddProgram();
    folder.AddProductExe();
    if (workbook) folder.WriteFile(L"App\\Ulvex", script);
    log = folder.File(L"host.log");
    ulvex_test::SetStandInScenario(folder.File(L"App\\Ulvex"), log);
  }
  InstallFolder folder;
  std::wstring log;
};

ulvex_test::ProgramRun RunCheck(const Installed& installed,
                                const std::wstring& arguments,
                                const wchar_t* timeLimit = nullptr) {
  RunOptions options;
  options.timeoutMs = kCheckLimitMs;
  if (timeLimit != nullptr)
    options.setEnv[L"ULVEX_TIME_LIMIT"] = timeLimit;
  else
    options.unsetEnv[L"ULVEX_TIME_LIMIT"] = true;
  std::wstring line = installed.folder.QuotedCheck();
  if (!arguments.empty()) line += L" " + arguments;
  return RunProgram(line, options);
}

TEST_F(CheckTest, InstallationsAndWhatTheCheckSays) {
  const std::string notReady1 = "This installation is not ready: 1 check";
  const std::string notReady2 = "This installation is not ready: 2 checks";
  const std::vector<std::string> allHostCalls = {
      "GET Hwnd",
      "GET Version",
      "GET AutomationSecurity",
      "GET Workbooks",
      "METHOD Open (the check's file)",
      "METHOD Close VT_BOOL 0",
      "METHOD Quit"};
  const std::string hostSkipped = "not run: host-start failed";
  const struct {
    const char* name;
    bool handoffKey;
    bool registered;
    bool workbook;
    std::string script;
    const wchar_t* timeLimit;
    std::wstring arguments;
    DWORD status;
    std::vector<std::string> lines;  // each the start of a line
    std::string last;
    std::vector<std::string> hostCalls;  // in the stand-in's log
    const wchar_t* runAs = nullptr;      // the class's DCOM identity; none
    bool hostEndsItself = false;  // the host's log ends with its own exit
  } rows[] = {
      {"ready",
       true,
       true,
       true,
       "progress never played\n",
       nullptr,
       L"",
       0,
       {Line("ok", "install",
             "UlvexCmdLine.exe, Ulvex_32.exe (version 2.3.7) "
             "and App\\Ulvex in "),
        Line("ok", "handoff-key",
             "HKEY_CURRENT_USER\\Software\\Quennet\\Ulvex "
             "exists"),
        Line("ok", "host-registration", "Excel.Application"),
        Line("ok", "dcom-identity", "the class has no AppID"),
        Line("ok", "time-limit", "no limit"),
        Line("ok", "run-lock", "the run lock "),
        Line("ok", "leftover-host", "no Excel left running"),
        Line("ok", "host-start", "Excel 16.0 started in "),
        Line("ok", "macros", "Application.AutomationSecurity is 1 (low)"),
        Line("ok", "workbook", "Workbooks.Open opened ")},
       kReady,
       allHostCalls,
       nullptr,
       true},
      {"the hand-off key missing",
       false,
       true,
       true,
       "",
       nullptr,
       L"/nohost",
       1,
       {Line("FAIL", "handoff-key",
             "HKEY_CURRENT_USER\\Software\\Quennet\\Ulvex does not exist for "
             "this account"),
        "     What to do: Set up Ulvex for the account that runs the task"},
       notReady1,
       {}},
      {"the host's class not registered",
       true,
       false,
       true,
       "",
       nullptr,
       L"",
       1,
       {Line("FAIL", "host-registration",
             "Excel.Application names no class in either registry view"),
        Line("FAIL", "host-start",
             "CLSIDFromProgID() failed:0x800401f3: Invalid class string "
             "(CO_E_CLASSSTRING)"),
        Line("skip", "macros", hostSkipped),
        Line("skip", "workbook", hostSkipped)},
       notReady2,
       {}},
      {"App\\Ulvex missing",
       true,
       true,
       false,
       "",
       nullptr,
       L"/nohost",
       1,
       {Line("FAIL", "install", "App\\Ulvex is missing in ")},
       notReady1,
       {}},
      {"Open refused by the host",
       true,
       true,
       true,
       "fail Open\n",
       nullptr,
       L"",
       1,
       {Line("FAIL", "workbook", "Workbooks.Open of "),
        "     What to do: Open Excel by hand as the account that runs the "
        "task"},
       notReady1,
       {"GET Hwnd", "GET Version", "GET AutomationSecurity", "GET Workbooks",
        "METHOD Open (the check's file)", "METHOD Quit"}},
      {"macros forced off by a policy",
       true,
       true,
       true,
       "automation-security 3\n",
       nullptr,
       L"",
       1,
       {Line("FAIL", "macros",
             "Application.AutomationSecurity is 3 (force disable)"),
        Line("ok", "workbook", "Workbooks.Open opened ")},
       notReady1,
       allHostCalls},
      {"macros as the Trust Center says",
       true,
       true,
       true,
       "automation-security 2\n",
       nullptr,
       L"",
       0,
       {Line("warn", "macros",
             "Application.AutomationSecurity is 2 (by the user interface)")},
       kReady,
       allHostCalls},
      {"a start slower than the time limit",
       true,
       true,
       true,
       "slow-start 20000\n",
       L"5s",
       L"",
       1,
       {Line("FAIL", "host-start",
             "the time limit (ULVEX_TIME_LIMIT=5s) ran out during its start "
             "(CoCreateInstance); the Excel this check started (process "),
        Line("skip", "macros", "not run: host-start did not finish"),
        Line("skip", "workbook", "not run: host-start did not finish")},
       notReady1,
       {}},
      {"a time limit that is none",
       true,
       true,
       true,
       "",
       L"1.5h",
       L"/nohost",
       1,
       {Line("FAIL", "time-limit",
             "ULVEX_TIME_LIMIT='1.5h' is not a valid time limit: give a whole "
             "number of minutes, or a number followed by s, m or h (for "
             "example 90, 45s or 2h).")},
       notReady1,
       {}},
      {"the time limit ends a call that does not return",
       true,
       true,
       true,
       "slow Open 60000\n",
       L"4s",
       L"",
       1,
       {Line("ok", "time-limit", "4 seconds (ULVEX_TIME_LIMIT=4s)"),
        Line("FAIL", "workbook",
             "the time limit (ULVEX_TIME_LIMIT=4s) ran out during "
             "Workbooks.Open; the Excel this check started has been ended")},
       notReady1,
       {"GET Hwnd", "GET Version", "GET AutomationSecurity", "GET Workbooks",
        "METHOD Open (the check's file)"}},
      {"DCOM identity: the interactive user",
       true,
       true,
       true,
       "",
       nullptr,
       L"",
       0,
       {Line("warn", "dcom-identity", "RunAs in HKEY_"),
        "     What to do: Unless the task runs as that account, choose \"The "
        "launching user\""},
       kReady,
       allHostCalls,
       L"Interactive User"},
      {"/nohost starts nothing",
       true,
       true,
       true,
       "",
       nullptr,
       L"/nohost",
       0,
       {Line("ok", "run-lock", "the run lock ")},
       kReady,
       {}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    if (row.handoffKey)
      ASSERT_TRUE(ulvex_test::CreateHandoffKey());
    else
      ASSERT_TRUE(ulvex_test::DeleteHandoffKey());
    if (row.registered)
      ASSERT_TRUE(ulvex_test::RegisterStandInHost(L"Excel.Application.16"));
    else
      ulvex_test::UnregisterStandInHost();
    if (row.runAs != nullptr)
      ASSERT_TRUE(ulvex_test::SetStandInRunAs(row.runAs));
    Installed installed(row.script, row.workbook);
    const auto commandLine = ulvex_test::ReadHandoffData(L"CommandLine");
    const auto progress = ulvex_test::ReadHandoffData(L"Progress");

    const auto run = RunCheck(installed, row.arguments, row.timeLimit);
    ASSERT_TRUE(run.started);
    EXPECT_FALSE(run.timedOut);
    const std::string out = Lines(run.out);
    EXPECT_EQ(run.exitCode, row.status) << out;
    EXPECT_EQ(run.err, "");
    for (const std::string& line : row.lines)
      EXPECT_TRUE(HasLineStarting(out, line)) << line << "\n---\n" << out;
    const size_t last = out.rfind("\n\n");
    EXPECT_TRUE(last != std::string::npos &&
                out.compare(last + 2, row.last.size(), row.last) == 0 &&
                out.find('\n', last + 2) == out.size() - 1)
        << out;

    // Each call into the host, in order; then the host is gone with the
    // check, whichever way it ended: by its own end once let go of, where
    // the check waited for it.
    const auto log = ulvex_test::ReadStandInLog(installed.log);
    EXPECT_EQ(HostCalls(log), row.hostCalls);
    if (row.hostCalls.empty() && row.script.find("slow-start") != 0)
      EXPECT_TRUE(log.empty()) << log.size();
    EXPECT_TRUE(ulvex_test::WaitForStandInExit(kHostGoneMs));
    if (row.hostEndsItself) {
      const auto whole = ulvex_test::ReadStandInLog(installed.log);
      EXPECT_TRUE(!whole.empty() && whole.back() == "EXIT released")
          << (whole.empty() ? "" : whole.back());
    }
    // Nothing was created or written.
    EXPECT_EQ(ulvex_test::HandoffKeyExists(), row.handoffKey);
    EXPECT_EQ(ulvex_test::ReadHandoffData(L"CommandLine").data,
              commandLine.data);
    EXPECT_EQ(ulvex_test::ReadHandoffData(L"Progress").data, progress.data);
    ulvex_test::KillStandInHosts();
  }
}

// The class of "Excel.Application" as registered now; empty when none.
std::wstring RegisteredClassId() {
  wchar_t clsid[64] = {};
  DWORD bytes = sizeof clsid - sizeof(wchar_t);
  if (RegGetValueW(HKEY_CLASSES_ROOT, L"Excel.Application\\CLSID", nullptr,
                   RRF_RT_REG_SZ, nullptr, clsid, &bytes) != ERROR_SUCCESS)
    return std::wstring();
  return clsid;
}

std::wstring UserName() {
  wchar_t name[256] = {};
  DWORD chars = 256;
  return GetUserNameW(name, &chars) ? name : L"";
}

std::wstring Expanded(const wchar_t* text) {
  wchar_t buffer[1024] = {};
  return ExpandEnvironmentStringsW(text, buffer, 1024) - 1 < 1024 ? buffer
                                                                  : L"";
}

// The user's run lock file, below the local application data folder.
std::wstring RunLockFile() {
  PWSTR folder = nullptr;
  std::wstring path;
  if (SUCCEEDED(
          SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &folder)))
    path = std::wstring(folder) + L"\\Quennet\\UlvexCmdLine\\run.lock";
  CoTaskMemFree(folder);
  return path;
}

// The host's registration and identity as COM reads them: where RunAs is
// read, which view's server a client of the check's kind gets, a class
// value with a stray byte, and the lock probe that creates nothing.
// NOTE: under Wine HKCR does not merge the user's classes and the check
// runs elevated: the per-user AppID row proves only that the line names
// the machine's key; on Windows it is the row that catches a merged read.
TEST_F(CheckTest, RegistrationAndIdentityAsComReadsThem) {
  const bool client64 = sizeof(void*) == 8;  // the check is built alike
  const std::wstring missing = ulvex_test::BinFolder() + L"\\NoSuchHost.exe";
  const std::wstring standIn = ulvex_test::BinFolder() + L"\\StandInHost.exe";
  const std::wstring lockFile = RunLockFile();
  const std::wstring userAppId = L"Software\\Classes\\AppID\\";
  const std::wstring programFiles32 =
      Expanded(L"%ProgramFiles(x86)%\\Ulvex Test\\EXCEL.EXE");
  const auto standInWithRunAs = [](const std::wstring& runAs) {
    return ulvex_test::RegisterStandInHost(L"Excel.Application.16") &&
           ulvex_test::SetStandInRunAs(runAs);
  };
  // COM reads whole code units: the stray byte is no part of the command.
  const auto strayByte = [&] {
    if (!ulvex_test::RegisterStandInHost(L"Excel.Application.16")) return false;
    const std::wstring text = L"\"" + standIn + L"\"";
    std::vector<unsigned char> bytes;
    for (wchar_t unit : text) {
      bytes.push_back(static_cast<unsigned char>(unit & 0xFF));
      bytes.push_back(static_cast<unsigned char>(unit >> 8));
    }
    bytes.insert(bytes.end(), {0, 0, 'x'});
    return ulvex_test::WriteRegistryValue(
        HKEY_CLASSES_ROOT,
        L"CLSID\\" + RegisteredClassId() + L"\\LocalServer32", nullptr, REG_SZ,
        bytes.data(), static_cast<DWORD>(bytes.size()));
  };
  // An elevated check reads the machine's classes alone, and says so.
  const std::string classesRead =
      ulvex_test::TokenIsElevated()
          ? "Excel.Application of the machine "
            "(HKEY_LOCAL_MACHINE\\Software\\Classes, all an elevated "
            "run trusts): version 16"
          : "Excel.Application: version 16";
  const struct {
    const char* name;
    std::function<bool()> setUp;
    std::wstring arguments;
    DWORD status;
    std::vector<std::string> lines;  // each the start of a line
  } rows[] = {
      {"RunAs naming another account",
       [&] { return standInWithRunAs(L"SYSTEM"); },
       L"/nohost",
       1,
       {Line("ok", "host-registration", classesRead),
        Line("FAIL", "dcom-identity",
             "RunAs in HKEY_LOCAL_MACHINE\\Software\\Classes\\AppID\\{"),
        "     What to do: Choose \"The launching user\""}},
      {"a per-user AppID without RunAs over the machine's RunAs",
       [&] {
         return standInWithRunAs(L"SYSTEM") &&
                ulvex_test::CreateRegistryKey(HKEY_CURRENT_USER,
                                              userAppId + RegisteredClassId());
       },
       L"/nohost",
       1,
       {Line("FAIL", "dcom-identity",
             "RunAs in HKEY_LOCAL_MACHINE\\Software\\Classes\\AppID\\{")}},
      // The check's account is "DOMAIN\user"; the name alone is the same
      // account.
      {"RunAs naming this account without its domain",
       [&] { return standInWithRunAs(UserName()); },
       L"/nohost",
       0,
       {Line("ok", "dcom-identity",
             "RunAs in HKEY_LOCAL_MACHINE\\Software\\Classes\\AppID\\{")}},
      {"every view names a missing program",
       [] { return ulvex_test::RegisterBrokenHost(); },
       L"/nohost",
       1,
       {Line("FAIL", "host-registration", "Excel.Application")}},
      {"the server of the check's own kind missing beside the other",
       [&] {
         const std::wstring quoted = L"\"" + standIn + L"\"";
         const std::wstring gone = L"\"" + missing + L"\"";
         return client64 ? ulvex_test::RegisterHostServerInViews(quoted, gone,
                                                                 missing)
                         : ulvex_test::RegisterHostServerInViews(gone, quoted,
                                                                 standIn);
       },
       L"/nohost",
       1,
       {Line("FAIL", "host-registration", "Excel.Application"),
        "     What to do: Repair Excel (Settings, Apps, Microsoft Office, "
        "Modify, Quick Repair): the program " +
            Narrow(missing) + ", which COM starts for a run here"}},
      {"a LocalServer32 with a stray byte after its terminator",
       strayByte,
       L"",
       0,
       {Line("ok", "host-registration", "Excel.Application"),
        Line("ok", "host-start", "Excel 16.0 started in ")}},
      {"no run lock yet: the probe creates none",
       [&] {
         DeleteFileW(lockFile.c_str());
         return ulvex_test::RegisterStandInHost(L"Excel.Application.16");
       },
       L"/nohost",
       0,
       {Line("ok", "run-lock",
             "the run lock " + Narrow(lockFile) + " does not exist yet")}},
  };
  ASSERT_TRUE(ulvex_test::CreateHandoffKey());
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Installed installed("");
    ASSERT_TRUE(row.setUp());
    const std::wstring classId = RegisteredClassId();
    const auto run = RunCheck(installed, row.arguments);
    const std::string out = Lines(run.out);
    EXPECT_EQ(run.exitCode, row.status) << out;
    for (const std::string& line : row.lines)
      EXPECT_TRUE(HasLineStarting(out, line)) << line << "\n---\n" << out;
    EXPECT_TRUE(ulvex_test::WaitForStandInExit(kHostGoneMs));
    ulvex_test::KillStandInHosts();
    if (!classId.empty())
      ulvex_test::DeleteRegistryTree(HKEY_CURRENT_USER, userAppId + classId);
  }
  // The probe created no lock file.
  EXPECT_EQ(GetFileAttributesW(lockFile.c_str()), INVALID_FILE_ATTRIBUTES);
  // The run ties the host of that registration, as the check did.
  {
    // The add-in quits its host at the end, as a task with /quitok does:
    // a visible host would stay.
    Installed installed("progress " + std::string(kSuccess) + "\nquit\n");
    ASSERT_TRUE(strayByte());
    RunOptions options;
    options.timeoutMs = kCheckLimitMs;
    const auto run =
        RunProgram(installed.folder.QuotedProgram() + L" /taskid=7", options);
    const std::string out = Lines(run.out);
    EXPECT_EQ(run.exitCode, 0u) << out;
    EXPECT_EQ(out.find("could not be tied"), std::string::npos) << out;
    EXPECT_TRUE(ulvex_test::WaitForStandInExit(kHostGoneMs));
    ulvex_test::KillStandInHosts();
  }
  // The 32-bit view's program, named as a 32-bit launcher expands it.
  if (!programFiles32.empty() && programFiles32[0] != L'%') {
    ASSERT_TRUE(
        ulvex_test::RegisterHostServer(L"%ProgramFiles%\\Ulvex Test\\EXCEL.EXE",
                                       REG_EXPAND_SZ, false, KEY_WOW64_32KEY));
    Installed installed("");
    const std::string out = Lines(RunCheck(installed, L"/nohost").out);
    EXPECT_NE(out.find("32-bit view: class {"), std::string::npos) << out;
    EXPECT_NE(
        out.find("LocalServer32 " + Narrow(programFiles32) + " (missing)"),
        std::string::npos)
        << out;
  }
}

// /json: one object that a JSON parser reads, with every check in order.
TEST_F(CheckTest, JsonIsOneObjectWithEveryCheck) {
  ASSERT_TRUE(ulvex_test::RegisterStandInHost(L"Excel.Application.16"));
  Installed installed("");
  const struct {
    const char* name;
    bool handoffKey;
    bool ready;
    DWORD status;
  } rows[] = {{"ready", true, true, 0}, {"no hand-off key", false, false, 1}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    if (row.handoffKey)
      ASSERT_TRUE(ulvex_test::CreateHandoffKey());
    else
      ASSERT_TRUE(ulvex_test::DeleteHandoffKey());
    ASSERT_TRUE(ulvex_test::RegisterStandInHost(L"Excel.Application.16"));
    const auto run = RunCheck(installed, L"/json");
    EXPECT_EQ(run.exitCode, row.status) << run.out;
    // One line: the object.
    ASSERT_TRUE(EndsWith(run.out, "}\r\n")) << run.out;
    EXPECT_EQ(run.out.find('\n'), run.out.size() - 1) << run.out;
    const auto report = nlohmann::json::parse(run.out, nullptr, false);
    ASSERT_TRUE(report.is_object()) << run.out;
    EXPECT_EQ(report["ready"], row.ready);
    EXPECT_EQ(report["program"]["folder"], Narrow(installed.folder.path()));
    EXPECT_EQ(report["program"]["version"], ULVEX_VERSION);
    std::vector<std::string> ids;
    for (const auto& check : report["checks"]) {
      ids.push_back(check["id"]);
      const std::string status = check["status"];
      EXPECT_EQ(check["advice"].is_null(), status == "ok" || status == "skip")
          << check.dump();
      EXPECT_TRUE(check["found"].is_string()) << check.dump();
      const bool failed = check["id"] == "handoff-key" && !row.handoffKey;
      // Without an interactive desktop the line depends on the profile's
      // Desktop folders (TheDesktopLineFollowsTheSession).
      if (check["id"] == "desktop" &&
          !ulvex_test::SessionHasInteractiveDesktop())
        continue;
      EXPECT_EQ(status, failed ? "fail" : "ok") << check.dump();
    }
    const std::vector<std::string> order = {
        "install",    "handoff-key", "host-registration", "dcom-identity",
        "desktop",    "time-limit",  "run-lock",          "leftover-host",
        "host-start", "macros",      "workbook"};
    EXPECT_EQ(ids, order);
    EXPECT_TRUE(ulvex_test::WaitForStandInExit(kHostGoneMs));
  }
}

// A check stopped with Ctrl+C fails: the step in progress says so, the
// host it started is ended, and the status is 1, never 0.
TEST_F(CheckTest, AStoppedCheckFails) {
  ASSERT_TRUE(ulvex_test::CreateHandoffKey());
  const struct {
    const char* name;
    std::string script;
    std::string after;  // the line the check has printed when stopped
    std::string line;
  } rows[] = {
      {"during the host's start", "slow-start 4000\n",
       Line("ok", "leftover-host", ""),
       Line("FAIL", "host-start",
            "the check was stopped by Ctrl+C during its start "
            "(CoCreateInstance); the Excel this check started has been "
            "ended")},
      {"during the workbook step", "slow Open 20000\n",
       Line("ok", "macros", ""),
       Line("FAIL", "workbook",
            "the check was stopped by Ctrl+C during Workbooks.Open; the "
            "Excel this check started has been ended")},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ASSERT_TRUE(ulvex_test::RegisterStandInHost(L"Excel.Application.16"));
    Installed installed(row.script);
    RunOptions options;
    options.timeoutMs = kCheckLimitMs;
    options.unsetEnv[L"ULVEX_TIME_LIMIT"] = true;
    options.watch = [&row](RunningChild& child) {
      if (!child.WaitForOutput(row.after, 0, kCheckLimitMs)) return;
      Sleep(1000);  // well inside the call that the host makes slow
      EXPECT_TRUE(
          ulvex_test::SendConsoleControl(child.process(), CTRL_C_EVENT));
    };
    const auto run = RunProgram(installed.folder.QuotedCheck(), options);
    ASSERT_TRUE(run.started);
    EXPECT_FALSE(run.timedOut);
    const std::string out = Lines(run.out);
    EXPECT_EQ(run.exitCode, 1u) << out;
    EXPECT_TRUE(HasLineStarting(out, row.line)) << out;
    EXPECT_NE(out.find("\n\nThis installation is not ready: 1 check"),
              std::string::npos)
        << out;
    EXPECT_TRUE(ulvex_test::WaitForStandInExit(kHostGoneMs));
    ulvex_test::KillStandInHosts();
  }
}

// A run that is going on is left alone: the check says so, and the run
// ends with its own add-in's success.
TEST_F(CheckTest, ARunInProgressIsLeftAlone) {
  ASSERT_TRUE(ulvex_test::CreateHandoffKey());
  ASSERT_TRUE(ulvex_test::RegisterStandInHost(L"Excel.Application.16"));
  Installed installed("progress Working\nsleep 4000\nprogress " +
                      std::string(kSuccess) + "\n");
  ulvex_test::ProgramRun check;
  RunOptions options;
  options.timeoutMs = kCheckLimitMs;
  options.watch = [&](RunningChild& taskRun) {
    if (taskRun.WaitForOutput("Working", 0, kCheckLimitMs))
      check = RunCheck(installed, L"");
  };
  const auto run =
      RunProgram(installed.folder.QuotedProgram() + L" /taskid=7", options);
  const std::string out = Lines(run.out);
  const std::string checkOut = Lines(check.out);
  EXPECT_EQ(run.exitCode, 0u) << out;
  EXPECT_TRUE(EndsWith(out, std::string(kSuccess) + "\n")) << out;
  ASSERT_TRUE(check.started);
  EXPECT_EQ(check.exitCode, 0u) << checkOut;
  EXPECT_TRUE(HasLineStarting(
      checkOut,
      Line("warn", "run-lock", "a run of this user is going on: it holds")))
      << checkOut;
  EXPECT_TRUE(HasLineStarting(checkOut, Line("ok", "workbook", "")))
      << checkOut;
  EXPECT_TRUE(EndsWith(checkOut, std::string(kReady) + "\n")) << checkOut;
}

// A host that an earlier run left running is named, and left as it is:
// the record stays and the process runs on.
TEST_F(CheckTest, AHostLeftByAnEarlierRunIsNamedAndLeftAlone) {
  ASSERT_TRUE(ulvex_test::CreateHandoffKey());
  ASSERT_TRUE(ulvex_test::RegisterStandInHost(L"Excel.Application.16"));
  Installed installed("");
  const struct {
    const char* name;
    const wchar_t* program;
    const wchar_t* arguments;
    std::string line;
  } rows[] = {
      {"the registered host: the next run ends it", L"StandInHost.exe",
       L"-Embedding", Line("warn", "leftover-host", "Excel (process ")},
      {"another program: the next run leaves it", L"IdleProcess.exe", L"60000",
       Line("ok", "leftover-host", "an earlier run's record names process ")},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    DWORD processId = 0;
    const HANDLE planted =
        ulvex_test::StartBuildProgram(row.program, row.arguments, &processId);
    ASSERT_NE(planted, nullptr);
    ASSERT_TRUE(ulvex_test::WriteHostRecord(
        processId, ulvex_test::ProcessStartTime(planted),
        ulvex_test::ProcessImage(planted)));
    const auto run = RunCheck(installed, L"/nohost");
    const std::string out = Lines(run.out);
    EXPECT_EQ(run.exitCode, 0u) << out;
    EXPECT_TRUE(HasLineStarting(out, row.line)) << out;
    EXPECT_EQ(ulvex_test::RecordedHostProcessId(), processId);
    EXPECT_EQ(WaitForSingleObject(planted, 0),
              static_cast<DWORD>(WAIT_TIMEOUT));
    TerminateProcess(planted, 1);
    WaitForSingleObject(planted, kHostGoneMs);
    CloseHandle(planted);
    ulvex_test::DeleteHostRecord();
  }
}

// Switches: the help screen, and the option parser's errors with status 2.
TEST_F(CheckTest, SwitchesAndTheirErrors) {
  Installed installed("");
  const struct {
    std::wstring arguments;
    DWORD status;
    std::string out;  // stdout and stderr together, in order
  } rows[] = {
      {L"/x", 2,
       "Unknown option 'x'\n\nUse /h to display the help of UlvexCheck.\n"},
      {L"/json=yes", 2,
       "Option '/json=yes' does not take a value\n\nUse /h to display the "
       "help of UlvexCheck.\n"},
      {L"/nohost extra", 2,
       "Unknown option 'extra'\n\nUse /h to display the help of "
       "UlvexCheck.\n"},
      {L"/h", 0, "USAGE: UlvexCheck [options]"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(Narrow(row.arguments));
    RunOptions options;
    options.errorsToOutput = true;
    const auto run = RunProgram(
        installed.folder.QuotedCheck() + L" " + row.arguments, options);
    const std::string out = Lines(run.out);
    EXPECT_EQ(run.exitCode, row.status) << out;
    if (row.status == 2)
      EXPECT_EQ(out, row.out);
    else
      EXPECT_NE(out.find(row.out), std::string::npos) << out;
  }
}

// The desktop line follows the session the check runs in, with a profile
// that has no Desktop folder: ok in a session with an interactive desktop;
// without one (session 0 or a hidden window station, as for a task that
// runs whether the user is logged on or not) a FAIL that names the folder.
TEST_F(CheckTest, TheDesktopLineFollowsTheSession) {
  ASSERT_TRUE(ulvex_test::CreateHandoffKey());
  ASSERT_TRUE(ulvex_test::RegisterStandInHost(L"Excel.Application.16"));
  Installed installed("");
  RunOptions options;
  options.timeoutMs = kCheckLimitMs;
  options.unsetEnv[L"ULVEX_TIME_LIMIT"] = true;
  options.setEnv[L"USERPROFILE"] = installed.folder.path();
  const auto run =
      RunProgram(installed.folder.QuotedCheck() + L" /nohost", options);
  ASSERT_TRUE(run.started);
  const std::string out = Lines(run.out);
  if (ulvex_test::SessionHasInteractiveDesktop()) {
    EXPECT_TRUE(HasLineStarting(
        out, Line("ok", "desktop",
                  "this session (" + std::to_string(ulvex_test::SessionId()) +
                      ") has an interactive desktop\n")))
        << out;
    EXPECT_EQ(run.exitCode, 0u) << out;
  } else {
    EXPECT_TRUE(HasLineStarting(
        out, Line("FAIL", "desktop", "no interactive desktop (session 0 ")))
        << out;
    EXPECT_NE(out.find(Narrow(installed.folder.path()) + "\\Desktop is missing"),
              std::string::npos)
        << out;
    EXPECT_EQ(run.exitCode, 1u) << out;
  }
}

// A per-user registration of the host (HKCU\Software\Classes) counts for an
// unelevated check, which reads HKEY_CLASSES_ROOT and so the user's classes
// first; an elevated one trusts the machine's alone, as COM does.
TEST_F(CheckTest, APerUserRegistrationCountsOnlyWithoutElevation) {
  ASSERT_TRUE(ulvex_test::CreateHandoffKey());
  const bool elevated = ulvex_test::TokenIsElevated();
  if (!ulvex_test::RegisterStandInHost(L"Excel.Application.16") && !elevated)
    GTEST_SKIP() << "an unelevated token may not register the machine's "
                    "class (" << ulvex_test::MachineFactsLine() << ")";
  // The user's ProgID hides the machine's whole in the merged view: it
  // names the same class, with a version of its own.
  wchar_t clsid[64] = {};
  DWORD bytes = sizeof clsid - sizeof(wchar_t);
  ASSERT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE,
                         L"Software\\Classes\\Excel.Application\\CLSID",
                         nullptr, RRF_RT_REG_SZ, nullptr, clsid, &bytes),
            ERROR_SUCCESS);
  const std::wstring perUser = L"Excel.Application.12";
  const std::wstring key = L"Software\\Classes\\Excel.Application";
  for (const auto& value : {std::make_pair(L"\\CLSID", std::wstring(clsid)),
                            std::make_pair(L"\\CurVer", perUser)})
    if (!ulvex_test::WriteRegistryValue(
            HKEY_CURRENT_USER, key + value.first, nullptr, REG_SZ,
            value.second.c_str(),
            static_cast<DWORD>((value.second.size() + 1) * sizeof(wchar_t))))
      // NOTE: Wine's prefix refuses keys under HKCU\Software\Classes.
      GTEST_SKIP() << "no per-user class can be registered here: "
                      "HKCU\\Software\\Classes refuses new keys ("
                   << ulvex_test::MachineFactsLine() << ")";
  if (!elevated && !ulvex_test::ClassesRootMergesUserClasses())
    GTEST_SKIP() << "HKEY_CLASSES_ROOT shows no per-user class here ("
                 << ulvex_test::MachineFactsLine() << ")";
  Installed installed("");
  const auto run = RunCheck(installed, L"/nohost");
  ASSERT_TRUE(run.started);
  const std::string out = Lines(run.out);
  EXPECT_TRUE(HasLineStarting(
      out, Line("ok", "host-registration",
                elevated ? "Excel.Application of the machine "
                           "(HKEY_LOCAL_MACHINE\\Software\\Classes, all an "
                           "elevated run trusts): version 16 ("
                         : "Excel.Application: version 12 (")))
      << ulvex_test::MachineFactsLine() << "\n" << out;
}

}  // namespace
