#include "handoff/progress_data.h"

std::wstring ProgressTextFromData(const unsigned char* data, size_t byteCount) {
  std::wstring text;
  if (data == nullptr) return text;
  // The add-in may store data of any type and length: the registry does not
  // promise a terminating NUL or an even byte count.
  const size_t unitCount = byteCount / 2;
  size_t length = 0;
  while (length < unitCount &&
         (data[2 * length] != 0 || data[2 * length + 1] != 0))
    ++length;
  text.reserve(length);
  for (size_t i = 0; i < length; ++i) {
    const unsigned unit = data[2 * i] | (unsigned{data[2 * i + 1]} << 8);
    text.push_back(static_cast<wchar_t>(unit));
  }
  return text;
}
