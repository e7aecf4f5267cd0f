// What a look at the user's run lock found (handoff/run_lock.h), apart from
// the platform, so that what it means can be worked out anywhere.
#pragma once

#include <cstdint>
#include <string>

/// What a look at the run lock found.
enum class LockState {
  Free,           ///< the lock file exists and could be locked (and was let go)
  Held,           ///< a run of this user holds it
  WillBeCreated,  ///< not there yet; this account may create what is missing
  Unavailable,    ///< it cannot be opened, locked or created; error says why
};

struct LockProbe {
  LockState state = LockState::Unavailable;
  std::wstring lockFile;  ///< the lock file's full path (empty: unknown)
  /// WillBeCreated: the nearest folder that exists, in which the run creates
  /// the rest; Unavailable: the file or folder that failed.
  std::wstring folder;
  uint32_t error = 0;  ///< the platform's error code
};
