// One run at a time per user: the hand-off key is the user's, in every
// session, so two runs at once would read each other's texts and start
// with each other's command line.
#pragma once

#include <windows.h>

/// How taking the lock ended.
enum class LockOutcome {
  Held,         ///< this run holds the lock (or runs without one, see below)
  Interrupted,  ///< the run was interrupted while it waited
};

/// The user's run lock, held from before the first step that touches the
/// hand-off key, the Office settings or the caches until the run ends.
class RunLock {
 public:
  RunLock() = default;
  ~RunLock();
  RunLock(const RunLock&) = delete;
  RunLock& operator=(const RunLock&) = delete;

  /// Takes the lock. While another run of the same user holds it, prints
  /// one line and waits; a run that was killed leaves the lock abandoned,
  /// and it is taken over. When no lock can be had (the platform refuses
  /// the named object, or another account made it first), one line says
  /// so and the run goes on without one.
  LockOutcome Acquire();

 private:
  HANDLE mutex_ = nullptr;
  bool held_ = false;
};
