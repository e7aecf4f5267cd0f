// Measures how long a whole task takes, from the program's start to its
// exit, with the stand-in host in place of the spreadsheet host: the first
// task of the session (cold host start: run this right after the Wine
// server started) and the following ones (warm); how soon a run ends once
// its host is gone; how soon it ends once its time limit runs out, and how
// soon Ctrl+C ends its host. Prints, never asserts.
//
//   task_time_bench.exe [runs]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/handoff_key.h"
#include "tests/support/install_folder.h"
#include "tests/support/run_program.h"
#include "tests/support/standin_host.h"

namespace {

constexpr int kDefaultRuns = 10;
constexpr DWORD kRunLimitMs = 60000;
const char kLoading[] = "Loading Application";
const char kFinal[] = "progress QUIT - Task SUCCEEDED, process exit code 0\n";
// The add-in reporting at once can write before the program watches the
// key (its first wait then runs its full second); one reporting later
// wakes the program at once.
const struct {
  const char* name;
  std::string script;
} kScripts[] = {
    {"add-in reports at once", std::string("progress Working\n") + kFinal},
    {"add-in reports after 300 ms",
     std::string("sleep 300\nprogress Working\n") + kFinal},
};

struct Timing {
  double launchMs = -1;  // start to "Loading Application"
  double totalMs = -1;   // start to exit
  DWORD exitCode = 0;
};

Timing RunTask(const ulvex_test::InstallFolder& install) {
  Timing timing;
  ulvex_test::RunOptions options;
  options.timeoutMs = kRunLimitMs;
  const double start = ulvex_test::MillisecondsNow();
  options.watch = [&](ulvex_test::RunningChild& child) {
    if (child.WaitForOutput(kLoading, 0, kRunLimitMs))
      timing.launchMs = ulvex_test::MillisecondsNow() - start;
  };
  const auto run =
      ulvex_test::RunProgram(install.QuotedProgram() + L" /taskid=7", options);
  timing.totalMs = ulvex_test::MillisecondsNow() - start;
  timing.exitCode = run.timedOut ? 255 : run.exitCode;
  ulvex_test::WaitForStandInExit(10000);
  return timing;
}

// A run whose host is killed while the add-in is silent: the time from
// the host's end (its process has ended) to the program's exit.
double HostEndToExitMs(const ulvex_test::InstallFolder& install,
                       DWORD& exitCode) {
  double gapMs = -1;
  ulvex_test::RunOptions options;
  options.timeoutMs = kRunLimitMs;
  options.watch = [&](ulvex_test::RunningChild& child) {
    if (!child.WaitForOutput(":Working", 0, kRunLimitMs)) return;
    // Returns once the host's process has ended.
    if (ulvex_test::TerminateStandInHosts() == 0) return;
    const double ended = ulvex_test::MillisecondsNow();
    if (WaitForSingleObject(child.process(), kRunLimitMs) == WAIT_OBJECT_0)
      gapMs = ulvex_test::MillisecondsNow() - ended;
  };
  const auto run =
      ulvex_test::RunProgram(install.QuotedProgram() + L" /taskid=7", options);
  exitCode = run.timedOut ? 255 : run.exitCode;
  return gapMs;
}

// A run with ULVEX_TIME_LIMIT=2s and a silent add-in: the time from the
// limit's end (two seconds after the process was created) to the process's
// exit, both from the process's own times. It includes the program's start
// under Wine, which the limit counts from a little later.
double LimitEndToExitMs(const ulvex_test::InstallFolder& install,
                        DWORD& exitCode) {
  double gapMs = -1;
  ulvex_test::RunOptions options;
  options.timeoutMs = kRunLimitMs;
  options.setEnv[L"ULVEX_TIME_LIMIT"] = L"2s";
  options.watch = [&](ulvex_test::RunningChild& child) {
    if (WaitForSingleObject(child.process(), kRunLimitMs) != WAIT_OBJECT_0)
      return;
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(child.process(), &created, &exited, &kernel, &user))
      return;
    auto ms = [](const FILETIME& t) {
      return static_cast<double>((ULONGLONG{t.dwHighDateTime} << 32) |
                                 t.dwLowDateTime) /
             1e4;
    };
    gapMs = ms(exited) - ms(created) - 2000;
  };
  const auto run =
      ulvex_test::RunProgram(install.QuotedProgram() + L" /taskid=7", options);
  exitCode = run.timedOut ? 255 : run.exitCode;
  return gapMs;
}

// A run with a silent add-in, interrupted by Ctrl+C: the time from the
// moment Ctrl+C is sent (ConsoleControl.exe's start included) to the end
// of the host's process.
double CtrlCToHostEndMs(const ulvex_test::InstallFolder& install,
                        DWORD& exitCode) {
  double gapMs = -1;
  ulvex_test::RunOptions options;
  options.timeoutMs = kRunLimitMs;
  options.watch = [&](ulvex_test::RunningChild& child) {
    if (!child.WaitForOutput(":Working", 0, kRunLimitMs)) return;
    const std::vector<DWORD> hosts = ulvex_test::StandInHostProcessIds();
    if (hosts.size() != 1) return;
    const HANDLE host = OpenProcess(SYNCHRONIZE, FALSE, hosts[0]);
    if (host == nullptr) return;
    const double sent = ulvex_test::MillisecondsNow();
    if (ulvex_test::SendConsoleControl(child.process(), CTRL_C_EVENT) &&
        WaitForSingleObject(host, kRunLimitMs) == WAIT_OBJECT_0)
      gapMs = ulvex_test::MillisecondsNow() - sent;
    CloseHandle(host);
  };
  const auto run =
      ulvex_test::RunProgram(install.QuotedProgram() + L" /taskid=7", options);
  exitCode = run.timedOut ? 255 : run.exitCode;
  return gapMs;
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : kDefaultRuns;
  const bool madeKey = !ulvex_test::HandoffKeyExists();
  ulvex_test::CreateHandoffKey();
  ulvex_test::InstallFolder install(L"bench");
  if (!install.AddProgram() ||
      !ulvex_test::RegisterStandInHost(L"Excel.Application.16") ||
      !ulvex_test::SetStandInScenario(install.File(L"App\\Ulvex"),
                                      install.File(L"host.log"))) {
    printf("set-up failed\n");
    return 1;
  }

  bool first = true;
  for (const auto& scenario : kScripts) {
    printf("%s:\n", scenario.name);
    SetFileAttributesW(install.File(L"App\\Ulvex").c_str(),
                       FILE_ATTRIBUTE_NORMAL);
    if (!install.WriteFile(L"App\\Ulvex", scenario.script)) {
      printf("set-up failed\n");
      return 1;
    }
    if (first) {
      const Timing cold = RunTask(install);
      printf("  cold: launch %.1f ms, whole task %.1f ms (status %lu)\n",
             cold.launchMs, cold.totalMs, cold.exitCode);
      first = false;
    }
    std::vector<double> launch, total;
    for (int i = 0; i < runs; ++i) {
      const Timing warm = RunTask(install);
      printf("  warm %d: launch %.1f ms, whole task %.1f ms (status %lu)\n",
             i + 1, warm.launchMs, warm.totalMs, warm.exitCode);
      launch.push_back(warm.launchMs);
      total.push_back(warm.totalMs);
    }
    printf("  warm median of %d: launch %.1f ms, whole task %.1f ms\n", runs,
           Median(launch), Median(total));
  }

  // The host ends while the add-in is silent.
  SetFileAttributesW(install.File(L"App\\Ulvex").c_str(),
                     FILE_ATTRIBUTE_NORMAL);
  if (!install.WriteFile(L"App\\Ulvex", "progress Working\nidle\n")) {
    printf("set-up failed\n");
    return 1;
  }
  printf("host ends while the add-in is silent:\n");
  std::vector<double> gaps;
  for (int i = 0; i < runs; ++i) {
    DWORD exitCode = 0;
    const double gap = HostEndToExitMs(install, exitCode);
    printf("  run %d: host's end to exit %.1f ms (status %lu)\n", i + 1, gap,
           exitCode);
    gaps.push_back(gap);
  }
  printf("  median of %d: host's end to exit %.1f ms\n", runs, Median(gaps));

  // The run ends early, and its host with it. Every run registers a class
  // of its own: a host this run ended cannot start again under Wine.
  constexpr int kEarlyEndRuns = 5;
  printf("time limit of 2 s runs out while the add-in is silent:\n");
  std::vector<double> limitGaps;
  for (int i = 0; i < kEarlyEndRuns; ++i) {
    ulvex_test::RegisterStandInHost(L"Excel.Application.16");
    DWORD exitCode = 0;
    const double gap = LimitEndToExitMs(install, exitCode);
    printf("  run %d: limit's end to exit %.1f ms (status %lu)\n", i + 1, gap,
           exitCode);
    limitGaps.push_back(gap);
    ulvex_test::WaitForStandInExit(10000);
  }
  printf("  median of %d: limit's end to exit %.1f ms\n", kEarlyEndRuns,
         Median(limitGaps));
  printf("Ctrl+C while the add-in is silent:\n");
  std::vector<double> hostGaps;
  for (int i = 0; i < kEarlyEndRuns; ++i) {
    ulvex_test::RegisterStandInHost(L"Excel.Application.16");
    DWORD exitCode = 0;
    const double gap = CtrlCToHostEndMs(install, exitCode);
    printf("  run %d: Ctrl+C to the host's end %.1f ms (status %lu)\n", i + 1,
           gap, exitCode);
    hostGaps.push_back(gap);
    ulvex_test::WaitForStandInExit(10000);
  }
  printf("  median of %d: Ctrl+C to the host's end %.1f ms\n", kEarlyEndRuns,
         Median(hostGaps));

  // The same program without a host: its own start and exit.
  ulvex_test::UnregisterStandInHost();
  std::vector<double> bare;
  for (int i = 0; i < runs; ++i) bare.push_back(RunTask(install).totalMs);
  printf("no host registered, median of %d: %.1f ms\n", runs, Median(bare));

  ulvex_test::KillStandInHosts();
  if (madeKey) ulvex_test::DeleteHandoffKey();
  return 0;
}
