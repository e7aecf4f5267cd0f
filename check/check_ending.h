// How the check ends when it cannot wait for its own thread: a call into
// the host that does not return (the watchdog, check/watchdog.h) or a stop
// (Ctrl+C, Ctrl+Break, a closed console, log-off, shutdown, an installer
// closing programs, a close request; platform/stop_signals.h). The thread
// that ends it writes the rest of the report as if the check ended there
// (the step in progress failed, the checks after it skipped; or, while the
// host is let go of, a note on the last line), ends the host the check
// started and the process, with status 1 (a note alone keeps the status
// the results give). A stop during the host's start first waits, bounded,
// for the host to be tied, so that it can be ended.
#pragma once

#include <string>

#include "check/check_report.h"

/// Why the check ends at once.
enum class EndingCause { NoAnswer, TimeLimit, Stopped };

/// Installs the stop handlers (the console's and the session window's).
/// noHost: the host checks are not run.
void PrepareCheckEnding(bool noHost);

/// ULVEX_TIME_LIMIT as given, for the words of a limit that runs out.
void SetLimitText(const std::wstring& limitText);

/// Ends the session window's thread and waits for it (at most a second).
void StopStopWatch();

/// Held by the check's own thread while it adds a result and prints it:
/// once an ending has begun, the thread stops here for good, so that
/// nothing it prints comes after the ending's lines.
class OutputTurn {
 public:
  OutputTurn();
  ~OutputTurn();
  OutputTurn(const OutputTurn&) = delete;
  OutputTurn& operator=(const OutputTurn&) = delete;
};

/// Within an OutputTurn: the report so far and the check that comes next
/// (null when none does).
void ShowProgress(const CheckReport& report, const char* next);

/// From here the host is let go of: an ending adds a note to the last line
/// and keeps the results.
void BeginHostLetGo();

/// The call into the host in progress ("" between calls), for the words.
void SetCallInProgress(const std::string& call);

/// The check's own file, deleted by an ending that cannot wait; "" once
/// the check has deleted it.
void SetCheckFile(const std::wstring& path);

/// Within an OutputTurn, once the report's end is printed: a stop from
/// here on ends the process with this status.
void FinishReport(int status);

/// Signals that the call in progress has returned, then stops the calling
/// thread for good if an ending has begun. For the check's own thread.
void CallReturned();

/// Stops the calling thread for good if an ending has begun.
void StopIfEnding();

/// True once the check has been stopped: the host must not be asked for.
bool StopRequested();

/// Ends the check now, from a thread other than the check's own.
[[noreturn]] void EndCheckNow(EndingCause cause);
