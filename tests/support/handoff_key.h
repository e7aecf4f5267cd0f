// The hand-off key (HKCU "Software\Quennet\Ulvex") as a test sees it: made
// and removed around a run, its values written the way the add-in writes
// them and read back after the run.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace ulvex_test {

/// "Software\Quennet\Ulvex".
extern const wchar_t kHandoffKey[];

/// Creates the key if it is missing.
bool CreateHandoffKey();
/// Deletes the key with everything under it; true when it is gone.
bool DeleteHandoffKey();
bool HandoffKeyExists();

/// Writes a REG_SZ value, the byte count including the terminating NUL.
bool WriteHandoffValue(const std::wstring& name, const std::wstring& text);
/// Writes a value with exactly these bytes and this type.
bool WriteHandoffData(const std::wstring& name, DWORD type,
                      const std::vector<unsigned char>& data);
bool DeleteHandoffValue(const std::wstring& name);

/// A value's raw data and type as stored; found is false when it is
/// missing.
struct HandoffData {
  bool found = false;
  DWORD type = REG_NONE;
  std::vector<unsigned char> data;
};
HandoffData ReadHandoffData(const std::wstring& name);
/// The value's text up to its first NUL, or "<missing>".
std::wstring ReadHandoffText(const std::wstring& name);

/// Lets everyone only read the key (and be told of its changes): a run can
/// follow it but not write it. false puts back the access it had before.
/// The key's owner may always change its access.
bool SetHandoffKeyReadOnly(bool readOnly);

/// "Progress" as the add-in writes it.
inline bool WriteProgress(const std::wstring& text) {
  return WriteHandoffValue(L"Progress", text);
}

}  // namespace ulvex_test
