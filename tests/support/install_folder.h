// A throw-away install folder for one system test: a copy of the program,
// and whatever files the test lays beside it. Removed when destroyed.
#pragma once

#include <string>

namespace ulvex_test {

class InstallFolder {
 public:
  /// Creates a new empty folder under the test program's folder; name
  /// becomes part of the folder's name (keep it short, no separators).
  explicit InstallFolder(const std::wstring& name);
  ~InstallFolder();
  InstallFolder(const InstallFolder&) = delete;
  InstallFolder& operator=(const InstallFolder&) = delete;

  /// The folder's full path, without a trailing separator.
  const std::wstring& path() const { return path_; }

  /// Copies UlvexCmdLine.exe from the build into the folder.
  bool AddProgram();
  /// Copies UlvexCheck.exe from the build into the folder.
  bool AddCheck();
  /// Copies the version fixture (file version 2.3.7.0) as Ulvex_32.exe.
  bool AddProductExe();
  /// Writes a file (relative path, folders created) with the given bytes.
  bool WriteFile(const std::wstring& relativePath, const std::string& bytes);
  /// Full path of a file in the folder.
  std::wstring File(const std::wstring& relativePath) const;
  /// The quoted program path in this folder, for a command line.
  std::wstring QuotedProgram() const;
  /// The quoted path of UlvexCheck.exe in this folder.
  std::wstring QuotedCheck() const;

 private:
  std::wstring path_;
};

/// A copy of a program of the build in "UlvexTest" under the native
/// program folder (%ProgramW6432%, which a 64-bit process names
/// %ProgramFiles%), as a 64-bit host is installed; removed when destroyed.
class NativeProgramCopy {
 public:
  explicit NativeProgramCopy(const wchar_t* program);
  ~NativeProgramCopy();
  NativeProgramCopy(const NativeProgramCopy&) = delete;
  NativeProgramCopy& operator=(const NativeProgramCopy&) = delete;

  /// The copy's full path; empty when there is no native program folder
  /// (32-bit Windows) or the copy failed.
  const std::wstring& path() const { return path_; }

 private:
  std::wstring folder_;
  std::wstring path_;
};

/// Deletes a folder tree, clearing read-only attributes on the way.
void RemoveTree(const std::wstring& path);

/// Attributes of a file, or INVALID_FILE_ATTRIBUTES.
unsigned long FileAttributes(const std::wstring& path);

}  // namespace ulvex_test
