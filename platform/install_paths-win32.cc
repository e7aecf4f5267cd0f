#include <windows.h>

#include <string>
#include <vector>

#include "platform/install_paths.h"

namespace {

// The buffer of the module path query, in characters.
constexpr DWORD kModulePathCapacity = 260;
// The longest path the platform can name at all (an extended-length path):
// a module path always fits here.
constexpr DWORD kLongestPathCapacity = 32768;

// The program's own file path, or "" when the platform cannot give it.
std::wstring GetModulePath() {
  wchar_t path[kModulePathCapacity];
  const DWORD length = GetModuleFileNameW(nullptr, path, kModulePathCapacity);
  if (length > 0 && length < kModulePathCapacity) return {path, length};
  if (length == 0) return {};
  // NOTE: a path that does not fit comes back cut off, with the buffer's
  // size as its length (not NUL-terminated on older systems). Cut at its
  // last separator it would name some other folder, so ask again with room
  // for the longest possible path.
  std::vector<wchar_t> longPath(kLongestPathCapacity);
  const DWORD longLength =
      GetModuleFileNameW(nullptr, longPath.data(), kLongestPathCapacity);
  if (longLength == 0 || longLength >= kLongestPathCapacity) return {};
  return {longPath.data(), longLength};
}

// The install folder followed by name; "" when the folder is unknown, so
// that the path names no file rather than one under the drive's root.
std::wstring InInstallFolder(const wchar_t* name) {
  const std::wstring folder = GetInstallFolder();
  return folder.empty() ? std::wstring() : folder + name;
}

}  // namespace

std::wstring GetInstallFolder() { return CutInstallFolder(GetModulePath()); }

std::wstring GetProductExePath() { return InInstallFolder(L"\\Ulvex_32.exe"); }

std::wstring GetAddinWorkbookPath() { return InInstallFolder(L"\\App\\Ulvex"); }

std::wstring GetWorkingFilePath() {
  return InInstallFolder(L"\\StackTrace.txt");
}
