// Interruptions of a run: Ctrl+C, Ctrl+Break, closing the console window,
// log-off, shutdown, an installer closing programs, a request to close the
// program (WM_CLOSE, as taskkill without /f sends it) and the time limit
// (ULVEX_TIME_LIMIT). Each ends the run with status 1 (never 0, never the
// platform's negative "interrupted" status, which "if errorlevel 1" reads
// as success) and a line saying so, and ends the host the run started.
// Once the add-in's final text has been read, none of them does: the run
// ends with the add-in's verdict and leaves the host running.
//
// The console handler and the hidden session window, which both programs
// share (platform/stop_signals.h, installed for the run by
// console_handler-win32.cc), and the time-limit watchdog
// (time_limit_watch-win32.cc) each hand their interruption to the claim of
// who ends the run (run_ending-win32.cc).
#pragma once

#include <windows.h>

/// Installs the console control handler. Call first thing in main.
void InstallInterruptHandler();

/// Watches for log-off and shutdown through a hidden window of its own
/// thread: once a console program has loaded user32, the system tells it
/// of them by window message instead of the console handler. WM_CLOSE to
/// that window interrupts the run too; the window stays.
void WatchSessionEnd();

/// Reads ULVEX_TIME_LIMIT. Unset: no limit, true. Valid: the limit counts
/// from the program's start and a thread of its own interrupts the run when
/// it runs out; true. Otherwise prints one line naming the variable and its
/// value and gives false: the run must end with status 1 before it starts.
bool WatchTimeLimit();

/// Ends the watching threads (the session watch, the time limit) and waits
/// a bounded time for them: every return from main comes through here, so
/// that no second thread is left when the process ends. True when every
/// watching thread has ended.
bool StopWatchThreads();

/// Fixes the run's status at the add-in's final text. From here on no
/// interruption changes it or ends the host: one that comes while the run
/// lets go of the host (a host that does not answer its release) ends the
/// process with this status soon after, the host left running. For the
/// run's own thread.
void FixVerdict(int status);

/// True once FixVerdict has been called.
bool VerdictFixed();

/// Signalled once the run is interrupted (manual-reset); null before
/// InstallInterruptHandler.
HANDLE InterruptEvent();

/// True once the run is interrupted.
bool Interrupted();

/// Prints the interruption line (once per run, whichever thread gets there
/// first), ends the host the run started and says so, flushes, and returns
/// the run's status, 1. For the run's own thread; the handler and the
/// watchdog end the run themselves when that thread is busy, and hold that
/// thread first, so that it prints nothing more.
int EndInterruptedRun();
