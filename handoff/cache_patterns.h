// Where the Office control caches (*.exd) live, and how the search
// patterns and file paths of the cleanup are composed.
#pragma once

#include <cstddef>
#include <string>

/// Characters of a composed search pattern or file path, terminator
/// included.
constexpr size_t kPathBufferSize = 2000;

/// One cache folder: an environment variable and the pattern format that
/// its value completes.
struct CacheFolder {
  const wchar_t* variable;
  const wchar_t* format;  ///< one "%s", replaced by the variable's value
};

constexpr size_t kCacheFolderCount = 5;
/// The five cache folders, in the order they are cleaned.
extern const CacheFolder kCacheFolders[kCacheFolderCount];

/// The row's pattern for the variable's value. False when it would not fit
/// in kPathBufferSize characters: that folder is then skipped, never
/// searched under a cut-off path.
bool ComposeCachePattern(const CacheFolder& row, const std::wstring& value,
                         std::wstring& pattern);

/// The text after the last "\" or "/" of a pattern: its file-name part.
std::wstring NamePart(const std::wstring& pattern);

/// True when name matches pattern as a whole, where "*" stands for any run
/// of characters and "?" for exactly one. Characters compare exactly:
/// fold the case of both first.
bool WildcardMatch(const std::wstring& name, const std::wstring& pattern);

/// folder + "\" + name. False when it would not fit in kPathBufferSize
/// characters: that file is then skipped, never deleted under a cut-off
/// path.
bool ComposeFilePath(const std::wstring& folder, const std::wstring& name,
                     std::wstring& path);
