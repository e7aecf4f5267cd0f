// The ways a console program is told to stop, for both programs: Ctrl+C,
// Ctrl+Break, a closed console, log-off and shutdown through the console
// handler (console_stop-win32.cc); log-off, shutdown, an installer closing
// programs and a request to close (WM_CLOSE, as taskkill without /f sends
// it) through a hidden window of a thread of its own
// (session_watch-win32.cc), as the system tells them to a console program
// that has loaded user32. Each only hands the stop to the program's own
// handler, which decides what ends and how.
#pragma once

#include <windows.h>

/// Stops beside the console's CTRL_* events.
constexpr DWORD kClosingApplications = 0x100;  // an installer, an update
constexpr DWORD kCloseRequested = 0x102;       // WM_CLOSE, taskkill without /f

/// A program's handler of a stop of the given kind.
using StopHandler = void (*)(DWORD kind);

/// Installs the console control handler: every kind it is told of goes to
/// untilEnded, which must not return before the program has ended (for a
/// closing console, log-off and shutdown the system ends the process with a
/// status of its own as soon as the handler returns).
void InstallConsoleStopHandler(StopHandler untilEnded);

/// Starts the hidden session window's thread, which lives until stop (a
/// manual-reset event) is set. Log-off, shutdown and an installer closing
/// programs go to untilEnded (which must not return, as above), a close
/// request to request; the window stays. Gives the thread, null when it
/// cannot be started.
HANDLE StartSessionWatch(HANDLE stop, StopHandler untilEnded,
                         StopHandler request);

/// The stop in words, for a line: "Ctrl+C", "closing the console window",
/// ...; kinds of the program's own are "the system shutting down".
const char* StopKindWords(DWORD kind);
