#include "platform/install_paths.h"

namespace {

// Both separators count: the platform reports "\", but a path handed over
// by a script or another tool may use "/".
constexpr wchar_t kSeparators[] = L"\\/";

}  // namespace

std::wstring GetFolderPart(const std::wstring& path) {
  const size_t cut = path.find_last_of(kSeparators);
  return cut == std::wstring::npos ? std::wstring() : path.substr(0, cut);
}

std::wstring CutInstallFolder(const std::wstring& modulePath) {
  const size_t cut = modulePath.find_last_of(kSeparators);
  return cut == std::wstring::npos ? modulePath : modulePath.substr(0, cut);
}
