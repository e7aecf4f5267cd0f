#include "ownership/registry_text.h"

bool RegistryTextFromData(const unsigned char* data, size_t byteCount,
                          std::wstring& text) {
  text.clear();
  if (byteCount % 2 != 0) return false;
  if (data == nullptr) return byteCount == 0;
  for (size_t at = 0; at < byteCount; at += 2) {
    const unsigned unit = data[at] | (unsigned{data[at + 1]} << 8);
    if (unit == 0) break;
    text.push_back(static_cast<wchar_t>(unit));
  }
  return true;
}
