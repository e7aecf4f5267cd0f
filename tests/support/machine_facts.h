// What the machine the tests run on is like, read from the machine itself.
// Wine and Windows differ in each of these: under Wine every process runs
// in one session with an elevated token, files keep no integrity label,
// HKEY_CLASSES_ROOT shows the machine's classes only and files have no
// alternate streams. A test whose expectation depends on one of them asks
// here and asserts what the machine in front of it documents; a test whose
// premise the machine lacks is skipped with the reason (MachineLacks...).
#pragma once

#include <windows.h>

#include <string>

namespace ulvex_test {

/// True when this process's token is elevated (TokenElevation).
bool TokenIsElevated();

/// The integrity level of this process's token as its RID
/// (SECURITY_MANDATORY_MEDIUM_RID, ..._HIGH_RID, ...); 0 when unreadable.
DWORD TokenIntegrityRid();

/// The session this process runs in; 0 when it cannot be read.
DWORD SessionId();

/// True when this process's session can show windows to a user: not
/// session 0, and a visible window station.
bool SessionHasInteractiveDesktop();

/// True when a mandatory label set on a file in folder reads back from the
/// file (probed on a file of its own, which is removed again).
bool FilesKeepLabels(const std::wstring& folder);

/// True when HKEY_CLASSES_ROOT shows a key of HKCU\Software\Classes
/// (probed on a key of its own, which is removed again).
bool ClassesRootMergesUserClasses();

/// True when a file in folder can hold a named alternate stream (probed on
/// a file of its own, which is removed again).
bool FilesKeepAlternateStreams(const std::wstring& folder);

/// The facts above in one line, for a skipped test's reason and the test
/// program's XML output.
std::string MachineFactsLine();

}  // namespace ulvex_test
