#include "tests/support/registry_backup.h"

#include <vector>

namespace ulvex_test {

struct RegistryBackup::Tree {
  struct Value {
    std::wstring name;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
  };
  std::vector<Value> values;
  std::vector<std::pair<std::wstring, Tree>> keys;
};

namespace {

// Name buffers: registry key names are at most 255 characters, value
// names at most 16,383.
constexpr DWORD kKeyNameChars = 256;
constexpr DWORD kValueNameChars = 16384;

void SaveTree(HKEY key, RegistryBackup::Tree& tree) {
  std::vector<wchar_t> name(kValueNameChars);
  for (DWORD index = 0;; ++index) {
    DWORD nameChars = kValueNameChars, type = 0, bytes = 0;
    if (RegEnumValueW(key, index, name.data(), &nameChars, nullptr, &type,
                      nullptr, &bytes) != ERROR_SUCCESS)
      break;
    RegistryBackup::Tree::Value value;
    value.name.assign(name.data(), nameChars);
    value.type = type;
    value.data.resize(bytes);
    nameChars = kValueNameChars;
    if (RegEnumValueW(key, index, name.data(), &nameChars, nullptr, &type,
                      value.data.data(), &bytes) != ERROR_SUCCESS)
      continue;
    value.data.resize(bytes);
    tree.values.push_back(std::move(value));
  }
  for (DWORD index = 0;; ++index) {
    wchar_t keyName[kKeyNameChars];
    DWORD nameChars = kKeyNameChars;
    if (RegEnumKeyExW(key, index, keyName, &nameChars, nullptr, nullptr,
                      nullptr, nullptr) != ERROR_SUCCESS)
      break;
    HKEY child = nullptr;
    if (RegOpenKeyExW(key, keyName, 0, KEY_READ, &child) != ERROR_SUCCESS)
      continue;
    tree.keys.emplace_back(std::wstring(keyName, nameChars),
                           RegistryBackup::Tree());
    SaveTree(child, tree.keys.back().second);
    RegCloseKey(child);
  }
}

void RestoreTree(HKEY key, const RegistryBackup::Tree& tree) {
  for (const auto& value : tree.values)
    RegSetValueExW(key, value.name.empty() ? nullptr : value.name.c_str(), 0,
                   value.type, value.data.empty() ? nullptr : value.data.data(),
                   static_cast<DWORD>(value.data.size()));
  for (const auto& subkey : tree.keys) {
    HKEY child = nullptr;
    if (RegCreateKeyExW(key, subkey.first.c_str(), 0, nullptr, 0,
                        KEY_ALL_ACCESS, nullptr, &child,
                        nullptr) != ERROR_SUCCESS)
      continue;
    RestoreTree(child, subkey.second);
    RegCloseKey(child);
  }
}

}  // namespace

RegistryBackup::RegistryBackup(HKEY root, const std::wstring& path)
    : root_(root), path_(path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
    return;
  saved_ = std::make_unique<Tree>();
  SaveTree(key, *saved_);
  RegCloseKey(key);
}

RegistryBackup::~RegistryBackup() {
  DeleteRegistryTree(root_, path_);
  if (!saved_) return;
  HKEY key = nullptr;
  if (RegCreateKeyExW(root_, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                      nullptr, &key, nullptr) != ERROR_SUCCESS)
    return;
  RestoreTree(key, *saved_);
  RegCloseKey(key);
}

bool RegistryKeyExists(HKEY root, const std::wstring& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
    return false;
  RegCloseKey(key);
  return true;
}

bool CreateRegistryKey(HKEY root, const std::wstring& path) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                      nullptr, &key, nullptr) != ERROR_SUCCESS)
    return false;
  RegCloseKey(key);
  return true;
}

bool DeleteRegistryTree(HKEY root, const std::wstring& path) {
  RegDeleteTreeW(root, path.c_str());
  RegDeleteKeyW(root, path.c_str());
  return !RegistryKeyExists(root, path);
}

bool WriteRegistryValue(HKEY root, const std::wstring& path,
                        const wchar_t* name, DWORD type, const void* data,
                        DWORD byteCount) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                      nullptr, &key, nullptr) != ERROR_SUCCESS)
    return false;
  const LSTATUS status = RegSetValueExW(
      key, name, 0, type, static_cast<const BYTE*>(data), byteCount);
  RegCloseKey(key);
  return status == ERROR_SUCCESS;
}

DwordValue ReadRegistryDword(HKEY root, const std::wstring& path,
                             const wchar_t* name) {
  DwordValue result;
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
    return result;
  DWORD type = 0, value = 0, bytes = sizeof value;
  const LSTATUS status = RegQueryValueExW(
      key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &bytes);
  RegCloseKey(key);
  if (status == ERROR_SUCCESS && type == REG_DWORD && bytes == sizeof value) {
    result.found = true;
    result.value = value;
  }
  return result;
}

}  // namespace ulvex_test
