#include <windows.h>

#include "host/excel_version.h"
#include "host/excel_version_text.h"
#include "platform/win_resource.h"

const wchar_t kExcelVersionSource[] =
    L"HKEY_CLASSES_ROOT\\Excel.Application\\CurVer";

std::wstring GetExcelVersion() {
  ulvex::UniqueHkey application;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, L"Excel.Application", 0, KEY_READ,
                    application.put()) != ERROR_SUCCESS)
    return {};
  ulvex::UniqueHkey curVer;
  if (RegOpenKeyExW(application.get(), L"CurVer", 0, KEY_READ, curVer.put()) !=
      ERROR_SUCCESS)
    return {};

  wchar_t buffer[kCurVerBufferChars] = {};
  DWORD byteCount = kCurVerReadBytes;
  const LSTATUS status =
      RegQueryValueExW(curVer.get(), nullptr, nullptr, nullptr,
                       reinterpret_cast<BYTE*>(buffer), &byteCount);
  curVer.reset();
  application.reset();
  if (status != ERROR_SUCCESS) return {};
  // A value stored without its terminator ends at the bytes read, which lie
  // well inside the buffer.
  if (byteCount > kCurVerReadBytes) byteCount = kCurVerReadBytes;
  return VersionAfterLastDot(StringValueText(buffer, byteCount));
}
