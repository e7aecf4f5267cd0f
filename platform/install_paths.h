// Paths on the install folder, the folder that holds the program's own
// executable. Wide text from the module path query to the file calls, so
// that a folder named in any script works; both "\" and "/" count as
// separators.
#pragma once

#include <string>

/// The text before the last "\" or "/" of path, or "" when it has neither.
std::wstring GetFolderPart(const std::wstring& path);

/// The text before the last separator of a module path, or the whole path
/// when it has none.
std::wstring CutInstallFolder(const std::wstring& modulePath);

/// The program's own folder, without a trailing separator.
std::wstring GetInstallFolder();
/// Install folder + "\Ulvex_32.exe": the product whose version the banner
/// shows.
std::wstring GetProductExePath();
/// Install folder + "\App\Ulvex": the add-in workbook the launch opens.
std::wstring GetAddinWorkbookPath();
/// Install folder + "\StackTrace.txt": the add-in's working file.
std::wstring GetWorkingFilePath();
