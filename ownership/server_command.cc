#include "ownership/server_command.h"

namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

wchar_t AsciiLower(wchar_t c) {
  return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

// True when text holds ".exe" (in any case) at position at.
bool ExeAt(const std::wstring& text, size_t at) {
  static const wchar_t kExe[] = L".exe";
  for (size_t i = 0; i < 4; ++i)
    if (at + i >= text.size() || AsciiLower(text[at + i]) != kExe[i])
      return false;
  return true;
}

std::wstring TrimmedEnd(std::wstring text) {
  while (!text.empty() && IsBlank(text.back())) text.pop_back();
  return text;
}

}  // namespace

std::wstring ServerImagePath(const std::wstring& commandLine) {
  size_t start = 0;
  while (start < commandLine.size() && IsBlank(commandLine[start])) ++start;
  if (start == commandLine.size()) return {};
  if (commandLine[start] == L'"') {
    const size_t close = commandLine.find(L'"', start + 1);
    if (close == std::wstring::npos) return {};
    return TrimmedEnd(commandLine.substr(start + 1, close - start - 1));
  }
  // Unquoted: up to the first ".exe" that ends a word; without one, up to
  // the first blank.
  for (size_t at = start; at < commandLine.size(); ++at) {
    const size_t after = at + 4;
    if (ExeAt(commandLine, at) &&
        (after == commandLine.size() || IsBlank(commandLine[after])))
      return commandLine.substr(start, after - start);
  }
  size_t end = start;
  while (end < commandLine.size() && !IsBlank(commandLine[end])) ++end;
  return commandLine.substr(start, end - start);
}

namespace {

bool SameAsciiCase(const std::wstring& a, size_t at, const std::wstring& b,
                   size_t count) {
  if (at + count > a.size() || count != b.size()) return false;
  for (size_t i = 0; i < count; ++i)
    if (AsciiLower(a[at + i]) != AsciiLower(b[i])) return false;
  return true;
}

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// True when path begins with folder, without regard to ASCII case or to
// which separator either uses.
bool InFolder(const std::wstring& path, const std::wstring& folder) {
  if (path.size() <= folder.size() || !IsSeparator(path[folder.size()]))
    return false;
  for (size_t i = 0; i < folder.size(); ++i) {
    const wchar_t a = path[i], b = folder[i];
    if (IsSeparator(a) ? !IsSeparator(b) : AsciiLower(a) != AsciiLower(b))
      return false;
  }
  return true;
}

}  // namespace

std::wstring ViewFolderVariables(
    const std::wstring& commandLine, bool view64,
    const std::function<bool(const std::wstring&)>& defined) {
  const struct {
    const wchar_t* name;
    const wchar_t* as64;
    const wchar_t* as32;
  } kFolders[] = {
      {L"ProgramFiles", L"ProgramW6432", L"ProgramFiles(x86)"},
      {L"CommonProgramFiles", L"CommonProgramW6432",
       L"CommonProgramFiles(x86)"},
  };
  std::wstring renamed;
  size_t at = 0;
  while (at < commandLine.size()) {
    const size_t open = commandLine.find(L'%', at);
    const size_t close = open == std::wstring::npos
                             ? std::wstring::npos
                             : commandLine.find(L'%', open + 1);
    if (close == std::wstring::npos) break;
    renamed.append(commandLine, at, open - at);
    std::wstring name = commandLine.substr(open + 1, close - open - 1);
    for (const auto& folder : kFolders) {
      const std::wstring newName = view64 ? folder.as64 : folder.as32;
      if (SameAsciiCase(name, 0, folder.name, name.size()) &&
          defined(newName)) {
        name = newName;
        break;
      }
    }
    renamed += L'%' + name + L'%';
    at = close + 1;
  }
  renamed.append(commandLine, at, std::wstring::npos);
  return renamed;
}

std::wstring PathThroughAlias(const std::wstring& path,
                              const std::wstring& folder,
                              const std::wstring& alias) {
  std::wstring base = folder;
  while (!base.empty() && IsSeparator(base.back())) base.pop_back();
  if (base.empty() || !InFolder(path, base)) return path;
  return alias + path.substr(base.size());
}
