// The record of the host a run started, so that a later run can end a host
// that an interrupted or killed run left behind: that host's add-in would
// otherwise write its final text into the later run's "Progress".
//
// The record lives in a key of the program's own, HKCU
// "Software\Quennet\UlvexCmdLine", which the add-in never reads. It is not
// under the hand-off key: the wait for the add-in watches that key's whole
// subtree and would wake at every write here.
#pragma once

#include <windows.h>

#include <string>

#include "ownership/host_identity.h"

/// "Software\Quennet\UlvexCmdLine" under HKEY_CURRENT_USER.
extern const wchar_t kHostRecordKey[];
/// The record's values: the process ID (REG_DWORD), the process's creation
/// time (REG_QWORD, a FILETIME) and, when it could be read, the full path
/// of its image (REG_SZ).
extern const wchar_t kHostProcessIdValue[];
extern const wchar_t kHostStartTimeValue[];
extern const wchar_t kHostImageValue[];

/// Records hostProcess, which must carry PROCESS_QUERY_LIMITED_INFORMATION.
/// Silent: nothing is recorded when the process cannot be queried or the
/// key cannot be written (a later run then cannot find this host).
void RecordHost(HANDLE hostProcess);

/// Removes the record. Called at every designed ending, where the host is
/// left as it is; an interrupted run keeps it.
void ForgetHost();

/// How EndLeftoverHost checks the recorded process; a test puts
/// CheckHostProcessAgainst behind it to show another session or user.
using HostChecker = HostCheck (*)(HANDLE process, HostCheckDetail& detail);

/// Looks at the record an earlier run of this user left. When it names a
/// process that still runs with the recorded creation time (and image), it
/// checks that process (ownership/host_identity.h):
/// - the registered host in this session as this user, at the run's
///   integrity level: ends it, waits for its end (at most 5 s), prints a
///   line ended by lineEnd and removes the record;
/// - another program, or a process of another user (whose add-in writes
///   another user's key): leaves it running and removes the record, with a
///   line that says why;
/// - the host in another session or at another integrity level, or a
///   process that could not be checked: it may still write this user's
///   key, and is not to be ended from here; a line says so and to close it,
///   the record is kept, and false is returned.
/// A record of a process that is gone or is another one, and one whose data
/// is not as written, is removed silently. Returns false also when the host
/// could not be ended; its line is printed and the record kept.
bool EndLeftoverHost(const char* lineEnd, HostChecker check = CheckHostProcess);

/// What the record an earlier run left names, looked at as EndLeftoverHost
/// looks at it, with nothing ended, removed or written.
struct LeftoverHost {
  bool recorded = false;  ///< there is a record
  bool running = false;   ///< it names a process that runs as recorded
  DWORD processId = 0;
  std::wstring image;                 ///< the recorded image; empty when none
  HostCheck check = HostCheck::Host;  ///< what that process is, when running
  HostCheckDetail detail;
};
LeftoverHost LookForLeftoverHost();
