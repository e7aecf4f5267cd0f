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

/// Stores the process's whole command line in "CommandLine".
void SetCommandLineRegKey();
/// Empties "Progress".
void ResetProgressRegKey();
/// The current "Progress" text of the open key (a REG_SZ or REG_EXPAND_SZ
/// value), or "GetStringRegKey Error".
std::wstring GetStringRegKey(HKEY key);
