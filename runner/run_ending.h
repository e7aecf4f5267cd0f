// The claim of who ends the run: the run's own thread, in order, or the
// thread of an interruption (the console handler, the session window's
// thread, the time-limit watchdog), which then ends the run and the process
// itself. Shared by the interruptions' sources; main uses interrupt.h.
#pragma once

#include <windows.h>

#include "platform/stop_signals.h"

/// The run's own interruption, beside the stops of platform/stop_signals.h.
constexpr DWORD kTimeLimitReached = 0x101;

/// Creates the events and keeps a handle of the calling (the run's)
/// thread; false when the events cannot be had: the run then has no
/// interruptions of its own.
bool PrepareRunEnding();

/// Marks the run interrupted by kind and sees that it ends: the run's own
/// thread ends it in order if it begins to within a grace period (longer
/// while the host starts); otherwise this thread ends it and the process.
/// Returns only when the run's thread is ending the run; for the thread of
/// an interruption.
void Interrupt(DWORD kind);

/// Interrupt, for a source after whose answer the system ends the process
/// with a status of its own (a closing console, log-off, shutdown, an
/// installer closing programs): never returns, and ends the process with
/// the run's status (EndingStatus) once the run's thread has had its time
/// to leave main.
[[noreturn]] void InterruptUntilEnded(DWORD kind);

/// The status for a process that an interruption's thread ends once the
/// run's thread has left main: the add-in's verdict once it is fixed,
/// otherwise 1.
int EndingStatus();

/// Set at the very end of the run: the watching threads end. Null when
/// PrepareRunEnding failed.
HANDLE WatchThreadsStop();

/// A watching thread that StopWatchThreads waits for (at most two).
void AddWatchThread(HANDLE thread);

/// When the program started (GetTickCount64), for the time limit.
ULONGLONG RunStartTick();

/// The time limit as given (digits and a unit), for its line.
void SetTimeLimitText(const wchar_t* value);
