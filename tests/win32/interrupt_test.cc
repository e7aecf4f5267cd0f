// The run's ending and its lock. The watching threads of a run end with it:
// a time-limit watchdog that did not wake at the run's end would hold every
// run with a time limit for the end's whole wait. Two interruptions at once
// print one ending. The lock's file is made with the label that keeps
// lower-integrity processes out.
#include "runner/interrupt.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <io.h>
#include <windows.h>
// Needs <windows.h> first.
#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "handoff/run_lock.h"
#include "ownership/host_job.h"
#include "platform/integrity_label.h"
#include "runner/run_ending.h"
#include "tests/support/host_record.h"
#include "tests/support/install_folder.h"
#include "tests/support/machine_facts.h"
#include "tests/support/run_program.h"

namespace {

TEST(InterruptTest, TheTimeLimitWatchEndsWithTheRun) {
  ASSERT_TRUE(SetEnvironmentVariableW(L"ULVEX_TIME_LIMIT", L"1h"));
  InstallInterruptHandler();
  ASSERT_NE(InterruptEvent(), nullptr);
  ASSERT_TRUE(WatchTimeLimit());
  WatchSessionEnd();
  EXPECT_TRUE(StopWatchThreads());
  EXPECT_FALSE(Interrupted());
  SetEnvironmentVariableW(L"ULVEX_TIME_LIMIT", nullptr);
}

// Run only as a child process of TwoInterruptionsAtOncePrintOneEnding (the
// variable below marks it).
constexpr char kChildVariable[] = "ULVEX_INTERRUPT_CHILD";

DWORD WINAPI FillPipe(void* pipe) {
  static char bytes[1 << 16];
  DWORD written = 0;
  WriteFile(pipe, bytes, sizeof bytes, &written, nullptr);  // stays blocked
  return 0;
}

DWORD WINAPI CloseRequest(void*) {
  Interrupt(kCloseRequested);
  return 0;
}

DWORD WINAPI TimeLimit(void*) {
  Interrupt(kTimeLimitReached);
  return 0;
}

// The run's thread begins its ending and stalls in its first write (the C
// runtime's standard output is a full pipe that nobody reads), while a host
// of the run still runs; two interruptions then end the run from their own
// threads at once, writing to the process's standard output handle.
TEST(InterruptChildTest, DISABLED_TwoInterruptionsWhileTheEndingStalls) {
  if (getenv(kChildVariable) == nullptr) GTEST_SKIP();
  InstallInterruptHandler();
  const HANDLE host = ulvex_test::StartIdleProcess(60000);
  ASSERT_NE(host, nullptr);
  DWORD untied = 0;
  ASSERT_TRUE(TieHost(host, HostWindowFacts(), untied));
  ASSERT_TRUE(HostOfRunRunning());

  // A copy of the standard output handle: the C runtime closes the one it
  // holds when its descriptor is given another.
  fflush(stdout);
  HANDLE output = nullptr;
  ASSERT_TRUE(DuplicateHandle(
      GetCurrentProcess(), GetStdHandle(STD_OUTPUT_HANDLE), GetCurrentProcess(),
      &output, 0, FALSE, DUPLICATE_SAME_ACCESS));
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  ASSERT_TRUE(CreatePipe(&readEnd, &writeEnd, nullptr, 4096));
  ASSERT_EQ(
      _dup2(_open_osfhandle(reinterpret_cast<intptr_t>(writeEnd), _O_TEXT), 1),
      0);
  SetStdHandle(STD_OUTPUT_HANDLE, output);
  CloseHandle(CreateThread(nullptr, 0, FillPipe, writeEnd, 0, nullptr));
  DWORD queued = 0;
  for (int i = 0; i < 100 && queued == 0; ++i) {
    Sleep(20);
    PeekNamedPipe(readEnd, nullptr, 0, nullptr, &queued, nullptr);
  }

  CloseHandle(CreateThread(nullptr, 0, CloseRequest, nullptr, 0, nullptr));
  CloseHandle(CreateThread(nullptr, 0, TimeLimit, nullptr, 0, nullptr));
  EndInterruptedRun();
  ADD_FAILURE() << "the run's ending did not stall";
}

TEST(InterruptTest, TwoInterruptionsAtOncePrintOneEnding) {
  const std::string ended = "Excel, which this run started, has been ended.\n";
  const auto run = ulvex_test::RunChildTest(
      kChildVariable,
      L"InterruptChildTest.DISABLED_TwoInterruptionsWhileTheEndingStalls");
  ASSERT_TRUE(run.started);
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 1u);
  const std::string out = ulvex_test::Lines(run.out);
  const size_t at = out.find(ended);
  ASSERT_NE(at, std::string::npos) << out;
  EXPECT_EQ(at, out.size() - ended.size()) << out;
  EXPECT_EQ(out.find(ended, at + 1), std::string::npos) << out;
}

// The lock's file and folder are made with a medium label that forbids
// reading and writing up. NOTE: Wine neither keeps a label on a file nor
// enforces one, so the descriptor the run makes them with is what can be
// read back here.
TEST(RunLockTest, TheLabelKeepsLowerIntegrityProcessesOut) {
  ulvex::MediumLabel label;
  ASSERT_NE(label.attributes(), nullptr);
  EXPECT_TRUE(
      ulvex::CarriesMediumLabel(label.attributes()->lpSecurityDescriptor));
  const struct {
    const wchar_t* descriptor;
    bool carries;
  } rows[] = {
      {L"S:(ML;;NWNRNX;;;ME)", true},
      {L"D:(A;;FA;;;WD)", false},
      {L"S:(ML;;NW;;;ME)", false},
      {L"S:(ML;;NWNR;;;LW)", false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(ulvex_test::Narrow(row.descriptor));
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
        row.descriptor, SDDL_REVISION_1, &descriptor, nullptr));
    EXPECT_EQ(ulvex::CarriesMediumLabel(descriptor), row.carries);
    LocalFree(descriptor);
  }
  // A file made without the label is given it (as far as the system says:
  // Wine accepts it and keeps nothing); a missing one cannot be.
  ulvex_test::InstallFolder folder(L"label");
  ASSERT_TRUE(folder.WriteFile(L"run.lock", ""));
  EXPECT_TRUE(ulvex::GiveMediumLabel(folder.File(L"run.lock")));
  EXPECT_FALSE(ulvex::GiveMediumLabel(folder.File(L"missing.lock")));
}

// The label as the file or folder at path carries it, read back from it.
bool CarriesMediumLabelNow(const std::wstring& path) {
  PACL labels = nullptr;
  PSECURITY_DESCRIPTOR held = nullptr;
  if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT,
                            LABEL_SECURITY_INFORMATION, nullptr, nullptr,
                            nullptr, &labels, &held) != ERROR_SUCCESS)
    return false;
  const bool carries = ulvex::CarriesMediumLabel(held);
  LocalFree(held);
  return carries;
}

// The exit status of cmd /c type <path> run at low integrity (a copy of this
// process's token with the low label), as a sandboxed process of the user
// reads a file; -1 when it could not be started.
long ReadAtLowIntegrity(const std::wstring& path) {
  HANDLE own = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(),
                        TOKEN_DUPLICATE | TOKEN_QUERY | TOKEN_ASSIGN_PRIMARY |
                            TOKEN_ADJUST_DEFAULT,
                        &own))
    return -1;
  HANDLE low = nullptr;
  const BOOL duplicated = DuplicateTokenEx(
      own, TOKEN_QUERY | TOKEN_DUPLICATE | TOKEN_ASSIGN_PRIMARY |
               TOKEN_ADJUST_DEFAULT,
      nullptr, SecurityImpersonation, TokenPrimary, &low);
  CloseHandle(own);
  if (!duplicated) return -1;
  BYTE sid[SECURITY_MAX_SID_SIZE];
  DWORD sidSize = sizeof sid;
  TOKEN_MANDATORY_LABEL level{};
  level.Label.Attributes = SE_GROUP_INTEGRITY;
  level.Label.Sid = sid;
  wchar_t system[MAX_PATH] = {};
  GetSystemDirectoryW(system, MAX_PATH);
  std::wstring line = std::wstring(L"\"") + system + L"\\cmd.exe\" /c type \"" +
                      path + L"\" > nul";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  long status = -1;
  if (CreateWellKnownSid(WinLowLabelSid, nullptr, sid, &sidSize) &&
      SetTokenInformation(low, TokenIntegrityLevel, &level,
                          sizeof level + GetLengthSid(sid)) &&
      CreateProcessAsUserW(low, nullptr, &line[0], nullptr, nullptr, FALSE,
                           CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                           &process)) {
    DWORD code = 0;
    if (WaitForSingleObject(process.hProcess, 30000) == WAIT_OBJECT_0 &&
        GetExitCodeProcess(process.hProcess, &code))
      status = static_cast<long>(code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  CloseHandle(low);
  return status;
}

// A lock file that exists without the label (made by an older version, or
// by hand) is given it when a run takes the lock, as is its folder: read
// back from the file where the file system keeps labels. The user's own
// lock file is used; it is removed again when the test made it.
TEST(RunLockTest, AnExistingUnlabelledLockFileIsGivenTheLabel) {
  PWSTR appData = nullptr;
  ASSERT_TRUE(SUCCEEDED(SHGetKnownFolderPath(FOLDERID_LocalAppData,
                                             KF_FLAG_CREATE, nullptr,
                                             &appData)));
  const std::wstring vendor = std::wstring(appData) + L"\\Quennet";
  CoTaskMemFree(appData);
  const std::wstring folder = vendor + L"\\UlvexCmdLine";
  const std::wstring lockFile = folder + L"\\run.lock";
  const bool hadVendor = GetFileAttributesW(vendor.c_str()) != INVALID_FILE_ATTRIBUTES;
  const bool hadFolder = GetFileAttributesW(folder.c_str()) != INVALID_FILE_ATTRIBUTES;
  const bool hadFile = GetFileAttributesW(lockFile.c_str()) != INVALID_FILE_ATTRIBUTES;
  CreateDirectoryW(vendor.c_str(), nullptr);
  CreateDirectoryW(folder.c_str(), nullptr);
  DeleteFileW(lockFile.c_str());
  // Made with the folder's default security: no label.
  const HANDLE made = CreateFileW(lockFile.c_str(), GENERIC_WRITE, 0, nullptr,
                                  CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(made, INVALID_HANDLE_VALUE) << GetLastError();
  CloseHandle(made);
  const bool keepsLabels = ulvex_test::FilesKeepLabels(folder);
  if (keepsLabels) EXPECT_FALSE(CarriesMediumLabelNow(lockFile));

  {
    RunLock lock;
    EXPECT_EQ(lock.Acquire(nullptr, "\n"), LockOutcome::Held);
  }
  if (keepsLabels) {
    EXPECT_TRUE(CarriesMediumLabelNow(lockFile));
    EXPECT_TRUE(CarriesMediumLabelNow(folder));
    // The label's effect: a low-integrity process of the user reads a file
    // of the user's without it, and not the lock file.
    ulvex_test::InstallFolder plain(L"lowread");
    ASSERT_TRUE(plain.WriteFile(L"plain.txt", "x"));
    EXPECT_EQ(ReadAtLowIntegrity(plain.File(L"plain.txt")), 0);
    EXPECT_EQ(ReadAtLowIntegrity(lockFile), 1);
  }
  if (!hadFile) DeleteFileW(lockFile.c_str());
  if (!hadFolder) RemoveDirectoryW(folder.c_str());
  if (!hadVendor) RemoveDirectoryW(vendor.c_str());
  if (!keepsLabels)
    GTEST_SKIP() << "files here keep no integrity label ("
                 << ulvex_test::MachineFactsLine()
                 << "): the lock was taken, and the label it is made with "
                    "is checked by TheLabelKeepsLowerIntegrityProcessesOut";
}

}  // namespace
