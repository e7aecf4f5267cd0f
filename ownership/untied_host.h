// A host that was asked for but never tied: a start that hangs in the
// host's creation (a first-start or activation dialog) has no window to
// read, so its process is looked for among the processes of this session
// and user instead, and ended, so that it does not stay unseen.
#pragma once

#include <windows.h>

/// What looking for the untied host found and did.
struct UntiedHostEnding {
  enum Outcome {
    Ended,      ///< exactly one such process, and it was ended
    NoneFound,  ///< no process passes as the host started since then
    Several,    ///< more than one: none is known to be ours, none ended
    NotEnded,   ///< one was found but could not be ended (error)
  } outcome = NoneFound;
  DWORD processId = 0;  ///< Ended, NotEnded: the process
  DWORD error = 0;      ///< NotEnded: why
};

/// Looks for processes that are the registered host of this session, user
/// and integrity level (CheckHostProcess) and were created at or after
/// since; ends the one found and waits at most waitMs for it to go. Safe on
/// any thread.
UntiedHostEnding EndUntiedHost(const FILETIME& since, DWORD waitMs);
