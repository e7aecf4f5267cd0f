#include <conio.h>
#include <windows.h>

#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <new>
#include <string>

#include "platform/console.h"

namespace {

// NOTE: WriteConsoleW takes its text through a heap of 64 KB shared by the
// process's console calls on older systems, and fails with
// ERROR_NOT_ENOUGH_MEMORY past what is free there: write in pieces.
constexpr size_t kConsolePieceUnits = 8192;

bool IsConsole(HANDLE handle) {
  DWORD mode = 0;
  return handle != nullptr && handle != INVALID_HANDLE_VALUE &&
         GetConsoleMode(handle, &mode) != 0;
}

std::wstring WideFromUtf8(const char* text, size_t length) {
  std::wstring wide;
  if (length == 0 || length > static_cast<size_t>(INT_MAX)) return wide;
  const int count = static_cast<int>(length);
  const int needed = MultiByteToWideChar(CP_UTF8, 0, text, count, nullptr, 0);
  if (needed <= 0) return wide;
  wide.resize(static_cast<size_t>(needed));
  const int written =
      MultiByteToWideChar(CP_UTF8, 0, text, count, &wide[0], needed);
  wide.resize(written > 0 ? static_cast<size_t>(written) : 0);
  return wide;
}

// The ANSI code page's bytes for text, "?" for every character it lacks:
// a best-fit look-alike ("L" for "Ł") would show a word the text does not
// hold.
std::string AnsiFromWide(const wchar_t* text, size_t length) {
  std::string bytes;
  if (length == 0 || length > static_cast<size_t>(INT_MAX) / 4) return bytes;
  const int count = static_cast<int>(length);
  // NOTE: a UTF-8 ANSI code page takes neither the flag nor a default
  // character (the call fails with them); it has every character anyway.
  const bool utf8 = GetACP() == CP_UTF8;
  const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
  const char* unknown = utf8 ? nullptr : "?";
  const int needed = WideCharToMultiByte(CP_ACP, flags, text, count, nullptr, 0,
                                         unknown, nullptr);
  if (needed <= 0) return bytes;
  bytes.resize(static_cast<size_t>(needed));
  const int written = WideCharToMultiByte(CP_ACP, flags, text, count, &bytes[0],
                                          needed, unknown, nullptr);
  bytes.resize(written > 0 ? static_cast<size_t>(written) : 0);
  return bytes;
}

// Pieces never end between the two halves of a surrogate pair.
size_t PieceLength(const wchar_t* text, size_t left) {
  if (left <= kConsolePieceUnits) return left;
  const wchar_t last = text[kConsolePieceUnits - 1];
  return last >= 0xD800 && last <= 0xDBFF ? kConsolePieceUnits - 1
                                          : kConsolePieceUnits;
}

void WriteToConsole(HANDLE console, const std::wstring& text) {
  const wchar_t* at = text.data();
  size_t left = text.size();
  while (left > 0) {
    DWORD written = 0;
    if (!WriteConsoleW(console, at, static_cast<DWORD>(PieceLength(at, left)),
                       &written, nullptr) ||
        written == 0)
      return;
    at += written;
    left -= written;
  }
}

// Text to standard output or error: a console gets it whole, through
// WriteConsoleW, after what the C runtime holds for it; a pipe or a
// file gets the ANSI code page's bytes through the stream, in text mode as
// before.
void WriteWide(FILE* stream, DWORD standardHandle, const wchar_t* text,
               size_t length) {
  if (length == 0) return;
  const HANDLE handle = GetStdHandle(standardHandle);
  if (IsConsole(handle)) {
    // Standard output and error may share the console.
    fflush(stdout);
    fflush(stream);
    // A line end reaches the console as the C runtime's text mode writes
    // it, carriage return first.
    std::wstring lines;
    lines.reserve(length);
    for (size_t i = 0; i < length; ++i) {
      if (text[i] == L'\n') lines += L'\r';
      lines += text[i];
    }
    WriteToConsole(handle, lines);
    return;
  }
  const std::string bytes = AnsiFromWide(text, length);
  fwrite(bytes.data(), 1, bytes.size(), stream);
}

}  // namespace

void WriteWideText(const wchar_t* text) {
  if (text == nullptr) return;
  WriteWide(stdout, STD_OUTPUT_HANDLE, text, wcslen(text));
}

void WriteUtf8Text(const char* text, size_t length) {
  if (text == nullptr) return;
  const std::wstring wide = WideFromUtf8(text, length);
  WriteWide(stdout, STD_OUTPUT_HANDLE, wide.data(), wide.size());
}

void WriteUtf8Error(const char* text, size_t length) {
  if (text == nullptr) return;
  const std::wstring wide = WideFromUtf8(text, length);
  WriteWide(stderr, STD_ERROR_HANDLE, wide.data(), wide.size());
  fflush(stderr);
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

void EndOnOutOfMemory() {
  std::set_new_handler([] {
    fflush(stdout);
    fputs("Out of memory\n", stdout);
    fflush(stdout);
    std::_Exit(1);
  });
}

// NOTE: the C++ library's own terminate handler names the type of an
// exception that nobody caught, through the library's demangler, which
// alone is about 45 KB of each program. Neither program throws (built
// without exceptions) and exhausted memory ends it above, so this runs only
// if the library itself throws; it ends the program as the library's
// handler does, with abort(), without the type's name. Defined in this
// file, which both programs link, so that the linker takes it before it
// looks in the library.
#if defined(__GLIBCXX__)
namespace __gnu_cxx {
void __verbose_terminate_handler() {
  fflush(stdout);
  fputs("terminate called after the C++ library threw an exception\n",
        stderr);
  abort();
}
}  // namespace __gnu_cxx
#endif

bool HasConsoleInput() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

void WaitForKeyPress() {
  // A batch job or scheduled task has no key to give: go on at once.
  if (!HasConsoleInput()) return;
  _getch();
}
