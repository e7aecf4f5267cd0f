#include <windows.h>

#include <cstdlib>

#include "handoff/cache_cleanup.h"
#include "handoff/cache_patterns.h"
#include "platform/install_paths.h"
#include "platform/thread_ansi.h"
#include "platform/win_resource.h"

std::string GetEnvString(const char* name) {
  const char* value = getenv(name);
  return value != nullptr ? std::string(value) : std::string();
}

namespace {

// Upper case as the file system compares names.
std::wstring FoldCase(std::wstring text) {
  if (!text.empty()) CharUpperBuffW(&text[0], static_cast<DWORD>(text.size()));
  return text;
}

}  // namespace

void DeleteMatchingFiles(const std::string& pattern) {
  std::wstring widePattern, folder;
  if (!ThreadAnsiToWide(pattern, widePattern) ||
      !ThreadAnsiToWide(GetFolderPart(pattern), folder))
    return;
  const std::wstring namePattern = FoldCase(NamePart(widePattern));

  WIN32_FIND_DATAW entry;
  ulvex::UniqueFind search(FindFirstFileW(widePattern.c_str(), &entry));
  if (!search) return;
  do {
    // NOTE: the search also matches the generated 8.3 names, so "*.exd"
    // finds "x.exdata" (short name "X~1.EXD"); only a long name that
    // matches is deleted.
    if (!WildcardMatch(FoldCase(entry.cFileName), namePattern)) continue;
    std::wstring path;
    // Whatever cannot be deleted (a read-only file, a folder whose name
    // matches, a file held open) simply stays.
    if (ComposeFilePath(folder, entry.cFileName, path))
      DeleteFileW(path.c_str());
  } while (FindNextFileW(search.get(), &entry));
}

void DeleteOfficeCaches() {
  for (const CacheFolder& row : kCacheFolders) {
    // Read afresh for every row, as each row names its own variable.
    const std::string value = GetEnvString(row.variable);
    std::string pattern;
    if (ComposeCachePattern(row, value, pattern)) DeleteMatchingFiles(pattern);
  }
}

void PrepareWorkingFile() {
  std::wstring path;
  if (!ThreadAnsiToWide(GetWorkingFilePath(), path) || path.empty()) return;
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES ||
      (attributes & FILE_ATTRIBUTE_READONLY) == 0)
    return;
  // The add-in writes its trace into this file: make it writable again,
  // keeping its other attributes.
  DWORD writable = attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
  if (writable == 0) writable = FILE_ATTRIBUTE_NORMAL;
  SetFileAttributesW(path.c_str(), writable);
}
