#include <windows.h>

#include <vector>

#include "handoff/cache_cleanup.h"
#include "handoff/cache_patterns.h"
#include "platform/install_paths.h"
#include "platform/system_api.h"
#include "platform/win_resource.h"

std::wstring GetEnvString(const wchar_t* name) {
  // Wide, so that a folder named in any script reaches the file calls
  // whole; the size is asked first, and again should the value grow.
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length = GetEnvironmentVariableW(
        name, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return {};  // not set, or empty
    if (length < buffer.size()) return {buffer.data(), length};
    buffer.resize(length);
  }
}

namespace {

// Upper case as the file system compares names.
std::wstring FoldCase(std::wstring text) {
  if (!text.empty())
    ulvex::System().CharUpperBuffW(&text[0], static_cast<DWORD>(text.size()));
  return text;
}

}  // namespace

void DeleteMatchingFiles(const std::wstring& pattern) {
  const std::wstring folder = GetFolderPart(pattern);
  const std::wstring namePattern = FoldCase(NamePart(pattern));

  WIN32_FIND_DATAW entry;
  ulvex::UniqueFind search(FindFirstFileW(pattern.c_str(), &entry));
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
    const std::wstring value = GetEnvString(row.variable);
    std::wstring pattern;
    if (ComposeCachePattern(row, value, pattern)) DeleteMatchingFiles(pattern);
  }
}

void PrepareWorkingFile() {
  const std::wstring path = GetWorkingFilePath();
  if (path.empty()) return;
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
