#include <string>

#include "platform/console.h"
#include "runner/echo.h"
#include "runner/line_end.h"

void EchoOptions(const option::ParsedOption* records, int32_t storedCount,
                 int32_t restCount, const char* const* restElements) {
  const std::string echo =
      FormatEcho(records, storedCount, restCount, restElements, LineEnd);
  // The switches' values are ANSI text, as the C runtime gave them.
  WriteAnsiText(echo.data(), echo.size());
}
