#include "host/office_options_text.h"

namespace {

// The version text is inserted unchanged; the trailing backslash is part
// of the path as Office's own settings name it.
std::wstring OfficeKeyPath(const std::wstring& version, const wchar_t* tail) {
  return L"Software\\Microsoft\\Office\\" + version + L".0\\Common\\" + tail;
}

}  // namespace

std::wstring OfficeGeneralKeyPath(const std::wstring& version) {
  return OfficeKeyPath(version, L"General\\");
}

std::wstring OfficeToolbarKeyPath(const std::wstring& version) {
  return OfficeKeyPath(version, L"Toolbars\\Excel\\");
}
