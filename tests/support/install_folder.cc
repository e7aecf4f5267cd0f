#include "tests/support/install_folder.h"

#include <windows.h>

#include "tests/support/run_program.h"

namespace ulvex_test {

namespace {

bool CreateFolders(const std::wstring& path) {
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == L'\\' || path[i] == L'/') {
      const std::wstring part = path.substr(0, i);
      if (part.empty() || (part.size() == 2 && part[1] == L':')) continue;
      if (!CreateDirectoryW(part.c_str(), nullptr) &&
          GetLastError() != ERROR_ALREADY_EXISTS)
        return false;
    }
  }
  return true;
}

}  // namespace

InstallFolder::InstallFolder(const std::wstring& name) {
  static unsigned counter = 0;
  path_ = BinFolder() + L"\\inst-" + name + L"-" +
          std::to_wstring(GetCurrentProcessId()) + L"-" +
          std::to_wstring(++counter);
  RemoveTree(path_);
  CreateFolders(path_);
}

InstallFolder::~InstallFolder() { RemoveTree(path_); }

NativeProgramCopy::NativeProgramCopy(const wchar_t* program) {
  wchar_t native[MAX_PATH] = {};
  const DWORD length =
      GetEnvironmentVariableW(L"ProgramW6432", native, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  folder_ = std::wstring(native) + L"\\UlvexTest";
  RemoveTree(folder_);
  const std::wstring copy = folder_ + L"\\" + program;
  if (CreateFolders(folder_) &&
      CopyFileW((BinFolder() + L"\\" + program).c_str(), copy.c_str(), FALSE))
    path_ = copy;
}

NativeProgramCopy::~NativeProgramCopy() {
  if (!folder_.empty()) RemoveTree(folder_);
}

bool InstallFolder::AddProgram() {
  return CopyFileW((BinFolder() + L"\\UlvexCmdLine.exe").c_str(),
                   File(L"UlvexCmdLine.exe").c_str(), FALSE) != 0;
}

bool InstallFolder::AddCheck() {
  return CopyFileW((BinFolder() + L"\\UlvexCheck.exe").c_str(),
                   File(L"UlvexCheck.exe").c_str(), FALSE) != 0;
}

bool InstallFolder::AddProductExe() {
  return CopyFileW((BinFolder() + L"\\VersionFixture.exe").c_str(),
                   File(L"Ulvex_32.exe").c_str(), FALSE) != 0;
}

bool InstallFolder::WriteFile(const std::wstring& relativePath,
                              const std::string& bytes) {
  const std::wstring full = File(relativePath);
  const size_t cut = full.find_last_of(L"\\/");
  if (cut != std::wstring::npos && !CreateFolders(full.substr(0, cut)))
    return false;
  SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
  HANDLE file = CreateFileW(full.c_str(), GENERIC_WRITE, 0, nullptr,
                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const BOOL ok = ::WriteFile(
      file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
  return ok && written == bytes.size();
}

std::wstring InstallFolder::File(const std::wstring& relativePath) const {
  return path_ + L"\\" + relativePath;
}

std::wstring InstallFolder::QuotedProgram() const {
  return L"\"" + File(L"UlvexCmdLine.exe") + L"\"";
}

std::wstring InstallFolder::QuotedCheck() const {
  return L"\"" + File(L"UlvexCheck.exe") + L"\"";
}

void RemoveTree(const std::wstring& path) {
  WIN32_FIND_DATAW entry;
  HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &entry);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = entry.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring child = path + L"\\" + name;
      SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        RemoveTree(child);
      else
        DeleteFileW(child.c_str());
    } while (FindNextFileW(find, &entry));
    FindClose(find);
  }
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  RemoveDirectoryW(path.c_str());
}

unsigned long FileAttributes(const std::wstring& path) {
  return GetFileAttributesW(path.c_str());
}

}  // namespace ulvex_test
