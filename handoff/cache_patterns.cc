#include "handoff/cache_patterns.h"

const CacheFolder kCacheFolders[kCacheFolderCount] = {
    {L"APPDATA", L"%s\\microsoft\\forms\\*.exd"},
    {L"TEMP", L"%s\\vbe\\*.exd"},
    {L"TEMP", L"%s\\excel8.0\\*.exd"},
    {L"TEMP", L"%s\\word8.0\\*.exd"},
    {L"TEMP", L"%s\\PPT11.0\\*.exd"},
};

bool ComposeCachePattern(const CacheFolder& row, const std::wstring& value,
                         std::wstring& pattern) {
  // The value takes the place of the format's one "%s", as it stands: a
  // "%" in it is text, not a format.
  const std::wstring format = row.format;
  const size_t slot = format.find(L"%s");
  const std::wstring before = format.substr(0, slot);
  const std::wstring after =
      slot == std::wstring::npos ? std::wstring() : format.substr(slot + 2);
  // The pattern and its terminator must fit, or it would have been cut.
  if (before.size() + value.size() + after.size() + 1 > kPathBufferSize) {
    pattern.clear();
    return false;
  }
  pattern = before + value + after;
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
