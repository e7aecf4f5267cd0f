// Interruptions of a run: Ctrl+C, Ctrl+Break, closing the console window,
// log-off, shutdown, an installer closing programs, and the time limit
// (ULVEX_TIME_LIMIT). Each ends the run with status 1 (never 0, never the
// platform's negative "interrupted" status, which "if errorlevel 1" reads
// as success) and a line saying so, and ends the host the run started.
#pragma once

#include <windows.h>

/// Installs the console control handler. Call first thing in main.
void InstallInterruptHandler();

/// Watches for log-off and shutdown through a hidden window of its own
/// thread: once a console program has loaded user32, the system tells it
/// of them by window message instead of the console handler.
void WatchSessionEnd();

/// Reads ULVEX_TIME_LIMIT. Unset: no limit, true. Valid: the limit counts
/// from the program's start and a thread of its own interrupts the run when
/// it runs out; true. Otherwise prints one line naming the variable and its
/// value and gives false: the run must end with status 1 before it starts.
bool WatchTimeLimit();

/// Ends the watching threads (the session watch, the time limit) and waits
/// a bounded time for them: every return from main comes through here, so
/// that no second thread is left when the process ends.
void StopWatchThreads();

/// Signalled once the run is interrupted (manual-reset); null before
/// InstallInterruptHandler.
HANDLE InterruptEvent();

/// True once the run is interrupted.
bool Interrupted();

/// Prints the interruption line (once per run, whichever thread gets there
/// first), ends the host the run started and says so, flushes, and returns
/// the run's status, 1. For the run's own thread; the handler and the
/// watchdog end the run themselves when that thread is busy.
int EndInterruptedRun();
