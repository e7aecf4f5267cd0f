// The installation folder as the install check sees it.
#pragma once

#include "check/verdicts.h"

/// Looks at UlvexCmdLine.exe, Ulvex_32.exe (its version, read as the
/// banner reads it) and App\Ulvex (opened for reading, shared with every
/// other opener, and closed again) in this program's own folder.
InstallFacts ReadInstallFacts();

/// The ZoneId of a Zone.Identifier stream (streamPath:
/// "<file>:Zone.Identifier", or any file that holds such text); 0 when it
/// cannot be read or names none.
int ReadZoneId(const std::wstring& streamPath);
