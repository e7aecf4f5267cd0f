#include "ownership/registry_text.h"

bool RegistryTextFromData(const unsigned char* data, size_t byteCount,
                          std::wstring& text) {
  text.clear();
  // NOTE: COM reads a class's values as whole UTF-16 code units: a stray
  // byte after the last one is no part of the text and is left unread.
  const size_t unitBytes = byteCount - byteCount % 2;
  if (data == nullptr) return byteCount == 0;
  for (size_t at = 0; at < unitBytes; at += 2) {
    const unsigned unit = data[at] | (unsigned{data[at + 1]} << 8);
    if (unit == 0) break;
    text.push_back(static_cast<wchar_t>(unit));
  }
  return true;
}
