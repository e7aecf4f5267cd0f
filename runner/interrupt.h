// Interruptions of a run: Ctrl+C, Ctrl+Break, closing the console window,
// log-off and shutdown. Each ends the run with status 1 (never 0, never the
// platform's negative "interrupted" status, which "if errorlevel 1" reads
// as success) and a line saying so.
#pragma once

#include <windows.h>

/// Installs the console control handler. Call first thing in main.
void InstallInterruptHandler();

/// Watches for log-off and shutdown through a hidden window of its own
/// thread: once a console program has loaded user32, the system tells it
/// of them by window message instead of the console handler.
void WatchSessionEnd();

/// Signalled once the run is interrupted (manual-reset); null before
/// InstallInterruptHandler.
HANDLE InterruptEvent();

/// True once the run is interrupted.
bool Interrupted();

/// Prints the interruption line (once per run, whichever thread gets there
/// first), flushes, and returns the run's status, 1.
int EndInterruptedRun();
