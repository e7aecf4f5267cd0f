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
#include <sddl.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "ownership/host_job.h"
#include "platform/integrity_label.h"
#include "runner/run_ending.h"
#include "tests/support/host_record.h"
#include "tests/support/install_folder.h"
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

}  // namespace
