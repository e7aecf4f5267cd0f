// The program that a class's LocalServer32 command line starts. COM hands
// the command line to CreateProcess as it stands, so the program is the
// quoted path, or, unquoted, the path up to its ".exe" (an installer may
// register a path with spaces and arguments without quotes).
#pragma once

#include <string>

/// The program's path in a LocalServer32 command line, e.g.
/// `"C:\Program Files\X\EXCEL.EXE" /automation` or
/// `C:\PROGRA~1\X\EXCEL.EXE /automation`. Blanks around it are dropped.
/// Empty when there is none: an empty line, or an opening quote that is
/// never closed (COM would start nothing sensible).
std::wstring ServerImagePath(const std::wstring& commandLine);
