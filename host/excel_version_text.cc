#include "host/excel_version_text.h"

namespace {

constexpr int kFileValidationAbove = 12;
constexpr int kOfficeOptionsFrom = 12;

}  // namespace

std::wstring StringValueText(const wchar_t* data, size_t byteCount) {
  const size_t chars = byteCount / sizeof(wchar_t);
  size_t length = 0;
  while (length < chars && data[length] != L'\0') ++length;
  return std::wstring(data, length);
}

std::wstring VersionAfterLastDot(const std::wstring& curVer) {
  const size_t dot = curVer.rfind(L'.');
  return dot == std::wstring::npos ? curVer : curVer.substr(dot + 1);
}

bool SetsFileValidation(int versionNumber) {
  return versionNumber > kFileValidationAbove;
}

bool SetsOfficeOptions(int versionNumber) {
  return versionNumber >= kOfficeOptionsFrom;
}
