#include <atomic>
#include <cstdio>

#include "ownership/host_job.h"

namespace {

// Set once, on the run's thread, before any interruption can read them, and
// never closed: the handler and the watchdog may use them up to the
// process's end. The process's end closes them, and closing the job's last
// handle with kill-on-close still set ends the host.
std::atomic<HANDLE> hostJob{nullptr};
std::atomic<HANDLE> hostProcess{nullptr};
std::atomic<bool> hostEnded{false};
std::atomic<bool> hostStarting{false};
// Written before hostStarting is set, read after it has been seen set.
FILETIME hostStartBegan = {};

void PrintUntied(DWORD error) {
  if (error == 0)
    printf(
        "Excel could not be tied to this run (it did not name its window); "
        "it will outlive the run if the run is interrupted.\n");
  else
    printf(
        "Excel could not be tied to this run (error %lu); it will outlive "
        "the run if the run is interrupted.\n",
        static_cast<unsigned long>(error));
  fflush(stdout);
}

// The host's window names a process that is not to be acted on: its end
// still ends the wait for the add-in, nothing else touches it.
void PrintWatchedOnly(const HostWindowFacts& found) {
  const unsigned long id = found.processId;
  if (found.check == HostCheck::Unchecked)
    printf(
        "Excel could not be tied to this run (process %lu, which its window "
        "names, is only watched, as it could not be checked: error %lu); it "
        "will outlive the run if the run is interrupted.\n",
        id, static_cast<unsigned long>(found.detail.error));
  else
    printf(
        "Excel could not be tied to this run (process %lu, which its window "
        "names, is only watched, as %s); it will outlive the run if the run "
        "is interrupted.\n",
        id, HostCheckReason(found.check));
  fflush(stdout);
}

// Both ways the host's own children break away silently: only the host is
// the run's to end, and a child of a host left running is no child of the
// job for good.
bool SetKillOnClose(HANDLE job, bool kill) {
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags =
      JOB_OBJECT_LIMIT_SILENT_BREAKAWAY_OK |
      (kill ? JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE : 0);
  return SetInformationJobObject(job, JobObjectExtendedLimitInformation,
                                 &limits, sizeof limits) != 0;
}

// A job that ends the process when its last handle closes; null with the
// error when it cannot be had. NOTE: before Windows 8 a process already in
// a job cannot be put in a second one (ERROR_ACCESS_DENIED).
HANDLE CreateKillOnCloseJob(HANDLE process, DWORD& error) {
  const HANDLE job = CreateJobObjectW(nullptr, nullptr);
  if (job == nullptr) {
    error = GetLastError();
    return nullptr;
  }
  if (!SetKillOnClose(job, true) || !AssignProcessToJobObject(job, process)) {
    error = GetLastError();
    CloseHandle(job);
    return nullptr;
  }
  return job;
}

}  // namespace

bool TieHost(HANDLE process, const HostWindowFacts& found, DWORD& error) {
  const DWORD openError = found.openError;
  error = openError;  // 0 when the host named no window
  if (process == nullptr || found.check != HostCheck::Host) return false;
  // A handle of our own: the caller's may be closed before an interruption.
  HANDLE own = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), process, GetCurrentProcess(), &own,
                       0, FALSE, DUPLICATE_SAME_ACCESS)) {
    error = GetLastError();
    return false;
  }
  if (openError != 0) {
    // Opened only to wait for its end: nothing to tie, nothing to end.
    CloseHandle(own);
    return false;
  }
  hostProcess.store(own);
  const HANDLE job = CreateKillOnCloseJob(own, error);
  // Without a job an interruption still ends the host through its process
  // handle; a program killed from outside leaves it running.
  if (job == nullptr) return false;
  hostJob.store(job);
  return true;
}

void PrintUntiedHost(HANDLE process, const HostWindowFacts& found,
                     DWORD error) {
  if (process != nullptr && found.check != HostCheck::Host)
    PrintWatchedOnly(found);
  else
    PrintUntied(error);
}

bool ReleaseHostFromJob() {
  const HANDLE job = hostJob.load();
  return job == nullptr || SetKillOnClose(job, false);
}

void LetHostOutliveRun() {
  if (ReleaseHostFromJob()) return;
  printf(
      "Excel could not be let go of by this run (error %lu); it may be "
      "ended when the run ends.\n",
      static_cast<unsigned long>(GetLastError()));
  fflush(stdout);
}

void BeginHostStart() {
  GetSystemTimeAsFileTime(&hostStartBegan);
  hostStarting.store(true);
}

void EndHostStart() { hostStarting.store(false); }

bool HostStarting() { return hostStarting.load(); }

FILETIME HostStartBegan() { return hostStartBegan; }

bool HostOfRunRunning() {
  const HANDLE process = hostProcess.load();
  return process != nullptr && !hostEnded.load() &&
         WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
}

bool HostOfRunKnown() { return hostProcess.load() != nullptr; }

bool EndHostOfRun(DWORD waitMs) {
  const HANDLE process = hostProcess.load();
  if (process == nullptr || hostEnded.exchange(true)) return false;
  // A host that has ended by itself was not ended by this run.
  if (WaitForSingleObject(process, 0) == WAIT_OBJECT_0) return false;
  const HANDLE job = hostJob.load();
  const bool ended = job != nullptr ? TerminateJobObject(job, 1) != 0
                                    : TerminateProcess(process, 1) != 0;
  if (ended) WaitForSingleObject(process, waitMs);
  return ended;
}
