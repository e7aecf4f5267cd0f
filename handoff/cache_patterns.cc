#include "handoff/cache_patterns.h"

#include <cstdio>

const CacheFolder kCacheFolders[kCacheFolderCount] = {
    {"APPDATA", "%s\\microsoft\\forms\\*.exd"},
    {"TEMP", "%s\\vbe\\*.exd"},
    {"TEMP", "%s\\excel8.0\\*.exd"},
    {"TEMP", "%s\\word8.0\\*.exd"},
    {"TEMP", "%s\\PPT11.0\\*.exd"},
};

bool ComposeCachePattern(const CacheFolder& row, const std::string& value,
                         std::string& pattern) {
  char buffer[kPathBufferSize];
  // snprintf reports the length it needed; anything that did not fit with
  // its terminator means the pattern would have been cut.
  const int length = snprintf(buffer, sizeof buffer, row.format, value.c_str());
  if (length < 0 || static_cast<size_t>(length) >= sizeof buffer) {
    pattern.clear();
    return false;
  }
  pattern.assign(buffer, static_cast<size_t>(length));
  return true;
}

bool ComposeFilePath(const std::wstring& folder, const std::wstring& name,
                     std::wstring& path) {
  // folder, "\", name and the terminator.
  if (folder.size() + 1 + name.size() + 1 > kPathBufferSize) {
    path.clear();
    return false;
  }
  path = folder + L"\\" + name;
  return true;
}

std::wstring NamePart(const std::wstring& pattern) {
  const size_t separator = pattern.find_last_of(L"\\/");
  return separator == std::wstring::npos ? pattern
                                         : pattern.substr(separator + 1);
}

bool WildcardMatch(const std::wstring& name, const std::wstring& pattern) {
  // Greedy scan that, on a mismatch, lets the latest "*" take one more
  // character; linear in practice, never worse than name x pattern.
  size_t n = 0, p = 0;
  size_t starAt = std::wstring::npos, resumeAt = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == L'?' || pattern[p] == name[n])) {
      ++n;
      ++p;
    } else if (p < pattern.size() && pattern[p] == L'*') {
      starAt = p++;
      resumeAt = n;
    } else if (starAt != std::wstring::npos) {
      p = starAt + 1;
      n = ++resumeAt;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == L'*') ++p;
  return p == pattern.size();
}
