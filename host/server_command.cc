#include "host/server_command.h"

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
