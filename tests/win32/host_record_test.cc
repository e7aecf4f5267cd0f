// The record of the run's host against the registry and real processes:
// what a later run makes of a record that names a host still running, a
// process that is gone or another one, and of data it did not write.
#include "host/host_record.h"

#include <gtest/gtest.h>
#include <wctype.h>

#include <functional>
#include <string>
#include <vector>

#include "host/host_identity.h"
#include "tests/support/host_record.h"
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
  static bool Start(Planted& planted, DWORD idleMs = kIdleMs) {
    planted.process = ulvex_test::StartIdleProcess(idleMs);
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
  const std::string otherProgram = "(its program is not the registered Excel)";
  const struct {
    const char* name;
    std::wstring commandLine;  // the LocalServer32 value; empty: none
    DWORD type;
    bool throughCurVer;
    bool ended;
    REGSAM view = 0;  // KEY_WOW64_64KEY: registered for 64-bit clients
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
    ASSERT_TRUE(Start(planted));
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
}

// Wine runs every process in one session as one user: the session and the
// user are shown through the check's own seam.
TEST_F(HostRecordTest, AProcessOfAnotherSessionOrUserIsNotTheHost) {
  Planted planted;
  ASSERT_TRUE(Start(planted));
  DWORD session = 0;
  ASSERT_TRUE(ProcessIdToSessionId(GetCurrentProcessId(), &session));
  HANDLE token = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
  union {
    TOKEN_USER user;
    BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  } own;
  DWORD size = 0;
  ASSERT_TRUE(GetTokenInformation(token, TokenUser, &own, sizeof own, &size));
  CloseHandle(token);
  BYTE system[SECURITY_MAX_SID_SIZE];
  size = sizeof system;
  ASSERT_TRUE(CreateWellKnownSid(WinLocalSystemSid, nullptr, system, &size));

  DWORD error = 0;
  EXPECT_EQ(CheckHostProcessAgainst(planted.process, session, own.user.User.Sid,
                                    error),
            HostCheck::Host);
  EXPECT_EQ(CheckHostProcessAgainst(planted.process, session + 1,
                                    own.user.User.Sid, error),
            HostCheck::OtherSession);
  EXPECT_EQ(CheckHostProcessAgainst(planted.process, session, system, error),
            HostCheck::OtherUser);
  EXPECT_EQ(CheckHostProcess(planted.process, error), HostCheck::Host);
  EXPECT_EQ(CheckHostProcess(GetCurrentProcess(), error),
            HostCheck::OtherProgram);
  Stop(planted);
}

}  // namespace
