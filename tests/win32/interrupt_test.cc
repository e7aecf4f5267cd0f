// The run's ending and its lock. The watching threads of a run end with it:
// a time-limit watchdog that did not wake at the run's end would hold every
// run with a time limit for the end's whole wait. The lock's file is made with
// the label that keeps lower-integrity processes out.
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

#include "host/host_job.h"
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

// The lock's file and folder are made with a medium label that forbids
// reading and writing up. NOTE: Wine neither keeps a label on a file nor
// enforces one, so the descriptor the run makes them with is what can be
// read back here.
TEST(RunLockTest, TheLabelKeepsLowerIntegrityProcessesOut) {
  ulvex::MediumLabel label;
  ASSERT_NE(label.attributes(), nullptr);
  EXPECT_EQ(label.attributes()->nLength, sizeof(SECURITY_ATTRIBUTES));
  EXPECT_FALSE(label.attributes()->bInheritHandle);
  const PSECURITY_DESCRIPTOR made = label.attributes()->lpSecurityDescriptor;
  EXPECT_TRUE(ulvex::CarriesMediumLabel(made));
  // Nothing but the label: the access rights come from the folder, and the
  // label is not inherited (each file is given its own).
  BOOL present = TRUE;
  BOOL defaulted = FALSE;
  PACL list = nullptr;
  ASSERT_TRUE(GetSecurityDescriptorDacl(made, &present, &list, &defaulted));
  EXPECT_FALSE(present);
  ASSERT_EQ(label.labels()->AceCount, 1u);
  void* entry = nullptr;
  ASSERT_TRUE(GetAce(label.labels(), 0, &entry));
  EXPECT_EQ(static_cast<ACE_HEADER*>(entry)->AceFlags, 0u);

  const struct {
    const wchar_t* descriptor;
    bool carries;
  } rows[] = {
      {L"S:(ML;;NWNR;;;ME)", true},  {L"S:(ML;;NWNRNX;;;ME)", true},
      {L"D:(A;;FA;;;WD)", false},    {L"S:(ML;;NW;;;ME)", false},
      {L"S:(ML;;NWNR;;;LW)", false}, {L"S:(ML;;NWNR;;;HI)", false},
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
  EXPECT_TRUE(ulvex::GiveMediumLabel(folder.path()));
  EXPECT_FALSE(ulvex::GiveMediumLabel(folder.File(L"missing.lock")));
}

}  // namespace
