// Whether a process is a host this run may act on: the registered local
// server of the host's class, running in this run's session as this run's
// user, at the run's integrity level. A record in the user's registry and a
// window handle the host names can both point at any process; only such a
// one is tied, recorded or ended.
#pragma once

#include <windows.h>

#include <string>

/// What the check found.
enum class HostCheck {
  Host,            ///< the registered server, this session, user and level
  OtherProgram,    ///< its program is not the registered server
  OtherSession,    ///< it runs in another session
  OtherUser,       ///< it runs as another user
  OtherIntegrity,  ///< it runs at another integrity level than the run
  Unchecked,       ///< it could not be checked; the detail's error says why
};

/// How the check came to its answer.
struct HostCheckDetail {
  DWORD error = 0;  ///< for Unchecked: the Win32 error
  /// The program was compared by its path's spelling, not as a file: the
  /// process's image or a registered program could not be opened.
  bool byPath = false;
};

/// Who the run is: what a process must share with it to be its host.
struct RunIdentity {
  DWORD sessionId = 0;
  PSID user = nullptr;
  DWORD integrityLevel = 0;  ///< the last part of the token's label SID
};

/// Checks process (opened with PROCESS_QUERY_LIMITED_INFORMATION), in this
/// order: its token's user (another user's add-in writes its own key), its
/// program, its token's session, its token's integrity level. Its program
/// is the registered server when its image is the same file as the program
/// of one of ReadHostRegistrations() (volume and file index); where either
/// file cannot be opened, when their long paths are the same without
/// regard to case.
HostCheck CheckHostProcess(HANDLE process, HostCheckDetail& detail);

/// The same against the given run in the place of this one, so that a test
/// can show a process of another session, user or integrity level.
HostCheck CheckHostProcessAgainst(HANDLE process, const RunIdentity& run,
                                  HostCheckDetail& detail);

/// Why a process that is not the host was left alone, as words that follow
/// "as" or stand in brackets: "its program is not the registered Excel",
/// "it runs in another session", ...; empty for Host and Unchecked.
const char* HostCheckReason(HostCheck check);

/// The full path of process's image (opened with
/// PROCESS_QUERY_LIMITED_INFORMATION); empty when it cannot be read.
std::wstring ProcessImagePath(HANDLE process);
