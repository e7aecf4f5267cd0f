#include <windows.h>

#include <cstdio>
#include <cstring>

#include "option/arguments.h"
#include "platform/console.h"

std::vector<std::string> ReadArguments() {
  // NOTE: the C runtime's argv comes from the ANSI command line, which the
  // system makes by best-fit conversion ("／" becomes "/", "Ł" "L"): the
  // switches are read from the line as the caller typed it.
  const wchar_t* line = GetCommandLineW();
  std::u16string units;
  if (line != nullptr)
    for (const wchar_t* at = line; *at != L'\0'; ++at)
      units += static_cast<char16_t>(*at);
  return SplitCommandLine(units);
}

void WriteParseMessage(option::MessageStream stream, const char* text) {
  if (stream == option::MessageStream::Error) {
    WriteUtf8Error(text, strlen(text));
    return;
  }
  WriteUtf8Text(text, strlen(text));
  FlushOutput();
}
