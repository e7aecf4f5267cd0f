// The record of the run's host against the registry and real processes:
// what a later run makes of a record that names a host still running, a
// process that is gone or another one, and of data it did not write.
#include "ownership/host_record.h"

#include <gtest/gtest.h>
#include <wctype.h>

#include <functional>
#include <string>
#include <vector>

#include "ownership/host_identity.h"
#include "tests/support/host_record.h"
#include "tests/support/install_folder.h"
#include "tests/support/run_program.h"
#include "tests/support/standin_host.h"

namespace {

constexpr DWORD kIdleMs = 60000;
constexpr DWORD kEndMs = 10000;

struct Planted {
  HANDLE process;
  DWORD processId;
  ULONGLONG startTime;
  std::wstring image;
};

bool Alive(HANDLE process) {
  return WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
}

std::wstring IdleProgram() {
  return ulvex_test::BinFolder() + L"\\IdleProcess.exe";
}

// The planted processes stand for the host: their program is registered as
// the host's local server.
class HostRecordTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(ulvex_test::DeleteHostRecord());
    ASSERT_TRUE(ulvex_test::RegisterHostServer(
        L"\"" + IdleProgram() + L"\" -Embedding", REG_SZ, false));
  }
  void TearDown() override {
    ulvex_test::DeleteHostRecord();
    ulvex_test::UnregisterStandInHost();
  }

  // A process of the user's own, as a host of an earlier run.
  static bool Start(Planted& planted, DWORD idleMs = kIdleMs,
                    const std::wstring& program = std::wstring()) {
    planted.process = program.empty() ? ulvex_test::StartIdleProcess(idleMs)
                                      : ulvex_test::StartProgramFile(
                                            program, std::to_wstring(idleMs));
    if (planted.process == nullptr) return false;
    planted.processId = GetProcessId(planted.process);
    planted.startTime = ulvex_test::ProcessStartTime(planted.process);
    planted.image = ulvex_test::ProcessImage(planted.process);
    return planted.startTime != 0 && !planted.image.empty();
  }
  static void Stop(Planted& planted) {
    TerminateProcess(planted.process, 0);
    WaitForSingleObject(planted.process, kEndMs);
    CloseHandle(planted.process);
  }
};

std::string EndedLine(DWORD processId, const char* lineEnd) {
  return "Ended Excel (process " + std::to_string(processId) +
         "), left running by an earlier run of this user." + lineEnd;
}

TEST_F(HostRecordTest, ALaterRunEndsOnlyTheRecordedHost) {
  using Plant = std::function<bool(const Planted&)>;
  auto write = [](DWORD id, ULONGLONG time, const std::wstring& image) {
    return ulvex_test::WriteHostRecord(id, time, image);
  };
  // The record of the planted process with one value replaced.
  auto replaced = [write](const wchar_t* name, DWORD type,
                          std::vector<unsigned char> data) -> Plant {
    return [=](const Planted& p) {
      return write(p.processId, p.startTime, p.image) &&
             ulvex_test::WriteHostRecordData(name, type, data.data(),
                                             static_cast<DWORD>(data.size()));
    };
  };
  const struct {
    const char* name;
    Plant plant;
    bool ended;
    bool exited = false;  // the planted process has ended before the run
    const char* lineEnd = "\n";
  } rows[] = {
      {"no record", [](const Planted&) { return true; }, false},
      {"the host still runs",
       [write](const Planted& p) {
         return write(p.processId, p.startTime, p.image);
       },
       true},
      {"the host still runs, HTML line end",
       [write](const Planted& p) {
         return write(p.processId, p.startTime, p.image);
       },
       true, false, "<br>"},
      {"recorded without its image",
       [write](const Planted& p) {
         return write(p.processId, p.startTime, L"");
       },
       true},
      {"another start time: the process ID was reused",
       [write](const Planted& p) {
         return write(p.processId, p.startTime + 1, p.image);
       },
       false},
      {"another image",
       [write](const Planted& p) {
         return write(p.processId, p.startTime, L"C:\\Other\\EXCEL.EXE");
       },
       false},
      {"the host has ended",
       [write](const Planted& p) {
         return write(p.processId, p.startTime, p.image);
       },
       false, true},
      {"process ID as text", replaced(L"HostProcessId", REG_SZ, {'1', 0, 0, 0}),
       false},
      {"process ID of eight bytes",
       replaced(L"HostProcessId", REG_QWORD, std::vector<unsigned char>(8, 0)),
       false},
      {"process ID 0", replaced(L"HostProcessId", REG_DWORD, {0, 0, 0, 0}),
       false},
      {"start time of four bytes",
       replaced(L"HostStartTime", REG_DWORD, {1, 0, 0, 0}), false},
      {"start time as binary data",
       replaced(L"HostStartTime", REG_BINARY, std::vector<unsigned char>(8, 1)),
       false},
      {"image as binary data",
       replaced(L"HostImage", REG_BINARY, {'C', 0, 0, 0}), false},
      {"image empty", replaced(L"HostImage", REG_SZ, {0, 0}), false},
      {"image of an odd byte count",
       replaced(L"HostImage", REG_SZ, {'C', 0, 0}), false},
      {"no start time",
       [](const Planted& p) {
         return ulvex_test::WriteHostRecordData(
             L"HostProcessId", REG_DWORD, &p.processId, sizeof p.processId);
       },
       false},
      {"an empty key",
       [](const Planted&) {
         return ulvex_test::WriteHostRecordData(L"Other", REG_SZ, L"", 2) &&
                RegDeleteKeyValueW(HKEY_CURRENT_USER,
                                   ulvex_test::kHostRecordKey,
                                   L"Other") == ERROR_SUCCESS;
       },
       false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Planted planted;
    ASSERT_TRUE(Start(planted, row.exited ? 0 : kIdleMs));
    if (row.exited)
      ASSERT_EQ(WaitForSingleObject(planted.process, kEndMs), WAIT_OBJECT_0);
    ASSERT_TRUE(row.plant(planted));

    testing::internal::CaptureStdout();
    EXPECT_TRUE(EndLeftoverHost(row.lineEnd));
    fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              row.ended ? EndedLine(planted.processId, row.lineEnd) : "");
    if (!row.exited) EXPECT_EQ(Alive(planted.process), !row.ended);
    // Ended, gone or not to be trusted: the record goes either way.
    EXPECT_FALSE(ulvex_test::HostRecordExists());
    Stop(planted);
  }
}

TEST_F(HostRecordTest, TheRunRecordsItsHostAndForgetsItAtItsEnd) {
  Planted planted;
  ASSERT_TRUE(Start(planted));
  RecordHost(planted.process);
  EXPECT_EQ(ulvex_test::RecordedHostProcessId(), planted.processId);
  EXPECT_EQ(ulvex_test::RecordedHostImage(), planted.image);
  ForgetHost();
  EXPECT_FALSE(ulvex_test::HostRecordExists());

  // What one run records, the next recognises.
  RecordHost(planted.process);
  testing::internal::CaptureStdout();
  EXPECT_TRUE(EndLeftoverHost("\n"));
  fflush(stdout);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            EndedLine(planted.processId, "\n"));
  EXPECT_EQ(WaitForSingleObject(planted.process, 0), WAIT_OBJECT_0);
  Stop(planted);

  // A process that cannot be queried, or none, leaves no record.
  ulvex_test::DeleteHostRecord();
  RecordHost(nullptr);
  EXPECT_FALSE(ulvex_test::HostRecordExists());
}

// Anyone of the user can write the record: a live process that it names
// is ended only when it is the registered host, however the registration
// spells its program.
TEST_F(HostRecordTest, OnlyTheRegisteredHostIsEnded) {
  const std::wstring program = IdleProgram();
  wchar_t shortPath[MAX_PATH] = {};
  ASSERT_NE(GetShortPathNameW(program.c_str(), shortPath, MAX_PATH), 0u);
  std::wstring shortLower = shortPath;
  for (wchar_t& c : shortLower) c = towlower(c);
  ASSERT_NE(shortLower, program);
  ASSERT_TRUE(SetEnvironmentVariableW(L"ULVEX_TEST_BIN",
                                      ulvex_test::BinFolder().c_str()));
  // Another name of the same file: the registration names the file.
  const std::wstring link = ulvex_test::BinFolder() + L"\\IdleLink.exe";
  DeleteFileW(link.c_str());
  ASSERT_TRUE(CreateHardLinkW(link.c_str(), program.c_str(), nullptr));
  // A 64-bit host as installed, which a 32-bit run names otherwise.
  ulvex_test::NativeProgramCopy native(L"IdleProcess.exe");
  ASSERT_FALSE(native.path().empty());
  const std::string otherProgram = "(its program is not the registered Excel)";
  const struct {
    const char* name;
    std::wstring commandLine;  // the LocalServer32 value; empty: none
    DWORD type;
    bool throughCurVer;
    bool ended;
    REGSAM view = 0;  // KEY_WOW64_64KEY: registered for 64-bit clients
    std::wstring started = std::wstring();  // the host's program; empty: ours
  } rows[] = {
      {"unquoted, with arguments", program + L" /automation -Embedding", REG_SZ,
       false, true},
      {"a short path in lower case", shortLower, REG_SZ, false, true},
      {"environment strings", L"\"%ULVEX_TEST_BIN%\\IdleProcess.exe\"",
       REG_EXPAND_SZ, false, true},
      {"the class of the version CurVer names", L"\"" + program + L"\"", REG_SZ,
       true, true},
      {"in the 64-bit registry view only", L"\"" + program + L"\"", REG_SZ,
       false, true, KEY_WOW64_64KEY},
      {"%ProgramFiles% in the 64-bit view, started from there",
       L"\"%ProgramFiles%\\UlvexTest\\IdleProcess.exe\" -Embedding",
       REG_EXPAND_SZ, false, true, KEY_WOW64_64KEY, native.path()},
      {"a hard link to its program", L"\"" + link + L"\"", REG_SZ, false, true},
      {"environment strings in a plain string",
       L"%ULVEX_TEST_BIN%\\IdleProcess.exe", REG_SZ, false, false},
      {"another program",
       L"\"" + ulvex_test::BinFolder() + L"\\StandInHost.exe\"", REG_SZ, false,
       false},
      {"no host registered", L"", REG_SZ, false, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    if (row.commandLine.empty())
      ulvex_test::UnregisterStandInHost();
    else
      ASSERT_TRUE(ulvex_test::RegisterHostServer(row.commandLine, row.type,
                                                 row.throughCurVer, row.view));
    Planted planted;
    ASSERT_TRUE(Start(planted, kIdleMs, row.started));
    ASSERT_TRUE(ulvex_test::WriteHostRecord(planted.processId,
                                            planted.startTime, planted.image));
    testing::internal::CaptureStdout();
    EXPECT_TRUE(EndLeftoverHost("\n"));
    fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              row.ended ? EndedLine(planted.processId, "\n")
                        : "Process " + std::to_string(planted.processId) +
                              ", named by an earlier run's record of Excel, "
                              "was left running " +
                              otherProgram + "; the record was removed.\n");
    EXPECT_EQ(Alive(planted.process), !row.ended);
    EXPECT_FALSE(ulvex_test::HostRecordExists());
    Stop(planted);
  }
  SetEnvironmentVariableW(L"ULVEX_TEST_BIN", nullptr);
  DeleteFileW(link.c_str());
}

// Wine runs every process in one session as one user at one integrity
// level: the others are shown through the check's own seam, and so is what
// a later run makes of a recorded host that the check finds so.
RunIdentity seamRun;
bool seamWaitOnly = false;  // the check gets a handle it cannot query

HostCheck CheckThroughSeam(HANDLE process, HostCheckDetail& detail) {
  HANDLE waitOnly = nullptr;
  if (seamWaitOnly &&
      !DuplicateHandle(GetCurrentProcess(), process, GetCurrentProcess(),
                       &waitOnly, SYNCHRONIZE, FALSE, 0))
    return HostCheck::Host;  // fails the row
  const HostCheck check = CheckHostProcessAgainst(
      seamWaitOnly ? waitOnly : process, seamRun, detail);
  if (waitOnly != nullptr) CloseHandle(waitOnly);
  return check;
}

TEST_F(HostRecordTest, AProcessOfAnotherSessionOrUserIsNotTheHost) {
  DWORD session = 0;
  ASSERT_TRUE(ProcessIdToSessionId(GetCurrentProcessId(), &session));
  HANDLE token = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
  union {
    TOKEN_USER user;
    BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  } own;
  union {
    TOKEN_MANDATORY_LABEL label;
    BYTE bytes[sizeof(TOKEN_MANDATORY_LABEL) + SECURITY_MAX_SID_SIZE];
  } level;
  DWORD size = 0;
  ASSERT_TRUE(GetTokenInformation(token, TokenUser, &own, sizeof own, &size));
  ASSERT_TRUE(GetTokenInformation(token, TokenIntegrityLevel, &level,
                                  sizeof level, &size));
  CloseHandle(token);
  BYTE system[SECURITY_MAX_SID_SIZE];
  size = sizeof system;
  ASSERT_TRUE(CreateWellKnownSid(WinLocalSystemSid, nullptr, system, &size));
  const PSID levelSid = level.label.Label.Sid;
  const RunIdentity run = {
      session, own.user.User.Sid,
      *GetSidSubAuthority(levelSid, *GetSidSubAuthorityCount(levelSid) - 1)};
  RunIdentity otherSession = run, otherUser = run, otherLevel = run;
  otherSession.sessionId = session + 1;
  otherUser.user = system;
  otherLevel.integrityLevel = run.integrityLevel - 0x1000;

  const std::string left =
      "Process %, named by an earlier run's record of "
      "Excel, was left running (";
  const std::string notEnded =
      "Excel (process %), left running by an earlier run of this user, was "
      "not ended (";
  const std::string closeIt = "; close it and run the task again.\n";
  const struct {
    const char* name;
    RunIdentity run;
    bool waitOnly;
    HostCheck check;
    std::string line;  // % stands for the process ID
    bool runGoesOn;
  } rows[] = {
      {"this run's own", run, false, HostCheck::Host,
       "Ended Excel (process %), left running by an earlier run of this "
       "user.\n",
       true},
      {"another user's: its add-in writes its own key", otherUser, false,
       HostCheck::OtherUser,
       left + "it runs as another user); the record was removed.\n", true},
      {"another session's: it may still write this user's key", otherSession,
       false, HostCheck::OtherSession,
       notEnded + "it runs in another session)" + closeIt, false},
      {"another integrity level's", otherLevel, false,
       HostCheck::OtherIntegrity,
       notEnded + "it runs at another integrity level)" + closeIt, false},
      {"its token cannot be read", run, true, HostCheck::Unchecked,
       notEnded + "it could not be checked: error 5)" + closeIt, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Planted planted;
    ASSERT_TRUE(Start(planted));
    seamRun = row.run;
    seamWaitOnly = row.waitOnly;
    HostCheckDetail detail;
    EXPECT_EQ(CheckThroughSeam(planted.process, detail), row.check);
    ASSERT_TRUE(ulvex_test::WriteHostRecord(planted.processId,
                                            planted.startTime, planted.image));
    testing::internal::CaptureStdout();
    EXPECT_EQ(EndLeftoverHost("\n", CheckThroughSeam), row.runGoesOn);
    fflush(stdout);
    std::string line = row.line;
    line.replace(line.find('%'), 1, std::to_string(planted.processId));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), line);
    // A host that may still write keeps its record for the next run.
    EXPECT_EQ(ulvex_test::HostRecordExists(), !row.runGoesOn);
    EXPECT_EQ(Alive(planted.process), row.check != HostCheck::Host);
    ulvex_test::DeleteHostRecord();
    Stop(planted);
  }

  // The run's own check compares files; a registered file that cannot be
  // opened leaves only its path to compare, and the check says so.
  Planted planted;
  ASSERT_TRUE(Start(planted));
  HostCheckDetail detail;
  EXPECT_EQ(CheckHostProcess(planted.process, detail), HostCheck::Host);
  EXPECT_FALSE(detail.byPath);
  EXPECT_EQ(CheckHostProcess(GetCurrentProcess(), detail),
            HostCheck::OtherProgram);
  EXPECT_FALSE(detail.byPath);
  ASSERT_TRUE(ulvex_test::RegisterHostServer(
      L"\"" + ulvex_test::BinFolder() + L"\\Missing.exe\"", REG_SZ, false));
  EXPECT_EQ(CheckHostProcess(planted.process, detail), HostCheck::OtherProgram);
  EXPECT_TRUE(detail.byPath);
  Stop(planted);
}

}  // namespace
