// UlvexCheck: says whether an Ulvex Task can run here, as this account, in
// this session, and what to fix; changes nothing. Each check is one call
// below, in the order the checks are shown.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "check/check_ending.h"
#include "check/check_options.h"
#include "check/check_report.h"
#include "check/host_check.h"
#include "check/install_files.h"
#include "check/leftover_host.h"
#include "check/registration.h"
#include "check/verdicts.h"
#include "check/watchdog.h"
#include "diagnosis/desktop_check.h"
#include "handoff/handoff_store.h"
#include "handoff/run_lock.h"
#include "option/arguments.h"
#include "option/usage.h"
#include "ownership/host_registration.h"
#include "platform/console.h"
#include "platform/install_paths.h"
#include "platform/system_library.h"
#include "platform/time_limit.h"

namespace {

constexpr int kExitSwitchError = 2;
void PrintHelp() {
  fputs(
      "\nUlvexia (Ulvex) - Installation Check\n"
      "Copyright (C) Quennet. All rights reserved.\n\n",
      stdout);
  option::printUsage(check::CheckOptionTable);
  fflush(stdout);
}

// Text of the report as it comes: UTF-8, shown as the console conventions
// want it; flushed at once, so that a log shows how far the check came.
void Print(const std::string& text) {
  if (text.empty()) return;
  WriteUtf8Text(text.data(), text.size());
  FlushOutput();
}

// The JSON object is ASCII: its bytes go out as they are.
void PrintBytes(const std::string& text) {
  fwrite(text.data(), 1, text.size(), stdout);
  fflush(stdout);
}

int RunChecks(bool json, bool noHost) {
  const ULONGLONG started = GetTickCount64();
  CheckReport report(json, {ULVEX_CHECK_VERSION, Utf8(GetInstallFolder())});
  Print(report.Begin());
  // From here a stop fails the check in progress (check/check_ending.h).
  PrepareCheckEnding(noHost);
  ShowProgress(report, kInstallCheck);
  const auto add = [&](const CheckResult& result) {
    OutputTurn turn;
    const std::string lines = report.Add(result);
    ShowProgress(report, NextCheck(result.id.c_str(), noHost));
    Print(lines);
    return result.status;
  };

  add(JudgeInstall(ReadInstallFacts()));
  add(JudgeHandoffKey(ProbeHandoffKey()));
  const std::vector<HostRegistration> registrations = ReadHostRegistrations();
  add(JudgeRegistration(ReadRegistrationFacts(registrations)));
  add(JudgeDcomIdentity(ReadDcomFacts(registrations)));
  const bool lacksDesktop =
      add(JudgeDesktop(CheckDesktop())) == CheckStatus::Fail;
  const TimeLimit limit = ReadTimeLimit();
  add(JudgeTimeLimit(limit));
  const LockProbe lock = ProbeRunLock();
  add(JudgeRunLock(lock));
  add(JudgeLeftoverHost(ReadLeftoverFacts(lock.state == LockState::Held)));

  if (!noHost) {
    const bool bounded = limit.setting == TimeLimitSetting::Valid;
    if (bounded) SetLimitText(limit.text);
    StartWatchdog(bounded ? started + limit.seconds * 1000ull : 0);
    HostCheckContext context;
    if (bounded) context.limitText = limit.text;
    context.lacksDesktop = lacksDesktop;
    bool hostStarted = false;
    add(CheckHostStart(context, hostStarted));
    if (hostStarted) {
      add(CheckMacros());
      add(CheckWorkbook(context));
    } else {
      for (const CheckResult& skipped :
           SkippedAfter(kHostStartCheck, false, "not run: host-start failed"))
        add(skipped);
    }
    // The results are in: a call that does not return from here on adds
    // a note to the last line.
    LetGoOfHost();
    StopWatchdog();
  }

  {
    OutputTurn turn;
    FinishReport(report.Status());
    if (json)
      PrintBytes(report.End());
    else
      Print(report.End());
  }
  StopStopWatch();
  return report.Status();
}

}  // namespace

int main() {
  RestrictDllSearchToSystemFolder();
  EndOnOutOfMemory();
  option::SetMessageWriter(WriteParseMessage);
  // The texts live until the process ends: the parse results point into
  // them.
  const std::vector<std::string> arguments = ReadArguments();
  std::vector<const char*> elements = ElementsAfterProgramName(arguments);
  const int count = static_cast<int>(elements.size());
  const check::CheckSwitches switches =
      check::ParseCheckSwitches(count, count > 0 ? elements.data() : nullptr);
  if (switches.failed) {
    fputs("\nUse /h to display the help of UlvexCheck.\n", stdout);
    fflush(stdout);
    return kExitSwitchError;
  }
  if (switches.help) {
    PrintHelp();
    return 0;
  }
  return RunChecks(switches.json, switches.noHost);
}
