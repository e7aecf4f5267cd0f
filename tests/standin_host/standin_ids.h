// Names shared by the stand-in host and the tests that register and steer
// it. Changing one of them changes both sides.
#pragma once

#include <windows.h>

namespace standin {

/// The class the stand-in host serves under the ProgID "Excel.Application".
/// {7C2FB74B-F292-4A58-8030-206F6FD5E9CE}
inline constexpr GUID kHostClsid = {
    0x7c2fb74b,
    0xf292,
    0x4a58,
    {0x80, 0x30, 0x20, 0x6f, 0x6f, 0xd5, 0xe9, 0xce}};
inline constexpr wchar_t kHostClsidText[] =
    L"{7C2FB74B-F292-4A58-8030-206F6FD5E9CE}";

/// A class registered with a server that cannot start.
inline constexpr wchar_t kBrokenClsidText[] =
    L"{5088EFA9-C2AB-48C8-BE39-5F5A8B796F55}";

inline constexpr wchar_t kProgId[] = L"Excel.Application";
inline constexpr wchar_t kExeName[] = L"StandInHost.exe";

/// HKEY_CURRENT_USER key with the scenario: the host reads it at start-up,
/// because a server started by COM does not get the client's environment.
inline constexpr wchar_t kScenarioKey[] = L"Software\\UlvexTest\\StandInHost";
inline constexpr wchar_t kScriptValue[] = L"Script";  ///< REG_SZ path
inline constexpr wchar_t kLogValue[] = L"Log";        ///< REG_SZ path
/// Optional REG_DWORD: milliseconds without a call before the host gives up
/// on its client (default kDefaultSafetyExitMs).
inline constexpr wchar_t kSafetyExitValue[] = L"SafetyExitMs";
inline constexpr DWORD kDefaultSafetyExitMs = 120000;

/// The hand-off key the add-in reads and writes.
inline constexpr wchar_t kHandOffKey[] = L"Software\\Quennet\\Ulvex";
inline constexpr wchar_t kCommandLineValue[] = L"CommandLine";
inline constexpr wchar_t kProgressValue[] = L"Progress";

/// Prefix of a per-process named event ("<prefix><pid>"): setting it makes
/// that host revoke its class and exit cleanly, which keeps later
/// activations working (a killed server leaves a stale registration).
inline constexpr wchar_t kQuitEventPrefix[] = L"UlvexStandInHostQuit-";

}  // namespace standin
