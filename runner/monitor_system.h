// The platform calls of the progress monitor, behind an interface so that
// tests can provoke what Wine cannot (a failing wait or close, the host's
// end at a chosen moment) and can place the add-in's writes exactly
// between two steps of a cycle.
#pragma once

#include <windows.h>

#include <ctime>
#include <string>

/// What ended one wait of a cycle.
enum class WaitOutcome {
  KeyChanged,   ///< the change notification fired
  TimedOut,     ///< the cycle's time passed; the registration still waits
  HostEnded,    ///< the host's process ended
  Interrupted,  ///< Ctrl+C, Ctrl+Break, the console closed, log-off, ...
  Failed,       ///< the wait itself failed (LastError tells why)
};

class MonitorSystem {
 public:
  virtual ~MonitorSystem() = default;
  /// Opens the hand-off key with KEY_QUERY_VALUE | KEY_NOTIFY.
  virtual LSTATUS OpenKey(HKEY* key) = 0;
  /// An unnamed manual-reset event, not signalled; null on failure.
  virtual HANDLE CreateChangeEvent() = 0;
  /// The platform's last error code, read right after a failed call.
  virtual DWORD LastError() = 0;
  /// Asks for one signal of event at the next change under the key.
  virtual LSTATUS NotifyChange(HKEY key, HANDLE event) = 0;
  virtual void ResetChangeEvent(HANDLE event) = 0;
  /// Waits at most milliseconds for the event, the end of host (when not
  /// null) or an interruption, keeping the thread's COM apartment
  /// responsive meanwhile.
  virtual WaitOutcome Wait(HANDLE event, HANDLE host, DWORD milliseconds) = 0;
  /// The current "Progress" text, or the reader's error text.
  virtual std::wstring ReadProgress(HKEY key) = 0;
  virtual LSTATUS CloseKey(HKEY key) = 0;
  virtual bool CloseEvent(HANDLE event) = 0;
  virtual std::tm LocalTimeNow() = 0;
};

/// The real registry, event, wait and clock.
MonitorSystem& Win32MonitorSystem();
