#include <windows.h>

#include <string>

#include "check/install_files.h"
#include "platform/install_paths.h"
#include "platform/win_resource.h"

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

// The most of a Zone.Identifier stream that is read: it holds a few short
// lines.
constexpr DWORD kMaxZoneBytes = 4096;

}  // namespace

int ReadZoneId(const std::wstring& streamPath) {
  ulvex::UniqueFileHandle stream(
      CreateFileW(streamPath.c_str(), GENERIC_READ,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!stream) return 0;
  std::string bytes(kMaxZoneBytes, '\0');
  DWORD got = 0;
  if (!ReadFile(stream.get(), &bytes[0], kMaxZoneBytes, &got, nullptr))
    return 0;
  bytes.resize(got);
  // Written as UTF-16 by some tools: its ASCII is every other byte.
  if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE') {
    std::string narrow;
    for (size_t i = 2; i < bytes.size(); i += 2) narrow += bytes[i];
    bytes = narrow;
  }
  return ParseZoneId(bytes);
}

InstallFacts ReadInstallFacts() {
  InstallFacts facts;
  facts.folder = GetInstallFolder();
  facts.programError = FileError(facts.folder + L"\\UlvexCmdLine.exe");
  facts.product = ReadProductVersion(GetProductExePath());
  facts.workbookError = ReadError(GetAddinWorkbookPath());
  // NOTE: the mark of the web is an alternate data stream of the file; a
  // file system without streams (FAT, and Wine) never has one.
  facts.zoneId = ReadZoneId(GetAddinWorkbookPath() + L":Zone.Identifier");
  return facts;
}
