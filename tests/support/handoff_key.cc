#include "tests/support/handoff_key.h"

#include <sddl.h>

namespace ulvex_test {

const wchar_t kHandoffKey[] = L"Software\\Quennet\\Ulvex";

namespace {

// The test's own handle on the key, closed on every path.
class OpenKey {
 public:
  explicit OpenKey(REGSAM access) {
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kHandoffKey, 0, access, &key_) !=
        ERROR_SUCCESS)
      key_ = nullptr;
  }
  ~OpenKey() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  OpenKey(const OpenKey&) = delete;
  OpenKey& operator=(const OpenKey&) = delete;
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

}  // namespace

bool CreateHandoffKey() {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, kHandoffKey, 0, nullptr, 0,
                      KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
    return false;
  RegCloseKey(key);
  return true;
}

bool DeleteHandoffKey() {
  const LSTATUS status = RegDeleteTreeW(HKEY_CURRENT_USER, kHandoffKey);
  if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) return false;
  // RegDeleteTree empties the key; removing the key itself is a second step
  // on some systems.
  RegDeleteKeyW(HKEY_CURRENT_USER, kHandoffKey);
  return !HandoffKeyExists();
}

bool HandoffKeyExists() { return OpenKey(KEY_READ).get() != nullptr; }

bool WriteHandoffData(const std::wstring& name, DWORD type,
                      const std::vector<unsigned char>& data) {
  OpenKey key(KEY_SET_VALUE);
  if (key.get() == nullptr) return false;
  return RegSetValueExW(key.get(), name.c_str(), 0, type, data.data(),
                        static_cast<DWORD>(data.size())) == ERROR_SUCCESS;
}

bool WriteHandoffValue(const std::wstring& name, const std::wstring& text) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.c_str());
  return WriteHandoffData(
      name, REG_SZ,
      std::vector<unsigned char>(bytes,
                                 bytes + (text.size() + 1) * sizeof(wchar_t)));
}

bool DeleteHandoffValue(const std::wstring& name) {
  OpenKey key(KEY_SET_VALUE);
  return key.get() != nullptr &&
         RegDeleteValueW(key.get(), name.c_str()) == ERROR_SUCCESS;
}

HandoffData ReadHandoffData(const std::wstring& name) {
  HandoffData value;
  OpenKey key(KEY_QUERY_VALUE);
  if (key.get() == nullptr) return value;
  DWORD size = 0;
  if (RegQueryValueExW(key.get(), name.c_str(), nullptr, &value.type, nullptr,
                       &size) != ERROR_SUCCESS)
    return value;
  value.data.resize(size);
  if (RegQueryValueExW(key.get(), name.c_str(), nullptr, &value.type,
                       value.data.data(), &size) != ERROR_SUCCESS)
    return value;
  value.data.resize(size);
  value.found = true;
  return value;
}

std::wstring ReadHandoffText(const std::wstring& name) {
  const HandoffData value = ReadHandoffData(name);
  if (!value.found) return L"<missing>";
  std::wstring text;
  for (size_t i = 0; i + 1 < value.data.size(); i += 2) {
    const wchar_t unit =
        static_cast<wchar_t>(value.data[i] | (value.data[i + 1] << 8));
    if (unit == L'\0') break;
    text.push_back(unit);
  }
  return text;
}

bool SetHandoffKeyReadOnly(bool readOnly) {
  static std::vector<unsigned char> saved;
  OpenKey key(READ_CONTROL | WRITE_DAC);
  if (key.get() == nullptr) return false;
  if (!readOnly) {
    return !saved.empty() &&
           RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION,
                             saved.data()) == ERROR_SUCCESS;
  }
  DWORD size = 0;
  RegGetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, nullptr, &size);
  saved.assign(size, 0);
  if (size == 0 || RegGetKeySecurity(key.get(), DACL_SECURITY_INFORMATION,
                                     saved.data(), &size) != ERROR_SUCCESS)
    return false;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
          L"D:P(A;;KR;;;WD)", SDDL_REVISION_1, &descriptor, nullptr))
    return false;
  const LSTATUS status =
      RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, descriptor);
  LocalFree(descriptor);
  return status == ERROR_SUCCESS;
}

}  // namespace ulvex_test
