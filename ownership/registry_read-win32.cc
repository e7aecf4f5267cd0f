#include <vector>

#include "ownership/registry_read.h"
#include "ownership/registry_text.h"

namespace {

bool IsText(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ; }

}  // namespace

LSTATUS ReadRegistryText(HKEY key, const wchar_t* name, DWORD maxChars,
                         std::wstring& text, DWORD& type) {
  text.clear();
  type = REG_NONE;
  DWORD size = 0;
  LSTATUS status = RegQueryValueExW(key, name, nullptr, &type, nullptr, &size);
  if (status != ERROR_SUCCESS) return status;
  if (!IsText(type) || size > maxChars * sizeof(wchar_t))
    return ERROR_INVALID_DATA;
  // NOTE: the value may be rewritten between the two queries; a larger one
  // gives ERROR_MORE_DATA, a shorter one a smaller size, and the type is
  // looked at again.
  std::vector<unsigned char> data(size);
  DWORD got = size;
  status = RegQueryValueExW(key, name, nullptr, &type,
                            data.empty() ? nullptr : data.data(), &got);
  if (status != ERROR_SUCCESS) return status;
  if (!IsText(type) || got > size ||
      !RegistryTextFromData(data.data(), got, text))
    return ERROR_INVALID_DATA;
  return ERROR_SUCCESS;
}
