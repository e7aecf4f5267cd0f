// Whether a process is a host this run may act on: the registered local
// server of the host's class, running in this run's session as this run's
// user. A record in the user's registry and a window handle the host names
// can both point at any process; only such a one is tied, recorded or
// ended.
#pragma once

#include <windows.h>

#include <string>

/// What the check found.
enum class HostCheck {
  Host,          ///< the registered server, this session, this user
  OtherProgram,  ///< its program is not the registered server
  OtherSession,  ///< it runs in another session
  OtherUser,     ///< it runs as another user
  Unchecked,     ///< it could not be checked; error says why
};

/// Checks process (opened with PROCESS_QUERY_LIMITED_INFORMATION). The
/// registered server is the LocalServer32 of the class that HKCR
/// "Excel.Application\CLSID" names, or, when there is no such key, that of
/// the version "Excel.Application\CurVer" names; it is read in the 32-bit
/// and in the 64-bit registry view (a 32-bit run can start a 64-bit host),
/// with environment strings expanded, its arguments left out, and compared
/// as a long path without regard to case. error is set for Unchecked only.
HostCheck CheckHostProcess(HANDLE process, DWORD& error);

/// The same against the given session and user in the place of the run's
/// own, so that a test can show a process of another session or user.
HostCheck CheckHostProcessAgainst(HANDLE process, DWORD sessionId, PSID user,
                                  DWORD& error);

/// The full path of process's image (opened with
/// PROCESS_QUERY_LIMITED_INFORMATION); empty when it cannot be read.
std::wstring ProcessImagePath(HANDLE process);
