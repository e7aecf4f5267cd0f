// The hand-off key shared with the add-in: HKCU "Software\Quennet\Ulvex"
// with the REG_SZ values "CommandLine" and "Progress".
#pragma once

#include <windows.h>

#include <string>

/// The hand-off key path, as narrow text (no trailing backslash).
extern const char kHandoffKeyPath[];

/// The hand-off key path in wide form (converted with the thread's ANSI
/// code page).
std::wstring HandoffKeyPathW();

/// The two writes into the hand-off key, behind an interface so that tests
/// can make them fail: Wine does not enforce a key's access rights, so a
/// key that can be read but not written cannot be provoked there.
class HandoffWriter {
 public:
  virtual ~HandoffWriter() = default;
  /// Writes text as the REG_SZ value name of the existing hand-off key;
  /// false when the key cannot be opened for writing or the write fails.
  virtual bool WriteString(const wchar_t* name, const wchar_t* text) = 0;
};

/// Every right a run asks for on the hand-off key: the writers set values,
/// the wait for the add-in queries "Progress" and is notified of changes.
constexpr REGSAM kHandoffRunAccess =
    KEY_SET_VALUE | KEY_QUERY_VALUE | KEY_NOTIFY;

/// Opens the existing hand-off key with access (never creating it) and
/// closes it again; the status. A test's stand-in for it can refuse a
/// right: Wine does not enforce a key's access rights.
using HandoffKeyOpener = LSTATUS (*)(REGSAM access);
LSTATUS OpenHandoffKeyOnly(REGSAM access);

/// Opens the existing key with every right a run needs (kHandoffRunAccess)
/// and closes it at once: nothing is written, nothing created.
/// ERROR_SUCCESS, or why it cannot be opened so.
LSTATUS ProbeHandoffKey(HandoffKeyOpener open = OpenHandoffKeyOnly);

/// The real registry.
HandoffWriter& Win32HandoffWriter();

/// Stores the process's whole command line in "CommandLine"; prints its
/// message and returns false when it cannot.
bool SetCommandLineRegKey(HandoffWriter& writer = Win32HandoffWriter());
/// Empties "Progress"; prints its message and returns false when it cannot.
bool ResetProgressRegKey(HandoffWriter& writer = Win32HandoffWriter());

/// Both writes in their order, each reporting its own failure; true only
/// when both succeeded. A host started after a failed write would run the
/// previous task's command line, or the previous run's final text in
/// "Progress" would end the wait at once.
bool HandOffCommandLine(HandoffWriter& writer = Win32HandoffWriter());
/// The current "Progress" text of the open key (a REG_SZ or REG_EXPAND_SZ
/// value), or "GetStringRegKey Error".
std::wstring GetStringRegKey(HKEY key);
