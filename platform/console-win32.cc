#include "platform/console.h"

#include <windows.h>
#include <conio.h>

#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

// NOTE: printf("%ls") in the C locale silently stops at the first character
// above U+00FF, so wide text is converted here and written as bytes.
UINT OutputCodePage() {
  DWORD mode = 0;
  if (GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode)) {
    const UINT consoleCodePage = GetConsoleOutputCP();
    if (consoleCodePage != 0) return consoleCodePage;
  }
  return CP_ACP;
}

}  // namespace

void WriteWideText(const wchar_t* text) {
  if (text == nullptr || *text == L'\0') return;
  const int wideLength = static_cast<int>(wcslen(text));
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
