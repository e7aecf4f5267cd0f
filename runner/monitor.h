// Follows the add-in's "Progress" value until it begins with "QUIT", the
// host ends or the run is interrupted.
#pragma once

#include <string>

#include "runner/monitor_system.h"

/// How the wait for the add-in's final text ended.
enum class MonitorOutcome {
  Finished,     ///< a text beginning with "QUIT" is in finalText
  Failed,       ///< a call failed; its message has been printed
  HostEnded,    ///< the host ended first; its line has been printed
  Interrupted,  ///< the run was interrupted; nothing has been printed
};

/// The hand-off key held for the wait, from before the host starts to the
/// end of the wait; what is still held when it goes is closed.
class ProgressWatch {
 public:
  explicit ProgressWatch(MonitorSystem& system) : system_(system) {}
  ~ProgressWatch();
  ProgressWatch(const ProgressWatch&) = delete;
  ProgressWatch& operator=(const ProgressWatch&) = delete;

  /// Opens the key. False after printing the failure: a run that cannot
  /// follow the add-in must not start the host.
  bool Open();
  /// Follows "Progress" until it begins with "QUIT", the host (a process
  /// handle, or null when it is not known) ends, or the run is interrupted.
  MonitorOutcome Follow(HANDLE host, std::wstring& finalText);
  /// Reads "Progress" once, for a run whose Open failed: the add-in may
  /// have ended its task inside Open, and "Progress", emptied before the
  /// host started, can only hold this run's text. True with a text
  /// beginning with "QUIT" in finalText, printed as Follow prints it.
  bool FinalTextSoFar(std::wstring& finalText);

 private:
  bool Fail(const char* call, long code);
  MonitorOutcome Ending(const std::wstring& current, std::wstring& finalText);

  MonitorSystem& system_;
  HKEY key_ = nullptr;
  HANDLE event_ = nullptr;
};
