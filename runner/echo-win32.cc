#include <string>

#include "platform/console.h"
#include "runner/echo.h"
#include "runner/line_end.h"

void EchoOptions(const option::ParsedOption* records, int32_t storedCount,
                 int32_t restCount, const char* const* restElements) {
  const std::string echo =
      FormatEcho(records, storedCount, restCount, restElements, LineEnd);
  // The switches' values are UTF-8, as the command line was split.
  WriteUtf8Text(echo.data(), echo.size());
}
