// Removes the Office control caches (*.exd) before the host starts, and
// handles the add-in's working file in the install folder.
#pragma once

#include <string>

/// The variable's value, or "" when it is not set.
std::wstring GetEnvString(const wchar_t* name);

/// Deletes every file matching pattern (folder + wildcard name); silent.
void DeleteMatchingFiles(const std::wstring& pattern);

/// The five cache folders under APPDATA and TEMP, in order; silent.
void DeleteOfficeCaches();

/// The working-file step: "\StackTrace.txt" in the install folder.
void PrepareWorkingFile();
