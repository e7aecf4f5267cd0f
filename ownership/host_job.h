// The host goes with the run that started it: its process is put in a job
// that ends it when the run's process ends without letting it go first (a
// run killed from outside), and an interrupted run ends it on purpose.
// Every designed ending lets it go, so that it stays exactly as before.
// Only the host is in the job: the processes it starts (a browser opened
// from a link, a helper of the add-in) break away silently.
#pragma once

#include <windows.h>

#include "ownership/host_identity.h"

/// The access the run asks for on the host's process: to put it in a job,
/// to end it, to wait for its end, and to read its start time.
constexpr DWORD kHostProcessAccess = PROCESS_SET_QUOTA | PROCESS_TERMINATE |
                                     SYNCHRONIZE |
                                     PROCESS_QUERY_LIMITED_INFORMATION;

/// What the launch found behind the window the host named.
struct HostWindowFacts {
  DWORD processId = 0;  ///< the window's process; 0: no window named
  /// The error of opening that process with kHostProcessAccess; 0 when it
  /// was opened so.
  DWORD openError = 0;
  HostCheck check = HostCheck::Host;  ///< what the identity check found
  HostCheckDetail detail;
};

/// Puts the host's process (opened with kHostProcessAccess) in a job with
/// kill-on-close, and keeps what is needed to end it from any thread. True
/// when the host is in the job. Otherwise false, with error as the untied
/// line names it (0: the host named no window); with a process that may be
/// ended (openError 0 and PROCESS_TERMINATE granted) an interruption still
/// ends it. process is null when the host named no window or its process
/// could not be opened at all; a process that failed the identity check
/// (opened with SYNCHRONIZE only, to watch its end) is never tied. Prints
/// nothing.
bool TieHost(HANDLE process, const HostWindowFacts& found, DWORD& error);

/// Prints the line that says the host could not be tied, and why (process,
/// found and error as TieHost had them): it will outlive an interrupted
/// run.
void PrintUntiedHost(HANDLE process, const HostWindowFacts& found, DWORD error);

/// Lets the host outlive the run: clears kill-on-close. For every ending
/// that is not an interruption; prints one line when it cannot be done
/// (the host may then end with the run).
void LetHostOutliveRun();

/// LetHostOutliveRun without the line, for a thread that must not take the
/// C runtime's locks; false when kill-on-close could not be cleared.
bool ReleaseHostFromJob();

/// From just before the host is asked for to just after it is tied and
/// recorded: an interruption in between waits (bounded) for the run's
/// thread to tie the host, so that the host can be ended with the run.
void BeginHostStart();
void EndHostStart();
bool HostStarting();

/// When the last BeginHostStart was called (system time): a host asked for
/// since was created after it (ownership/untied_host.h).
FILETIME HostStartBegan();

/// True while the host the run started runs and can be ended by it.
bool HostOfRunRunning();

/// True once the run has a host it can end (tied, or at least opened to
/// be ended), whether it still runs or not.
bool HostOfRunKnown();

/// Ends the host the run started and waits at most waitMs for it to go.
/// Safe on any thread and takes no C runtime lock. True when there was a
/// host to end and it was ended (at most once per run: later calls give
/// false).
bool EndHostOfRun(DWORD waitMs);
