// One run at a time per user: the hand-off key is the user's, in every
// session, so two runs at once would read each other's texts and start
// with each other's command line, and could end each other's host.
#pragma once

#include <windows.h>

#include "handoff/lock_probe.h"

/// How taking the lock ended.
enum class LockOutcome {
  Held,         ///< this run holds the lock
  Interrupted,  ///< the run was interrupted while it waited
  Unavailable,  ///< no lock could be had; its line is printed
};

/// The user's run lock, held from before the first step that touches the
/// hand-off key, the Office settings or the caches until the run ends.
/// It is an exclusive byte-range lock on a file in the user's own local
/// application data folder, which no other account may create or open:
/// nobody but the user (or an administrator) can take it first.
class RunLock {
 public:
  RunLock() = default;
  ~RunLock();
  RunLock(const RunLock&) = delete;
  RunLock& operator=(const RunLock&) = delete;

  /// Takes the lock. While another run of the same user holds it, prints
  /// one line and waits until the lock is free or interrupt (may be null) is
  /// signalled; the system lets go of the lock of a run that was killed, so
  /// it is free again at once. When no lock can be had (the folder or the
  /// file cannot be opened), prints one line and gives Unavailable: the run
  /// must end with status 1 before it does anything. Lines end with
  /// lineEnd.
  LockOutcome Acquire(HANDLE interrupt, const char* lineEnd);

 private:
  HANDLE file_ = INVALID_HANDLE_VALUE;
  bool held_ = false;
};

/// Looks at the run lock as a run would take it, creating nothing: an
/// existing lock file is opened and locked, and let go at once; where the
/// file or its folders do not exist yet, the nearest existing folder is
/// opened for adding what the run will create. Prints nothing.
LockProbe ProbeRunLock();
