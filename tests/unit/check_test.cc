// The installation check's pure parts: its switches, the words for what
// each check found, the report's lines and its JSON object.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "check/check_options.h"
#include "check/check_report.h"
#include "check/verdicts.h"

namespace {

std::string parseMessages;

void KeepMessage(option::MessageStream, const char* text) {
  parseMessages += text;
}

TEST(CheckOptionsTest, SwitchesAndWhatIsRefused) {
  const struct {
    std::vector<const char*> arguments;
    bool failed, help, json, noHost;
    const char* message;
  } rows[] = {
      {{}, false, false, false, false, ""},
      {{"/json"}, false, false, true, false, ""},
      {{"-jso", "/n"}, false, false, true, true, ""},
      {{"/nohost", "/json", "/h"}, false, true, true, true, ""},
      {{"/x"}, true, false, false, false, "Unknown option 'x'\n"},
      {{"/json=1"},
       true,
       false,
       true,
       false,
       "Option '/json=1' does not take a value\n"},
      {{"/json", "later"},
       true,
       false,
       true,
       false,
       "Unknown option 'later'\n"},
  };
  option::SetMessageWriter(KeepMessage);
  for (const auto& row : rows) {
    parseMessages.clear();
    std::vector<const char*> elements = row.arguments;
    const check::CheckSwitches switches =
        check::ParseCheckSwitches(static_cast<int32_t>(elements.size()),
                                  elements.empty() ? nullptr : elements.data());
    const std::string name = elements.empty() ? "(none)" : elements[0];
    EXPECT_EQ(switches.failed, row.failed) << name;
    if (!row.failed) {
      EXPECT_EQ(switches.help, row.help) << name;
      EXPECT_EQ(switches.json, row.json) << name;
      EXPECT_EQ(switches.noHost, row.noHost) << name;
    }
    EXPECT_EQ(parseMessages, row.message) << name;
  }
  option::SetMessageWriter(nullptr);
}

TEST(CheckReportTest, LinesAndTheVerdict) {
  const CheckResult ok = {"run-lock", CheckStatus::Ok, "free", ""};
  const CheckResult warn = {"dcom-identity", CheckStatus::Warn, "other",
                            "choose it"};
  const CheckResult fail = {"host-registration", CheckStatus::Fail, "none",
                            "install it"};
  EXPECT_EQ(ResultLines(ok), "ok   run-lock          free\n");
  EXPECT_EQ(ResultLines(warn),
            "warn dcom-identity     other\n     What to do: choose it\n");
  EXPECT_EQ(ResultLines(fail),
            "FAIL host-registration none\n     What to do: install it\n");
  EXPECT_EQ(SummaryLine({ok, warn}),
            "This installation is ready for an unattended Ulvex Task.\n");
  EXPECT_EQ(SummaryLine({fail, ok, fail}),
            "This installation is not ready: 2 checks failed.\n");

  // The lines come as the checks do; the end, and an end that cannot wait.
  CheckReport report(false, {"1.0.0", "C:\\Ulvex"});
  EXPECT_EQ(report.Begin(),
            "UlvexCheck 1.0.0: the Ulvex installation in C:\\Ulvex\n\n");
  EXPECT_EQ(report.Add(warn), ResultLines(warn));
  EXPECT_EQ(report.EndWith(fail),
            ResultLines(fail) +
                "\nThis installation is not ready: 1 check failed.\n");
  EXPECT_EQ(report.Status(), 0);
  EXPECT_EQ(report.End(),
            "\nThis installation is ready for an unattended Ulvex Task.\n");
  CheckReport json(true, {"1.0.0", "C:\\Ulvex"});
  EXPECT_EQ(json.Begin(), "");
  EXPECT_EQ(json.Add(fail), "");
  EXPECT_EQ(json.Status(), 1);

  // A skipped check has no advice and fails nothing; a note goes on the
  // last line and keeps the results; a stop is never ready.
  const CheckResult skip = {"workbook", CheckStatus::Skip, "not run", ""};
  EXPECT_EQ(ResultLines(skip), "skip workbook          not run\n");
  EXPECT_EQ(report.EndWith({skip}, "", false),
            ResultLines(skip) +
                "\nThis installation is ready for an unattended Ulvex "
                "Task.\n");
  EXPECT_EQ(report.StatusWith({skip}, false), 0);
  EXPECT_EQ(report.EndWith({}, "Quit hung.", false),
            "\nThis installation is ready for an unattended Ulvex Task. "
            "Note: Quit hung.\n");
  EXPECT_EQ(report.EndWith({}, "Quit hung.", true),
            "\nThis installation is not ready: the check was stopped. Note: "
            "Quit hung.\n");
  EXPECT_EQ(report.StatusWith({}, true), 1);
  CheckReport stoppedJson(true, {"1.0.0", "C:\\Ulvex"});
  stoppedJson.Add(ok);
  const auto read = nlohmann::json::parse(
      stoppedJson.EndWith({skip}, "a note", true), nullptr, false);
  ASSERT_TRUE(read.is_object());
  EXPECT_EQ(read["ready"], false);
  EXPECT_EQ(read["checks"][1]["status"], "skip");
  EXPECT_TRUE(read["checks"][1]["advice"].is_null());
}

TEST(CheckReportTest, JsonIsAsciiAndReadsBackWhole) {
  const std::wstring folder = L"C:\\Ulvex \u00e9\U0001F600";
  const std::vector<CheckResult> results = {
      {"install", CheckStatus::Ok, Utf8(folder), ""},
      {"run-lock", CheckStatus::Warn, "held \"now\"\t", "wait"},
      {"workbook", CheckStatus::Fail, Utf8(std::wstring(1, 0xD800) + L"x"),
       "fix"},
  };
  const std::string text = ReportJson(results, {"1.0.0", Utf8(folder)});
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.back(), '\n');
  for (char c : text) EXPECT_GT(static_cast<unsigned char>(c), 0) << text;
  for (char c : text) EXPECT_LT(static_cast<unsigned char>(c), 0x80) << text;
  const auto read = nlohmann::json::parse(text, nullptr, false);
  ASSERT_TRUE(read.is_object()) << text;
  EXPECT_EQ(read["ready"], false);
  EXPECT_EQ(read["program"]["version"], "1.0.0");
  EXPECT_EQ(read["program"]["folder"], Utf8(folder));
  ASSERT_EQ(read["checks"].size(), 3u);
  EXPECT_EQ(read["checks"][0]["status"], "ok");
  EXPECT_TRUE(read["checks"][0]["advice"].is_null());
  EXPECT_EQ(read["checks"][1]["status"], "warn");
  EXPECT_EQ(read["checks"][1]["found"], "held \"now\"\t");
  EXPECT_EQ(read["checks"][2]["status"], "fail");
  // An unpaired surrogate is no character: U+FFFD stands for it.
  EXPECT_EQ(read["checks"][2]["found"], "\xEF\xBF\xBDx");
  EXPECT_EQ(read["checks"][2]["advice"], "fix");
  // A warning is no failure: the installation is ready.
  const auto warned = nlohmann::json::parse(
      ReportJson({results[0], results[1]}, {"1.0.0", "C:\\U"}), nullptr, false);
  EXPECT_EQ(warned["ready"], true);
}

// Each row: a check's result, its status and how its found text begins.
struct VerdictRow {
  const char* name;
  CheckResult result;
  CheckStatus status;
  std::string found;
};

void ExpectRows(const std::vector<VerdictRow>& rows) {
  for (const VerdictRow& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(row.result.status, row.status);
    EXPECT_EQ(row.result.found.compare(0, row.found.size(), row.found), 0)
        << row.result.found;
    // Every warning and failure says what to do; nothing else does.
    EXPECT_EQ(row.result.advice.empty(),
              row.status == CheckStatus::Ok || row.status == CheckStatus::Skip)
        << row.result.advice;
  }
}

// The mark of the web: what a Zone.Identifier stream's text gives, and
// what the install check makes of it.
TEST(VerdictsTest, TheMarkOfTheWeb) {
  const struct {
    std::string text;
    int zone;
  } rows[] = {
      {"[ZoneTransfer]\r\nZoneId=3\r\nReferrerUrl=https://x/\r\n", 3},
      {"[ZoneTransfer]\nzoneid=4", 4},
      {"[ZoneTransfer]\r\n  ZoneId=2\r\n", 2},
      {"[ZoneTransfer]\r\nZoneId=\r\n", 0},
      {"ZoneId=99999999999999", 0},
      {"", 0},
  };
  for (const auto& row : rows)
    EXPECT_EQ(ParseZoneId(row.text), row.zone) << row.text;

  InstallFacts marked;
  marked.folder = L"C:\\Ulvex";
  marked.zoneId = 3;
  InstallFacts trusted = marked, restricted = marked, missing = marked;
  trusted.zoneId = 2;
  restricted.zoneId = 4;
  missing.programError = 2;
  ExpectRows({
      {"from the internet", JudgeInstall(marked), CheckStatus::Fail,
       "App\\Ulvex carries the mark of the web (its Zone.Identifier says "
       "ZoneId=3, the internet zone)"},
      {"restricted", JudgeInstall(restricted), CheckStatus::Fail,
       "App\\Ulvex carries the mark of the web (its Zone.Identifier says "
       "ZoneId=4, the restricted sites zone)"},
      {"a trusted site", JudgeInstall(trusted), CheckStatus::Ok,
       "UlvexCmdLine.exe"},
      {"marked and a file missing", JudgeInstall(missing), CheckStatus::Fail,
       "UlvexCmdLine.exe is missing; App\\Ulvex carries the mark of the web "
       "(ZoneId=3)"},
  });
  EXPECT_NE(JudgeInstall(marked).advice.find("Unblock-File"),
            std::string::npos);
  EXPECT_NE(JudgeInstall(missing).advice.find("Unblock-File"),
            std::string::npos);
}

// Every check is reported: the ones after a check that cannot go on are
// skipped with the reason, in order; /nohost lists no host check.
TEST(VerdictsTest, ChecksAfterOneThatStopped) {
  const auto ids = [](const std::vector<CheckResult>& results) {
    std::string text;
    for (const CheckResult& result : results) {
      EXPECT_EQ(result.status, CheckStatus::Skip);
      EXPECT_EQ(result.found, "not run: why");
      text += result.id + " ";
    }
    return text;
  };
  EXPECT_EQ(ids(SkippedAfter("host-start", false, "not run: why")),
            "macros workbook ");
  EXPECT_EQ(ids(SkippedAfter("run-lock", false, "not run: why")),
            "leftover-host host-start macros workbook ");
  EXPECT_EQ(ids(SkippedAfter("run-lock", true, "not run: why")),
            "leftover-host ");
  EXPECT_EQ(ids(SkippedAfter("workbook", false, "not run: why")), "");
  EXPECT_EQ(NextCheck("leftover-host", true), nullptr);
}

TEST(VerdictsTest, FilesKeysLimitsAndTheLock) {
  InstallFacts install;
  install.folder = L"C:\\Ulvex";
  install.product.major = 2;
  install.product.minor = 3;
  install.product.build = 7;
  InstallFacts broken = install;
  broken.workbookError = 5;
  broken.product.failure = VersionFailure::SizeQuery;
  broken.product.error = 1812;
  TimeLimit unset, valid, invalid;
  valid.setting = TimeLimitSetting::Valid;
  valid.seconds = 7200;
  valid.text = L"2h";
  invalid.setting = TimeLimitSetting::Invalid;
  invalid.text = L"soon";
  LockProbe free, held, later, refused;
  free.state = LockState::Free;
  held.state = LockState::Held;
  later.state = LockState::WillBeCreated;
  later.lockFile = L"C:\\L\\Quennet\\UlvexCmdLine\\run.lock";
  later.folder = L"C:\\L";
  refused.lockFile = later.lockFile;
  refused.folder = later.lockFile;
  refused.error = 32;
  ExpectRows({
      {"installed", JudgeInstall(install), CheckStatus::Ok,
       "UlvexCmdLine.exe, Ulvex_32.exe (version 2.3.7) and App\\Ulvex in "
       "C:\\Ulvex"},
      {"no version, workbook unreadable", JudgeInstall(broken),
       CheckStatus::Fail,
       "Ulvex_32.exe has no version information (error 1812); App\\Ulvex "
       "cannot be read (error 5: access denied) in C:\\Ulvex"},
      {"key", JudgeHandoffKey(0), CheckStatus::Ok,
       "HKEY_CURRENT_USER\\Software\\Quennet\\Ulvex exists"},
      {"no key", JudgeHandoffKey(2), CheckStatus::Fail,
       "HKEY_CURRENT_USER\\Software\\Quennet\\Ulvex does not exist"},
      {"key refused", JudgeHandoffKey(5), CheckStatus::Fail,
       "HKEY_CURRENT_USER\\Software\\Quennet\\Ulvex cannot be opened for "
       "setting, reading and watching values, as a run opens it (error 5: "
       "access denied)"},
      {"no limit", JudgeTimeLimit(unset), CheckStatus::Ok, "no limit"},
      {"a limit", JudgeTimeLimit(valid), CheckStatus::Ok,
       "2 hours (ULVEX_TIME_LIMIT=2h)"},
      {"no limit at all", JudgeTimeLimit(invalid), CheckStatus::Fail,
       "ULVEX_TIME_LIMIT='soon' is not a valid time limit"},
      {"lock free", JudgeRunLock(free), CheckStatus::Ok, "the run lock "},
      {"lock held", JudgeRunLock(held), CheckStatus::Warn,
       "a run of this user is going on"},
      {"lock to come", JudgeRunLock(later), CheckStatus::Ok,
       "the run lock C:\\L\\Quennet\\UlvexCmdLine\\run.lock does not exist "
       "yet; the first run creates it (and any folder missing on its way) in "
       "C:\\L,"},
      {"lock refused", JudgeRunLock(refused), CheckStatus::Fail,
       "the run lock C:\\L\\Quennet\\UlvexCmdLine\\run.lock cannot be opened "
       "or created at"},
  });
  // The lock file itself refused: its own folder is where rights lack.
  EXPECT_NE(JudgeRunLock(refused).advice.find(
                "change files in C:\\L\\Quennet\\UlvexCmdLine (its"),
            std::string::npos)
      << JudgeRunLock(refused).advice;
}

TEST(VerdictsTest, TheHostsRegistrationIdentityAndDesktop) {
  RegistrationFacts none, working, halfBroken;
  RegistrationFacts::View view32;
  view32.classId = L"{C}";
  view32.currentVersion = L"Excel.Application.16";
  view32.serverImage = L"C:\\X\\EXCEL.EXE";
  view32.bits = 32;
  RegistrationFacts::View view64 = view32;
  view64.view64 = true;
  view64.serverImage.clear();
  working.views = {view32, view64};
  working.version = L"16";
  working.versionSource = L"HKEY_CLASSES_ROOT\\Excel.Application\\CurVer";
  halfBroken.views = {view32, view32};
  halfBroken.views[1].view64 = true;
  halfBroken.views[1].fileError = 2;
  halfBroken.version = L"12";
  // The program COM starts for a client of the check's kind decides.
  RegistrationFacts allMissing = halfBroken;
  allMissing.views[0].fileError = 2;
  RegistrationFacts ownViewMissing = halfBroken;
  ownViewMissing.windows64 = true;
  ownViewMissing.views[0].fileError = 2;
  ownViewMissing.views[1].fileError = 0;
  RegistrationFacts client64 = ownViewMissing;
  client64.client64 = true;
  RegistrationFacts prefers64 = ownViewMissing;
  prefers64.preferredBitness = 3;
  prefers64.appIdKey = L"HKEY_LOCAL_MACHINE\\Software\\Classes\\AppID\\{A}";
  RegistrationFacts prefers32 = prefers64;
  prefers32.preferredBitness = 2;
  prefers32.views[0].serverImage.clear();
  DcomFacts unregistered, noRunAs, interactive, mine, other, unknown;
  noRunAs.registered = interactive.registered = mine.registered = true;
  other.registered = unknown.registered = true;
  noRunAs.appIdKey = interactive.appIdKey =
      L"HKEY_LOCAL_MACHINE\\Software\\Classes\\AppID\\{A}";
  mine.appIdKey = other.appIdKey = unknown.appIdKey = noRunAs.appIdKey;
  noRunAs.readError = 2;
  interactive.runAs = L"interactive user";
  mine.runAs = L"PC\\ann";
  mine.thisAccount = true;
  mine.resolved = true;
  other.runAs = L"PC\\bob";
  other.account = L"PC\\ann";
  other.resolved = true;
  unknown.runAs = L"PC\\nobody";
  unknown.lookupError = 1332;
  DesktopFinding interactiveDesktop, missing;
  interactiveDesktop.session = {true, 1, true, true};
  missing.interactive = false;
  missing.folders = {{L"C:\\P\\Desktop", true}};
  missing.advice = L"create the folder C:\\P\\Desktop";
  LeftoverFacts leftover;
  leftover.state = LeftoverFacts::Ended;
  leftover.processId = 42;
  LeftoverFacts ofTheRun = leftover;
  ofTheRun.runInProgress = true;
  LeftoverFacts holds = leftover;
  holds.state = LeftoverFacts::Holds;
  holds.reason = "it runs in another session";
  ExpectRows({
      {"not registered", JudgeRegistration(none), CheckStatus::Fail,
       "Excel.Application names no class in either registry view"},
      {"a 32-bit host", JudgeRegistration(working), CheckStatus::Ok,
       "Excel.Application: version 16 (HKEY_CLASSES_ROOT\\Excel.Application\\"
       "CurVer, as a run reads it), so a run sets FileValidation and the "
       "Office options; 32-bit view: class {C} (CurVer "
       "Excel.Application.16), LocalServer32 C:\\X\\EXCEL.EXE (32-bit); "
       "64-bit view: class {C} (CurVer Excel.Application.16), no "
       "LocalServer32 program in this view; a 32-bit run gets the 32-bit "
       "view's program"},
      {"the other view's program missing", JudgeRegistration(halfBroken),
       CheckStatus::Warn,
       "Excel.Application: version 12, so a run sets the Office options but "
       "not FileValidation"},
      {"every view's program missing", JudgeRegistration(allMissing),
       CheckStatus::Fail, "Excel.Application: version 12"},
      {"the 32-bit program missing beside a 64-bit one",
       JudgeRegistration(ownViewMissing), CheckStatus::Fail,
       "Excel.Application: version 12"},
      {"the same for a 64-bit client", JudgeRegistration(client64),
       CheckStatus::Warn, "Excel.Application: version 12"},
      {"PreferredServerBitness 3 for a 32-bit client",
       JudgeRegistration(prefers64), CheckStatus::Warn,
       "Excel.Application: version 12"},
      {"PreferredServerBitness 2 without a 32-bit server",
       JudgeRegistration(prefers32), CheckStatus::Fail,
       "Excel.Application: version 12"},
      {"no class", JudgeDcomIdentity(unregistered), CheckStatus::Ok,
       "no class registered"},
      {"no RunAs", JudgeDcomIdentity(noRunAs), CheckStatus::Ok,
       "no RunAs in HKEY_LOCAL_MACHINE\\Software\\Classes\\AppID\\{A}"},
      {"interactive user", JudgeDcomIdentity(interactive), CheckStatus::Warn,
       "RunAs in HKEY_LOCAL_MACHINE\\Software\\Classes\\AppID\\{A} is "
       "\"Interactive User\""},
      {"this account", JudgeDcomIdentity(mine), CheckStatus::Ok,
       "RunAs in HKEY_LOCAL_MACHINE\\Software\\Classes\\AppID\\{A} names "
       "this account"},
      {"another account", JudgeDcomIdentity(other), CheckStatus::Fail,
       "RunAs in HKEY_LOCAL_MACHINE\\Software\\Classes\\AppID\\{A} names the "
       "account PC\\bob, not this account (PC\\ann)"},
      {"a name that is no account here", JudgeDcomIdentity(unknown),
       CheckStatus::Warn,
       "RunAs in HKEY_LOCAL_MACHINE\\Software\\Classes\\AppID\\{A} names "
       "PC\\nobody, which this check cannot look up as an account (error "
       "1332)"},
      {"a desktop", JudgeDesktop(interactiveDesktop), CheckStatus::Ok,
       "this session (1) has an interactive desktop"},
      {"no desktop, no Desktop folder", JudgeDesktop(missing),
       CheckStatus::Fail, "no interactive desktop"},
      {"a leftover host", JudgeLeftoverHost(leftover), CheckStatus::Warn,
       "Excel (process 42), left running by an earlier run"},
      {"the host of the run going on", JudgeLeftoverHost(ofTheRun),
       CheckStatus::Ok, "the record names Excel (process 42) of the run"},
      {"a host the next run may not end", JudgeLeftoverHost(holds),
       CheckStatus::Fail,
       "Excel (process 42), left running by an earlier run of this user, "
       "still runs (it runs in another session)"},
  });
  // Where a run gets the missing program, the advice says so.
  EXPECT_NE(JudgeRegistration(ownViewMissing)
                .found.find("; a 32-bit run gets the 32-bit view's program"),
            std::string::npos);
  EXPECT_NE(JudgeRegistration(ownViewMissing)
                .advice.find("which COM starts for a run here"),
            std::string::npos);
  EXPECT_NE(JudgeRegistration(prefers64).found.find(
                "; a 32-bit run gets the 64-bit view's program "
                "(PreferredServerBitness 3 in HKEY_LOCAL_MACHINE"),
            std::string::npos);
  // Another account: what to change.
  EXPECT_NE(JudgeDcomIdentity(other).advice.find("or run the task as PC\\bob"),
            std::string::npos);
  // The run's own advice, as the run prints it.
  EXPECT_EQ(JudgeDesktop(missing).advice, "create the folder C:\\P\\Desktop");
}

TEST(VerdictsTest, StartingTheHostAndAWorkbook) {
  HostStartFacts unknown, notCreated, tied, watched;
  unknown.outcome = HostStartFacts::ClassUnknown;
  unknown.status = 0x800401F3u;
  unknown.words = L"Invalid class string (CO_E_CLASSSTRING): install it.";
  notCreated.outcome = HostStartFacts::NotCreated;
  notCreated.status = 0x80080005u;
  tied.version = L"16.0";
  tied.elapsedMs = 1234;
  tied.window = 0x10044;
  tied.processId = 7;
  tied.tied = true;
  watched = tied;
  watched.tied = false;
  watched.notHostReason = "its program is not the registered Excel";
  HostStartFacts otherUser = watched;
  otherUser.notHostReason = "it runs as another user";
  otherUser.otherUser = true;
  WorkbookFacts done, refused, silent;
  refused.failedCall = "Workbooks.Add";
  refused.status = 0x80020009u;
  refused.hostSaid = L"Excel said (StandInHost): Told to fail: Add";
  refused.words = L"Exception occurred";
  silent = refused;
  silent.hostSaid.clear();
  silent.lacksDesktop = true;
  done.file = L"C:\\T\\UlvexCheck-7.txt";
  WorkbookFacts openRefused = done, noFile = done;
  openRefused.failedCall = "Workbooks.Open";
  openRefused.status = 0x800A03ECu;
  openRefused.hostSaid =
      L"Excel said (Microsoft Excel): cannot access the file";
  noFile.fileError = 5;
  MacroFacts low, byUi, forced, unread;
  byUi.security = 2;
  forced.security = 3;
  unread.status = 0x80020003u;
  ExpectRows({
      {"no class", JudgeHostStart(unknown), CheckStatus::Fail,
       "CLSIDFromProgID() failed:0x800401f3: Invalid class string "
       "(CO_E_CLASSSTRING): install it."},
      {"not created", JudgeHostStart(notCreated), CheckStatus::Fail,
       "Excel not registered properly: 0x80080005"},
      {"started", JudgeHostStart(tied), CheckStatus::Ok,
       "Excel 16.0 started in 1.23 s, window 0x10044 of process 7, tied to "
       "this check"},
      {"another process's window", JudgeHostStart(watched), CheckStatus::Warn,
       "Excel 16.0 started in 1.23 s, window 0x10044 of process 7, but it "
       "could not be tied to this check (its program is not the registered "
       "Excel)"},
      {"a host of another account", JudgeHostStart(otherUser),
       CheckStatus::Fail,
       "Excel 16.0 started in 1.23 s, window 0x10044 of process 7, but that "
       "process runs as another account than this check"},
      {"opened and closed", JudgeWorkbook(done), CheckStatus::Ok,
       "Workbooks.Open opened C:\\T\\UlvexCheck-7.txt, a small file of "
       "this check's own"},
      {"Open refused", JudgeWorkbook(openRefused), CheckStatus::Fail,
       "Workbooks.Open of C:\\T\\UlvexCheck-7.txt failed (0x800a03ec); "
       "Excel said (Microsoft Excel): cannot access the file"},
      {"no file of its own", JudgeWorkbook(noFile), CheckStatus::Fail,
       "this check's own file C:\\T\\UlvexCheck-7.txt cannot be written "
       "(error 5: access denied)"},
      {"macros run", JudgeMacros(low), CheckStatus::Ok,
       "Application.AutomationSecurity is 1 (low)"},
      {"macros as the UI says", JudgeMacros(byUi), CheckStatus::Warn,
       "Application.AutomationSecurity is 2 (by the user interface)"},
      {"macros forced off", JudgeMacros(forced), CheckStatus::Fail,
       "Application.AutomationSecurity is 3 (force disable)"},
      {"macros not told", JudgeMacros(unread), CheckStatus::Warn,
       "Excel did not give its AutomationSecurity (0x80020003)"},
      {"a start that hangs, host found",
       JudgeNoAnswer("host-start", "its start", L"5s",
                     {HostEnding::EndedUntied, 42}),
       CheckStatus::Fail,
       "the time limit (ULVEX_TIME_LIMIT=5s) ran out during its start; the "
       "Excel this check started (process 42), not yet tied to it, has been "
       "ended"},
      {"a start that hangs, none found",
       JudgeNoAnswer("host-start", "its start", L"",
                     {HostEnding::MayStillStart}),
       CheckStatus::Fail,
       "Excel did not answer its start within 60 s; no Excel of this check "
       "could be found to end it: an Excel may still be starting, and must "
       "be closed"},
      {"stopped",
       JudgeStopped("workbook", "Workbooks.Open", "Ctrl+Break",
                    {HostEnding::Ended}),
       CheckStatus::Fail,
       "the check was stopped by Ctrl+Break during Workbooks.Open; the Excel "
       "this check started has been ended"},
      {"stopped before the host", JudgeStopped("desktop", "", "Ctrl+C", {}),
       CheckStatus::Fail, "the check was stopped by Ctrl+C"},
      {"Add refused", JudgeWorkbook(refused), CheckStatus::Fail,
       "Workbooks.Add failed (0x80020009); Excel said (StandInHost): Told to "
       "fail: Add"},
      {"Add refused in silence", JudgeWorkbook(silent), CheckStatus::Fail,
       "Workbooks.Add failed (0x80020009): Exception occurred"},
      {"no answer", JudgeNoAnswer("workbook", "Close", L""), CheckStatus::Fail,
       "Excel did not answer Close within 60 s"},
      {"out of time", JudgeNoAnswer("workbook", "Close", L"5m"),
       CheckStatus::Fail,
       "the time limit (ULVEX_TIME_LIMIT=5m) ran out during Close"},
  });
  // A process that is not the host is only watched by a run: no record.
  EXPECT_NE(
      JudgeHostStart(watched).advice.find("it neither ties nor records it"),
      std::string::npos);
  EXPECT_EQ(JudgeStopped("desktop", "", "Ctrl+C", {}).found,
            "the check was stopped by Ctrl+C");
  EXPECT_EQ(HostLetGoNote("Quit", L"", nullptr, {HostEnding::Gone}),
            "Excel did not answer Quit within 60 s; the Excel this check "
            "started had ended by itself.");
  // Without a desktop the advice points at the Desktop folder.
  EXPECT_NE(JudgeWorkbook(silent).advice.find("Desktop folder"),
            std::string::npos);
}

}  // namespace
