// Keeps a registry key tree as it was before a test and puts it back when
// the test ends, so tests may register and delete keys freely (the stand-in
// host's own registration of "Excel.Application" included).
#pragma once

#include <windows.h>

#include <memory>
#include <string>

namespace ulvex_test {

class RegistryBackup {
 public:
  /// Copies root\path (with everything under it) into memory.
  RegistryBackup(HKEY root, const std::wstring& path);
  /// Deletes root\path and recreates the copy, if there was one.
  ~RegistryBackup();
  RegistryBackup(const RegistryBackup&) = delete;
  RegistryBackup& operator=(const RegistryBackup&) = delete;

  struct Tree;

 private:
  HKEY root_;
  std::wstring path_;
  std::unique_ptr<Tree> saved_;  // null when the key did not exist
};

/// True when root\path can be opened.
bool RegistryKeyExists(HKEY root, const std::wstring& path);
/// Creates root\path (and its parents); true when it exists afterwards.
bool CreateRegistryKey(HKEY root, const std::wstring& path);
/// Deletes root\path with everything under it; true when it is gone.
bool DeleteRegistryTree(HKEY root, const std::wstring& path);
/// Writes a value of any type with exactly these bytes (null name: the
/// default value).
bool WriteRegistryValue(HKEY root, const std::wstring& path,
                        const wchar_t* name, DWORD type, const void* data,
                        DWORD byteCount);

/// A REG_DWORD value, or nothing when it is missing or of another type.
struct DwordValue {
  bool found = false;
  DWORD value = 0;
};
DwordValue ReadRegistryDword(HKEY root, const std::wstring& path,
                             const wchar_t* name);

}  // namespace ulvex_test
