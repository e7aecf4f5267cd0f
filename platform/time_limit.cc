#include "platform/time_limit.h"

#include <string>

const char kTimeLimitVariable[] = "ULVEX_TIME_LIMIT";

namespace {

// Returns the unit's length in seconds, or 0 for a character that is none.
unsigned long UnitSeconds(wchar_t unit) {
  switch (unit) {
    case L's':
    case L'S':
      return 1;
    case L'm':
    case L'M':
      return 60;
    case L'h':
    case L'H':
      return 60 * 60;
    default:
      return 0;
  }
}

}  // namespace

bool ParseTimeLimit(const wchar_t* text, unsigned long& seconds) {
  if (text == nullptr) return false;
  unsigned long number = 0;
  const wchar_t* at = text;
  for (; *at >= L'0' && *at <= L'9'; ++at) {
    number = number * 10 + static_cast<unsigned long>(*at - L'0');
    // Checked at each digit, so that no count of digits can overflow.
    if (number > kLongestTimeLimitSeconds) return false;
  }
  if (at == text) return false;  // no digits: empty, a sign, a blank, ...
  unsigned long unit = 60;       // minutes when no unit is given
  if (*at != L'\0') {
    unit = UnitSeconds(*at);
    if (unit == 0 || at[1] != L'\0') return false;
  }
  if (number == 0 || number > kLongestTimeLimitSeconds / unit) return false;
  seconds = number * unit;
  return seconds >= kShortestTimeLimitSeconds;
}

std::wstring InvalidTimeLimitLine(const std::wstring& value) {
  return L"ULVEX_TIME_LIMIT='" + value +
         L"' is not a valid time limit: give a whole number of minutes, or a "
         L"number followed by s, m or h (for example 90, 45s or 2h).";
}

std::string TimeLimitInWords(unsigned long seconds) {
  unsigned long count = seconds;
  const char* unit = "second";
  if (seconds % 3600 == 0) {
    count = seconds / 3600;
    unit = "hour";
  } else if (seconds % 60 == 0) {
    count = seconds / 60;
    unit = "minute";
  }
  return std::to_string(count) + " " + unit + (count == 1 ? "" : "s");
}
