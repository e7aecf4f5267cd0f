// The program that a class's LocalServer32 command line starts. COM hands
// the command line to CreateProcess as it stands, so the program is the
// quoted path, or, unquoted, the path up to its ".exe" (an installer may
// register a path with spaces and arguments without quotes).
#pragma once

#include <functional>
#include <string>

/// The program's path in a LocalServer32 command line, e.g.
/// `"C:\Program Files\X\EXCEL.EXE" /automation` or
/// `C:\PROGRA~1\X\EXCEL.EXE /automation`. Blanks around it are dropped.
/// Empty when there is none: an empty line, or an opening quote that is
/// never closed (COM would start nothing sensible).
std::wstring ServerImagePath(const std::wstring& commandLine);

/// commandLine with the program-folder variables %ProgramFiles% and
/// %CommonProgramFiles% (in any case) renamed to the ones that give a
/// process of the registry view's kind its folders, as the system's
/// launcher of that kind expands them: %ProgramW6432% and
/// %CommonProgramW6432% for the 64-bit view, %ProgramFiles(x86)% and
/// %CommonProgramFiles(x86)% for the 32-bit one. A name is renamed only
/// when defined(newName) says that the new one is defined (on 32-bit
/// Windows neither is).
std::wstring ViewFolderVariables(
    const std::wstring& commandLine, bool view64,
    const std::function<bool(const std::wstring&)>& defined);

/// path as reached through alias when it lies in folder (compared without
/// regard to ASCII case or to "\" against "/"): a 32-bit process on 64-bit
/// Windows reaches the native system folder only through "Sysnative", as the
/// file system redirects its own system folder to the 32-bit one. path itself
/// otherwise, or when folder is empty.
std::wstring PathThroughAlias(const std::wstring& path,
                              const std::wstring& folder,
                              const std::wstring& alias);
