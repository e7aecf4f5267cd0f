#include <conio.h>
#include <windows.h>

#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "platform/console.h"

namespace {

bool OutputIsConsole() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

UINT OutputCodePage() {
  if (OutputIsConsole()) {
    const UINT consoleCodePage = GetConsoleOutputCP();
    if (consoleCodePage != 0) return consoleCodePage;
  }
  return CP_ACP;
}

// NOTE: printf("%ls") in the C locale silently stops at the first character
// above U+00FF, so wide text is converted here and written as bytes.
void WriteWide(const wchar_t* text, int wideLength) {
  const UINT codePage = OutputCodePage();
  // Characters the code page lacks become its default character ("?").
  const int byteCount = WideCharToMultiByte(codePage, 0, text, wideLength,
                                            nullptr, 0, nullptr, nullptr);
  if (byteCount <= 0) return;
  std::vector<char> bytes(static_cast<size_t>(byteCount));
  WideCharToMultiByte(codePage, 0, text, wideLength, bytes.data(), byteCount,
                      nullptr, nullptr);
  fwrite(bytes.data(), 1, bytes.size(), stdout);
}

}  // namespace

void WriteWideText(const wchar_t* text) {
  if (text == nullptr || *text == L'\0') return;
  WriteWide(text, static_cast<int>(wcslen(text)));
}

void WriteAnsiText(const char* text, size_t length) {
  if (text == nullptr || length == 0) return;
  // The console shows its own code page, which may differ from the ANSI
  // one (an OEM code page, or one set with chcp).
  if (OutputIsConsole() && length <= static_cast<size_t>(INT_MAX)) {
    const int count = static_cast<int>(length);
    const int wideLength =
        MultiByteToWideChar(CP_ACP, 0, text, count, nullptr, 0);
    if (wideLength > 0) {
      std::vector<wchar_t> wide(static_cast<size_t>(wideLength));
      MultiByteToWideChar(CP_ACP, 0, text, count, wide.data(), wideLength);
      WriteWide(wide.data(), wideLength);
      return;
    }
  }
  fwrite(text, 1, length, stdout);
}

void PrintWide(const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  va_list measure;
  va_copy(measure, args);
  const int length = _vscwprintf(format, measure);
  va_end(measure);
  if (length > 0) {
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    _vsnwprintf(&text[0], text.size(), format, args);
    text.resize(static_cast<size_t>(length));
    WriteWideText(text.c_str());
  }
  va_end(args);
}

void FlushOutput() { fflush(stdout); }

bool HasConsoleInput() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

void WaitForKeyPress() {
  // A batch job or scheduled task has no key to give: go on at once.
  if (!HasConsoleInput()) return;
  _getch();
}
