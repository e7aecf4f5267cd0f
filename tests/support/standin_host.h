// Registration and steering of the stand-in host (StandInHost.exe), the
// out-of-process server that takes the place of "Excel.Application" in the
// tests. The script language and the call log's lines are described in
// tests/standin_host/README.md.
//
// A test that starts the host should end with KillStandInHosts() (the host
// then quits cleanly even when a client still holds it) and
// UnregisterStandInHost().
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace ulvex_test {

/// Registers BinFolder()\StandInHost.exe as the local server of the
/// ProgID "Excel.Application" in HKEY_CLASSES_ROOT, with the CurVer
/// default value curVer (e.g. L"Excel.Application.16"); no CurVer key
/// when curVer is empty. Replaces an earlier registration. Each call
/// registers a class of its own, which the host serves: under Wine a host
/// that was killed leaves its class unable to start again, so a test
/// registers again after a run that ended its host.
bool RegisterStandInHost(const std::wstring& curVer);

/// Registers a class whose LocalServer32 default value is commandLine, of
/// type (REG_SZ or REG_EXPAND_SZ), as the class of "Excel.Application":
/// named by its CLSID key, or, throughCurVer, only by the CLSID key of the
/// version its CurVer names; in the registry view view (0: the test's
/// own, KEY_WOW64_64KEY: the 64-bit one). Replaces an earlier registration.
bool RegisterHostServer(const std::wstring& commandLine, DWORD type,
                        bool throughCurVer, REGSAM view = 0);

/// Registers one class as the class of "Excel.Application" in both
/// registry views: in the 32-bit one with the LocalServer32 commandLine32,
/// in the 64-bit one with commandLine64 and the REG_EXPAND_SZ
/// "ServerExecutable" executable64 (the program COM starts).
bool RegisterHostServerInViews(const std::wstring& commandLine32,
                               const std::wstring& commandLine64,
                               const std::wstring& executable64);

/// Gives the class "Excel.Application" names now an AppID (its own class
/// ID) whose RunAs value is runAs, as dcomcnfg's Identity tab sets it.
bool SetStandInRunAs(const std::wstring& runAs);

/// Removes the ProgID and both test classes (so "not registered" runs) in
/// both registry views, and the scenario's key.
void UnregisterStandInHost();

/// Registers the ProgID (CurVer Excel.Application.16) with a class whose
/// local server is a missing file: the class exists, no server starts.
bool RegisterBrokenHost();

/// Tells the next host started which script to read at start-up
/// (normally the install folder's App\Ulvex, which Open reads again) and
/// where to write its call log; an existing log file is deleted.
bool SetStandInScenario(const std::wstring& scriptPath,
                        const std::wstring& logPath);

/// The log's lines (UTF-8, without line ends); empty when there is none.
std::vector<std::string> ReadStandInLog(const std::wstring& logPath);

/// Only the invocation lines of a log ("PUT ...", "GET ...",
/// "METHOD ..."), in order: the automation calls the client made.
std::vector<std::string> StandInCalls(const std::vector<std::string>& log);

/// The process IDs of the running StandInHost.exe processes.
std::vector<DWORD> StandInHostProcessIds();

/// Waits until no StandInHost.exe process runs; false on time-out.
bool WaitForStandInExit(DWORD timeoutMs);

/// Ends every running host at once, as a crash or a kill would (no clean
/// exit); returns how many were ended.
int TerminateStandInHosts();

/// Asks every running host to quit, waits for them, and terminates the
/// ones that do not go (a terminated host can leave COM unable to start
/// the class again until the Wine server restarts).
void KillStandInHosts();

}  // namespace ulvex_test
