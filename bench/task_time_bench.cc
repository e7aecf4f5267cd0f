// Measures how long a whole task takes, from the program's start to its
// exit, with the stand-in host in place of the spreadsheet host: the first
// task of the session (cold host start: run this right after the Wine
// server started) and the following ones (warm); how soon a run ends once
// its host is gone (killed, or closed by its user); how soon it ends once its
// time limit runs out, and how soon Ctrl+C ends its host; and how long the
// installation check takes, with /nohost and with the stand-in host. Prints,
// never asserts.
//
//   task_time_bench.exe [runs]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/handoff_key.h"
#include "tests/support/host_record.h"
#include "tests/support/install_folder.h"
#include "tests/support/run_program.h"
#include "tests/support/standin_host.h"

namespace {

constexpr int kDefaultRuns = 10;
constexpr DWORD kRunLimitMs = 60000;
const char kLoading[] = "Loading Application";
// The add-in quits its host at the end, as an automated task does: a host
// that the run made visible would otherwise stay, as Excel does.
const char kFinal[] =
    "progress QUIT - Task SUCCEEDED, process exit code 0\nquit\n";
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

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// One run of a measure that ends the run early: its figure, or why there
// is none.
struct EarlyEnd {
  double ms = -1;
  std::string why;  ///< empty when ms holds a figure
  DWORD exitCode = 0;
};

std::string WhyNoLine(ulvex_test::RunningChild& child, const char* line) {
  std::string output = child.Output();
  if (output.size() > 300) output = "..." + output.substr(output.size() - 300);
  return std::string("the program did not print \"") + line + "\" within " +
         std::to_string(kRunLimitMs / 1000) + " s; its output ended: " + output;
}

// "launch <ms>", or why there is no such figure.
std::string Launch(const Timing& timing) {
  if (timing.launchMs < 0)
    return "launch: no figure (no \"Loading Application\" within 60 s)";
  char text[48];
  snprintf(text, sizeof text, "launch %.1f ms", timing.launchMs);
  return text;
}

// Gives up a run whose measure cannot be taken: the reason, and the
// program ended at once rather than left waiting for its silent add-in.
void GiveUp(ulvex_test::RunningChild& child, EarlyEnd& result,
            std::string why) {
  result.why = std::move(why);
  TerminateProcess(child.process(), 255);
}

// A run whose host is killed while the add-in is silent: the time from
// the host's end (its process has ended) to the program's exit.
EarlyEnd HostEndToExit(const ulvex_test::InstallFolder& install) {
  EarlyEnd result;
  ulvex_test::RunOptions options;
  options.timeoutMs = kRunLimitMs;
  options.watch = [&](ulvex_test::RunningChild& child) {
    if (!child.WaitForOutput(":Working", 0, kRunLimitMs)) {
      GiveUp(child, result, WhyNoLine(child, ":Working"));
      return;
    }
    // Returns once the host's process has ended.
    if (ulvex_test::TerminateStandInHosts() == 0) {
      GiveUp(child, result, "no stand-in host could be ended");
      return;
    }
    const double ended = ulvex_test::MillisecondsNow();
    if (WaitForSingleObject(child.process(), kRunLimitMs) == WAIT_OBJECT_0)
      result.ms = ulvex_test::MillisecondsNow() - ended;
    else
      result.why = "the program had not ended 60 s after its host";
  };
  const auto run =
      ulvex_test::RunProgram(install.QuotedProgram() + L" /taskid=7", options);
  result.exitCode = run.timedOut ? 255 : run.exitCode;
  return result;
}

// A run whose host is closed (its user closes its window) while the
// add-in is silent: the time from the host's end to the program's exit.
// The run holds none of the host's objects while it waits, so the closed
// host ends at once, as Excel does when no client holds it.
EarlyEnd HostClosedToExit(const ulvex_test::InstallFolder& install) {
  EarlyEnd result;
  ulvex_test::RunOptions options;
  options.timeoutMs = kRunLimitMs;
  options.watch = [&](ulvex_test::RunningChild& child) {
    if (!child.WaitForOutput(":Working", 0, kRunLimitMs)) {
      GiveUp(child, result, WhyNoLine(child, ":Working"));
      return;
    }
    const DWORD hostId = ulvex_test::RecordedHostProcessId();
    const HANDLE host =
        hostId == 0 ? nullptr : OpenProcess(SYNCHRONIZE, FALSE, hostId);
    if (host == nullptr) {
      GiveUp(child, result, "the run's host could not be found or opened");
      return;
    }
    // The script closes the host a while after "Working".
    const DWORD hostEnd = WaitForSingleObject(host, kRunLimitMs);
    const double ended = ulvex_test::MillisecondsNow();
    CloseHandle(host);
    if (hostEnd != WAIT_OBJECT_0) {
      GiveUp(child, result, "the host was not closed within 60 s");
      return;
    }
    if (WaitForSingleObject(child.process(), kRunLimitMs) == WAIT_OBJECT_0)
      result.ms = ulvex_test::MillisecondsNow() - ended;
    else
      result.why = "the program had not ended 60 s after its host";
  };
  const auto run =
      ulvex_test::RunProgram(install.QuotedProgram() + L" /taskid=7", options);
  result.exitCode = run.timedOut ? 255 : run.exitCode;
  return result;
}

// A run with ULVEX_TIME_LIMIT=2s and a silent add-in: the time from the
// limit's end (two seconds after the process was created) to the process's
// exit, both from the process's own times. It includes the program's start
// under Wine, which the limit counts from a little later.
EarlyEnd LimitEndToExit(const ulvex_test::InstallFolder& install) {
  EarlyEnd result;
  ulvex_test::RunOptions options;
  options.timeoutMs = kRunLimitMs;
  options.setEnv[L"ULVEX_TIME_LIMIT"] = L"2s";
  options.watch = [&](ulvex_test::RunningChild& child) {
    if (WaitForSingleObject(child.process(), kRunLimitMs) != WAIT_OBJECT_0) {
      result.why = "the program had not ended 60 s after its start";
      return;
    }
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(child.process(), &created, &exited, &kernel, &user)) {
      result.why = "the program's times could not be read (error " +
                   std::to_string(GetLastError()) + ")";
      return;
    }
    auto ms = [](const FILETIME& t) {
      return static_cast<double>((ULONGLONG{t.dwHighDateTime} << 32) |
                                 t.dwLowDateTime) /
             1e4;
    };
    result.ms = ms(exited) - ms(created) - 2000;
  };
  const auto run =
      ulvex_test::RunProgram(install.QuotedProgram() + L" /taskid=7", options);
  result.exitCode = run.timedOut ? 255 : run.exitCode;
  return result;
}

// A run with a silent add-in, interrupted by Ctrl+C: the time from the
// moment Ctrl+C is sent (ConsoleControl.exe's start included) to the end
// of the host's process. The run's host is the one the program recorded
// (or else the one that started with the run): another host in the prefix,
// of an earlier run still on its way out or of another Wine job, is not.
EarlyEnd CtrlCToHostEnd(const ulvex_test::InstallFolder& install) {
  EarlyEnd result;
  ulvex_test::RunOptions options;
  options.timeoutMs = kRunLimitMs;
  const std::vector<DWORD> before = ulvex_test::StandInHostProcessIds();
  options.watch = [&](ulvex_test::RunningChild& child) {
    if (!child.WaitForOutput(":Working", 0, kRunLimitMs)) {
      GiveUp(child, result, WhyNoLine(child, ":Working"));
      return;
    }
    // The program records the host it started; a host it could not
    // record is the one that started with the run.
    DWORD hostId = ulvex_test::RecordedHostProcessId();
    if (hostId == 0) {
      std::vector<DWORD> hosts;
      for (DWORD id : ulvex_test::StandInHostProcessIds())
        if (std::find(before.begin(), before.end(), id) == before.end())
          hosts.push_back(id);
      if (hosts.size() != 1) {
        GiveUp(child, result,
               "no host recorded, and " + std::to_string(hosts.size()) +
                   " stand-in hosts started with the run, not one");
        return;
      }
      hostId = hosts[0];
    }
    const HANDLE host = OpenProcess(SYNCHRONIZE, FALSE, hostId);
    if (host == nullptr) {
      GiveUp(child, result,
             "the host's process could not be opened (error " +
                 std::to_string(GetLastError()) + ")");
      return;
    }
    const double sent = ulvex_test::MillisecondsNow();
    DWORD sender = 0;
    if (!ulvex_test::SendConsoleControl(child.process(), CTRL_C_EVENT, &sender))
      GiveUp(child, result,
             "ConsoleControl.exe could not press Ctrl+C (status " +
                 std::to_string(sender) + ")");
    else if (WaitForSingleObject(host, kRunLimitMs) == WAIT_OBJECT_0)
      result.ms = ulvex_test::MillisecondsNow() - sent;
    else
      result.why = "the host had not ended 60 s after Ctrl+C";
    CloseHandle(host);
  };
  const auto run =
      ulvex_test::RunProgram(install.QuotedProgram() + L" /taskid=7", options);
  result.exitCode = run.timedOut ? 255 : run.exitCode;
  return result;
}

// Runs a measure that ends the run early a few times and prints each run
// and the median of the runs that gave a figure. Every run registers a
// class of its own: a host a run ended cannot start again under Wine.
void EarlyEndRuns(const char* title, const char* what, int runs,
                  EarlyEnd (*measure)(const ulvex_test::InstallFolder&),
                  const ulvex_test::InstallFolder& install) {
  printf("%s:\n", title);
  std::vector<double> figures;
  for (int i = 0; i < runs; ++i) {
    ulvex_test::RegisterStandInHost(L"Excel.Application.16");
    const EarlyEnd run = measure(install);
    if (run.why.empty()) {
      printf("  run %d: %s %.1f ms (status %lu)\n", i + 1, what, run.ms,
             run.exitCode);
      figures.push_back(run.ms);
    } else {
      printf("  run %d: no figure: %s (status %lu)\n", i + 1, run.why.c_str(),
             run.exitCode);
    }
    if (!ulvex_test::WaitForStandInExit(10000)) {
      printf(
          "  (a stand-in host was still running 10 s after the run; "
          "ended now)\n");
      ulvex_test::KillStandInHosts();
    }
  }
  if (figures.empty())
    printf("  no figure: none of the %d runs gave one (see above)\n", runs);
  else
    printf("  median of %zu of %d runs: %s %.1f ms\n", figures.size(), runs,
           what, Median(figures));
}

// The installation check, runs times with these arguments: each run's time
// from its start to its exit, and their median.
void CheckRuns(const ulvex_test::InstallFolder& install,
               const wchar_t* arguments, const char* title, int runs) {
  printf("installation check %s:\n", title);
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    ulvex_test::RunOptions options;
    options.timeoutMs = kRunLimitMs;
    const double start = ulvex_test::MillisecondsNow();
    const auto run =
        ulvex_test::RunProgram(install.QuotedCheck() + arguments, options);
    const double ms = ulvex_test::MillisecondsNow() - start;
    printf("  run %d: %.1f ms (status %lu)\n", i + 1, ms,
           static_cast<unsigned long>(run.timedOut ? 255 : run.exitCode));
    times.push_back(ms);
  }
  printf("  median of %d: %.1f ms\n", runs, Median(times));
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : kDefaultRuns;
  const bool madeKey = !ulvex_test::HandoffKeyExists();
  ulvex_test::CreateHandoffKey();
  ulvex_test::InstallFolder install(L"bench");
  if (!install.AddProgram() || !install.AddCheck() ||
      !install.AddProductExe() ||
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
      printf("  cold: %s, whole task %.1f ms (status %lu)\n",
             Launch(cold).c_str(), cold.totalMs, cold.exitCode);
      first = false;
    }
    std::vector<double> launch, total;
    for (int i = 0; i < runs; ++i) {
      const Timing warm = RunTask(install);
      printf("  warm %d: %s, whole task %.1f ms (status %lu)\n", i + 1,
             Launch(warm).c_str(), warm.totalMs, warm.exitCode);
      if (warm.launchMs >= 0) launch.push_back(warm.launchMs);
      total.push_back(warm.totalMs);
    }
    printf(
        "  warm median of %d: launch %.1f ms (of %zu that printed it), "
        "whole task %.1f ms\n",
        runs, Median(launch), launch.size(), Median(total));
  }

  // The host ends while the add-in is silent.
  SetFileAttributesW(install.File(L"App\\Ulvex").c_str(),
                     FILE_ATTRIBUTE_NORMAL);
  if (!install.WriteFile(L"App\\Ulvex", "progress Working\nidle\n")) {
    printf("set-up failed\n");
    return 1;
  }
  EarlyEndRuns("host ends while the add-in is silent", "host's end to exit",
               runs, HostEndToExit, install);
  // The host is closed while the add-in is silent.
  SetFileAttributesW(install.File(L"App\\Ulvex").c_str(),
                     FILE_ATTRIBUTE_NORMAL);
  if (!install.WriteFile(L"App\\Ulvex",
                         "progress Working\nsleep 500\nclose\n")) {
    printf("set-up failed\n");
    return 1;
  }
  EarlyEndRuns("host closed by its user while the add-in is silent",
               "host's end to exit", runs, HostClosedToExit, install);
  SetFileAttributesW(install.File(L"App\\Ulvex").c_str(),
                     FILE_ATTRIBUTE_NORMAL);
  if (!install.WriteFile(L"App\\Ulvex", "progress Working\nidle\n")) {
    printf("set-up failed\n");
    return 1;
  }
  // The run ends early, and its host with it.
  constexpr int kEarlyEndRuns = 5;
  EarlyEndRuns("time limit of 2 s runs out while the add-in is silent",
               "limit's end to exit", kEarlyEndRuns, LimitEndToExit, install);
  EarlyEndRuns("Ctrl+C while the add-in is silent", "Ctrl+C to the host's end",
               kEarlyEndRuns, CtrlCToHostEnd, install);

  // The installation check, before a task: its own checks, then with the
  // host started and a workbook made and closed.
  CheckRuns(install, L" /nohost", "with /nohost", runs);
  CheckRuns(install, L"", "with the stand-in host", runs);

  // The same program without a host: its own start and exit.
  ulvex_test::UnregisterStandInHost();
  std::vector<double> bare;
  for (int i = 0; i < runs; ++i) bare.push_back(RunTask(install).totalMs);
  printf("no host registered, median of %d: %.1f ms\n", runs, Median(bare));

  ulvex_test::KillStandInHosts();
  if (madeKey) ulvex_test::DeleteHandoffKey();
  return 0;
}
