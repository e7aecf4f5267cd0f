#include <windows.h>

#include <string>

#include "platform/time_limit.h"

TimeLimit ReadTimeLimit() {
  constexpr wchar_t kVariable[] = L"ULVEX_TIME_LIMIT";
  TimeLimit limit;
  SetLastError(ERROR_SUCCESS);
  const DWORD needed = GetEnvironmentVariableW(kVariable, nullptr, 0);
  if (needed == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND) return limit;
  limit.setting = TimeLimitSetting::Invalid;
  if (needed > 0) {
    std::wstring value(needed, L'\0');
    const DWORD got = GetEnvironmentVariableW(kVariable, &value[0], needed);
    value.resize(got < needed ? got : 0);
    limit.text = value;
  }
  unsigned long seconds = 0;
  if (limit.text.size() <= kMaxTimeLimitChars &&
      ParseTimeLimit(limit.text.c_str(), seconds)) {
    limit.setting = TimeLimitSetting::Valid;
    limit.seconds = seconds;
  }
  return limit;
}
