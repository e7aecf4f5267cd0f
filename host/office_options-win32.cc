#include <windows.h>

#include <cstdio>
#include <string>

#include "host/excel_version.h"
#include "host/excel_version_text.h"
#include "host/office_options.h"
#include "host/office_options_text.h"
#include "platform/win_resource.h"

namespace {

// Opens an existing key for writing values only; Office's keys are never
// created here.
bool OpenForSetting(const std::wstring& path, ulvex::UniqueHkey& key) {
  return RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_SET_VALUE,
                       key.put()) == ERROR_SUCCESS;
}

// Sets name to REG_DWORD 0 and closes the key, whatever the outcome.
bool SetZeroAndClose(ulvex::UniqueHkey& key, const wchar_t* name) {
  const DWORD zero = 0;
  const LSTATUS status =
      RegSetValueExW(key.get(), name, 0, REG_DWORD,
                     reinterpret_cast<const BYTE*>(&zero), sizeof zero);
  key.reset();
  return status == ERROR_SUCCESS;
}

}  // namespace

bool SetOfficeOptions() {
  const std::wstring version = GetExcelVersion();
  if (!SetsOfficeOptions(_wtoi(version.c_str()))) return true;

  ulvex::UniqueHkey general;
  if (!OpenForSetting(OfficeGeneralKeyPath(version), general)) return false;
  if (!SetZeroAndClose(general, L"ReportAddinCustomUIErrors")) return false;

  ulvex::UniqueHkey toolbar;
  if (!OpenForSetting(OfficeToolbarKeyPath(version), toolbar)) {
    printf("Could not open Quick access toolbar Registry entry\n");
    return false;
  }
  if (!SetZeroAndClose(toolbar, L"QuickAccessToolbarStyle")) {
    printf("Could not set Quick access toolbar Registry entry\n");
    return false;
  }
  return true;
}
