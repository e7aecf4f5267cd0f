// UlvexCmdLine: runs one Ulvex Task from the command line and turns the
// add-in's final report into the exit status.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "handoff/cache_cleanup.h"
#include "handoff/handoff_store.h"
#include "handoff/run_lock.h"
#include "host/auto_wrap.h"
#include "host/launch.h"
#include "host/office_options.h"
#include "option/arguments.h"
#include "option/option_table.h"
#include "option/parser.h"
#include "option/usage.h"
#include "ownership/host_job.h"
#include "ownership/host_record.h"
#include "platform/console.h"
#include "platform/system_library.h"
#include "runner/banner.h"
#include "runner/echo.h"
#include "runner/interrupt.h"
#include "runner/line_end.h"
#include "runner/monitor.h"
#include "runner/progress_text.h"

namespace {

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
void PrintParseHints() {
  printf(
      "%sUse /h parameter to display Ulvex command line help.%s"
      "Note : Parameter options are cAse sSnsItivE.%s",
      LineEnd, LineEnd, LineEnd);
}

void PrintMissingTaskId() {
  printf(
      "%sUlvex TaskID was not specified%s%s"
      "Use /h parameter to display Ulvex command line help.%s",
      LineEnd, LineEnd, LineEnd, LineEnd);
}

bool SlotPresent(const std::vector<option::ParsedOption>& slots, int slot) {
  return slot < static_cast<int>(slots.size()) && slots[slot].spec != nullptr;
}

// The whole run, from the command line to the add-in's final text; returns
// the status.
int Run() {
  option::SetMessageWriter(WriteParseMessage);
  // The texts live until the process ends: the parse results point into
  // them.
  const std::vector<std::string> arguments = ReadArguments();
  std::vector<const char*> argumentElements =
      ElementsAfterProgramName(arguments);
  const int count = static_cast<int>(argumentElements.size());
  const char** elements = count > 0 ? argumentElements.data() : nullptr;

  option::Stats stats;
  stats.tally(option::OptionTable, count, elements, 1);
  // Both arrays live until the process ends.
  std::vector<option::ParsedOption> slots(stats.slotCapacity);
  std::vector<option::ParsedOption> records(stats.recordCapacity);

  option::Parser parser;
  parser.fill(option::OptionTable, count, elements, slots.data(),
              records.data(), 1, -1);
  if (parser.failed) {
    PrintParseHints();
    return kExitFailure;
  }

  SetLineEnd(SlotPresent(slots, option::SlotHtml));
  PrintBanner();

  if (SlotPresent(slots, option::SlotHelp) || count == 0) {
    option::printUsage(option::OptionTable);
    if (count == 0) {
      printf("Press any key to exit...\n");
      FlushOutput();
      WaitForKeyPress();
    }
    return kExitFailure;
  }

  if (!SlotPresent(slots, option::SlotTaskId)) {
    PrintMissingTaskId();
    return kExitFailure;
  }

  if (!WatchTimeLimit()) return kExitFailure;

  EchoOptions(records.data(), parser.storedCount, parser.restCount,
              parser.restElements);

  WatchSessionEnd();
  // Held until the run ends: nothing below may run beside another run of
  // the same user, which shares the hand-off key.
  RunLock lock;
  switch (lock.Acquire(InterruptEvent(), LineEnd)) {
    case LockOutcome::Held:
      break;
    case LockOutcome::Interrupted:
      return EndInterruptedRun();
    case LockOutcome::Unavailable:
      // Two runs on one hand-off key could hand each other results.
      return kExitFailure;
  }

  // An earlier run's host must not hand this run its result.
  if (!EndLeftoverHost(LineEnd)) return kExitFailure;

  SetOfficeOptions();
  const bool handedOff = HandOffCommandLine();
  DeleteOfficeCaches();

  // A run that could not follow the add-in must not start the host.
  ProgressWatch watch(Win32MonitorSystem());
  if (!watch.Open()) return kExitFailure;
  if (Interrupted()) return EndInterruptedRun();
  // A stale command line or final text would reach a host started now.
  if (!handedOff) return kExitFailure;

  // From here the host's record lives as long as the host may work: every
  // ending that leaves the host running keeps it, so that the next run
  // ends that host before its add-in can hand the next run a result.
  ExcelSession excel;
  std::wstring finalText;
  switch (LaunchExcel(excel, Interrupted)) {
    case LaunchOutcome::Opened:
      // Nothing calls the host from here on. A visible host is the user's
      // and outlives its last reference; a reference held through the wait
      // would keep a host that is closed mid-task running, hidden, and the
      // wait would never see it end. One that could not be made visible
      // ends at its last release, and would take the task with it: the
      // references are kept until the end.
      if (excel.underUserControl) LetGoOfHostObjects(excel);
      break;
    case LaunchOutcome::WorkbookNotOpen:
      // The add-in's start-up code runs inside Open: it may have ended its
      // task there, and then quit its host, which failed the call.
      if (watch.FinalTextSoFar(finalText)) break;
      PrintWorkbookNotOpen();
      // As after any failed task: the host stays as it is.
      ReleaseExcel(excel);
      return kExitFailure;
    case LaunchOutcome::Ended:
      return kExitFailure;
    case LaunchOutcome::Interrupted:
      return EndInterruptedRun();
  }

  // A text beginning with "QUIT" is never empty.
  if (finalText.empty()) {
    switch (watch.Follow(excel.hostProcess.get(), finalText)) {
      case MonitorOutcome::Finished:
        break;
      case MonitorOutcome::Interrupted:
        return EndInterruptedRun();
      case MonitorOutcome::Failed:
        return kExitFailure;
      case MonitorOutcome::HostEnded:
        PrintLineEnd();
        ForgetHost();
        return kExitFailure;
    }
  }

  // The add-in's final text is the verdict: no interruption changes it
  // from here, and the host is its own again.
  const int verdict = IsSuccessText(finalText) ? kExitSuccess : kExitFailure;
  FixVerdict(verdict);
  // Let go at once: a run killed from outside while it releases the host
  // (a scheduler's limit during a slow release) must not take along a
  // host whose task has ended.
  const bool letGo = ReleaseHostFromJob();
  ForgetHost();
  // The final text is the run's last line: a log that the next run appends
  // to goes on at the start of a line.
  PrintLineEnd();
  if (!letGo) LetHostOutliveRun();  // tries again, and says so if it fails
  ReleaseExcel(excel);
  return verdict;
}

// Every return from the run comes here. An interrupted run ends the host it
// started; any other ending lets the host go on exactly as it is. No thread
// but this one is left when the process ends.
int EndRun(int status) {
  if (Interrupted() && !VerdictFixed())
    status = EndInterruptedRun();
  else if (!VerdictFixed())  // at the verdict the host was let go already
    LetHostOutliveRun();
  StopWatchThreads();
  return status;
}

}  // namespace

int main() {
  RestrictDllSearchToSystemFolder();
  InstallInterruptHandler();
  SetBeforeNoObjectExit([] { StopWatchThreads(); });
  EndOnOutOfMemory();
  return EndRun(Run());
}
