// Paths on the install folder, the folder that holds the program's own
// executable. ANSI text; both "\" and "/" count as separators.
#pragma once

#include <string>

/// The text before the last "\" or "/" of path, or "" when it has neither.
std::string GetFolderPart(const std::string& path);

/// The text before the last separator of a module path, or the whole path
/// when it has none.
std::string CutInstallFolder(const std::string& modulePath);

/// The program's own folder, without a trailing separator.
std::string GetInstallFolder();
/// Install folder + "\Ulvex_32.exe": the product whose version the banner shows.
std::string GetProductExePath();
/// Install folder + "\App\Ulvex": the add-in workbook the launch opens.
std::string GetAddinWorkbookPath();
/// Install folder + "\StackTrace.txt": the add-in's working file.
std::string GetWorkingFilePath();
