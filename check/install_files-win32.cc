#include <windows.h>

#include "check/install_files.h"
#include "platform/install_paths.h"

namespace {

// 0 when path names a file, otherwise why not.
DWORD FileError(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return GetLastError();
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? ERROR_FILE_NOT_FOUND
                                                      : 0;
}

// 0 when path can be opened for reading as the host opens a workbook
// (any other opener may share it); nothing is read or changed.
DWORD ReadError(const std::wstring& path) {
  const HANDLE file =
      CreateFileW(path.c_str(), GENERIC_READ,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return GetLastError();
  CloseHandle(file);
  return 0;
}

}  // namespace

InstallFacts ReadInstallFacts() {
  InstallFacts facts;
  facts.folder = GetInstallFolder();
  facts.programError = FileError(facts.folder + L"\\UlvexCmdLine.exe");
  facts.product = ReadProductVersion(GetProductExePath());
  facts.workbookError = ReadError(GetAddinWorkbookPath());
  return facts;
}
