#include <windows.h>

#include <cstdio>
#include <string>

#include "handoff/run_lock.h"
#include "platform/console.h"
#include "platform/integrity_label.h"
#include "platform/system_api.h"

namespace {

// The lock file, below the user's local application data folder.
constexpr const wchar_t* kLockFolders[] = {L"\\Quennet",
                                           L"\\Quennet\\UlvexCmdLine"};
constexpr wchar_t kLockFile[] = L"\\Quennet\\UlvexCmdLine\\run.lock";
// How often a waiting run tries the lock again.
constexpr DWORD kRetryMs = 100;

// The Win32 error of a failed HRESULT (the code itself when it is not one).
DWORD ErrorOf(HRESULT status) {
  return HRESULT_FACILITY(status) == FACILITY_WIN32
             ? static_cast<DWORD>(HRESULT_CODE(status))
             : static_cast<DWORD>(status);
}

// The user's own local application data folder (with KF_FLAG_CREATE,
// created with its predefined security when missing). Only the user, the
// system and the administrators may create anything in it, and every
// session of the user (a scheduled task beside the desktop, an elevated
// run) finds the same folder; empty, with the error, when it cannot be had.
std::wstring LocalAppDataFolder(DWORD flags, DWORD& error) {
  PWSTR path = nullptr;
  const HRESULT status = ulvex::System().SHGetKnownFolderPath(
      FOLDERID_LocalAppData, flags, nullptr, &path);
  std::wstring folder;
  if (SUCCEEDED(status) && path != nullptr) folder = path;
  ulvex::System().CoTaskMemFree(path);  // null is allowed
  if (folder.empty())
    error = FAILED(status) ? ErrorOf(status) : ERROR_PATH_NOT_FOUND;
  return folder;
}

// Opens (creating it and its folders when needed) the lock file; an invalid
// handle, with the error, when it cannot be had.
HANDLE OpenLockFile(DWORD& error) {
  const std::wstring folder = LocalAppDataFolder(KF_FLAG_CREATE, error);
  if (folder.empty()) return INVALID_HANDLE_VALUE;
  // The lock's folder and file carry a medium label that forbids reading
  // up: a lower-integrity process of the user could otherwise open the
  // file to read, and hold the lock or the file.
  ulvex::MediumLabel label;
  for (const wchar_t* sub : kLockFolders)
    CreateDirectoryW((folder + sub).c_str(),
                     sub == kLockFolders[1] ? label.attributes() : nullptr);
  ulvex::GiveMediumLabel(folder + kLockFolders[1]);  // made before it was
  // NOTE: every run opens the file shared for reading and writing; only
  // the byte-range lock excludes. A locked range is released by the system
  // when the process that holds it ends, however it ends. Not shared for
  // deleting: a file deleted while locked could be made anew beside it
  // (POSIX delete semantics), and a second run would lock that one.
  const HANDLE file =
      CreateFileW((folder + kLockFile).c_str(), GENERIC_READ | GENERIC_WRITE,
                  FILE_SHARE_READ | FILE_SHARE_WRITE, label.attributes(),
                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    error = GetLastError();
  else
    ulvex::GiveMediumLabel(folder + kLockFile);
  return file;
}

// Tries the lock once: the first byte, exclusive, without waiting. True
// when taken; otherwise error is ERROR_LOCK_VIOLATION while another run
// holds it, or the failure.
bool TryLock(HANDLE file, DWORD& error) {
  OVERLAPPED at{};  // offset 0
  if (LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0,
                 1, 0, &at))
    return true;
  error = GetLastError();
  return false;
}

void PrintNoLock(DWORD error, const char* lineEnd) {
  printf(
      "The run lock of this user could not be taken (error %lu); the run "
      "ends.%s",
      static_cast<unsigned long>(error), lineEnd);
  FlushOutput();
}

}  // namespace

RunLock::~RunLock() {
  if (file_ == INVALID_HANDLE_VALUE) return;
  // NOTE: the system also unlocks at close, but only "when resources
  // allow"; an explicit unlock frees the next run at once.
  if (held_) {
    OVERLAPPED at{};
    UnlockFileEx(file_, 0, 1, 0, &at);
  }
  CloseHandle(file_);
}

LockOutcome RunLock::Acquire(HANDLE interrupt, const char* lineEnd) {
  DWORD error = 0;
  file_ = OpenLockFile(error);
  if (file_ == INVALID_HANDLE_VALUE) {
    PrintNoLock(error, lineEnd);
    return LockOutcome::Unavailable;
  }
  held_ = TryLock(file_, error);
  if (held_) return LockOutcome::Held;
  if (error != ERROR_LOCK_VIOLATION) {
    PrintNoLock(error, lineEnd);
    return LockOutcome::Unavailable;
  }
  printf(
      "Another Ulvex Task of this user is running; waiting for it to "
      "end.%s",
      lineEnd);
  FlushOutput();
  // NOTE: the lock is tried again at short intervals rather than waited
  // for with an overlapped LockFileEx: Wine never completes an overlapped
  // lock that has to wait, so that wait could not be tested.
  for (;;) {
    if (interrupt == nullptr)
      Sleep(kRetryMs);
    else if (WaitForSingleObject(interrupt, kRetryMs) == WAIT_OBJECT_0)
      return LockOutcome::Interrupted;
    held_ = TryLock(file_, error);
    if (held_) return LockOutcome::Held;
    if (error != ERROR_LOCK_VIOLATION) {
      PrintNoLock(error, lineEnd);
      return LockOutcome::Unavailable;
    }
  }
}

namespace {

bool IsMissing(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// The folder that holds path ("" at a root).
std::wstring ParentFolder(const std::wstring& path) {
  const size_t cut = path.find_last_of(L"\\/");
  if (cut == std::wstring::npos || cut < 3) return std::wstring();
  return path.substr(0, cut);
}

// Opens folder for adding a file or a folder to it, as the run will, and
// closes it again; the error when that is refused or it does not exist.
// NOTE: FILE_FLAG_BACKUP_SEMANTICS is what lets CreateFileW open a folder;
// it skips the access check only for a caller that has enabled the backup
// privilege, which a run does not.
DWORD TryAddingTo(const std::wstring& folder, DWORD access) {
  const HANDLE handle =
      CreateFileW(folder.c_str(), access,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return GetLastError();
  CloseHandle(handle);
  return 0;
}

// The lock file or its folders are missing: the nearest existing folder
// must let this account add the rest.
void ProbeMissing(LockProbe& probe) {
  const std::wstring fileFolder = ParentFolder(probe.lockFile);
  for (std::wstring folder = fileFolder; !folder.empty();
       folder = ParentFolder(folder)) {
    const DWORD access =
        folder == fileFolder ? FILE_ADD_FILE : FILE_ADD_SUBDIRECTORY;
    const DWORD error = TryAddingTo(folder, access);
    if (IsMissing(error)) continue;
    probe.folder = folder;
    probe.error = error;
    probe.state =
        error == 0 ? LockState::WillBeCreated : LockState::Unavailable;
    return;
  }
  probe.state = LockState::Unavailable;
  probe.error = ERROR_PATH_NOT_FOUND;
}

}  // namespace

LockProbe ProbeRunLock() {
  LockProbe probe;
  // NOTE: without KF_FLAG_DONT_VERIFY the call fails for a folder that does
  // not exist yet; KF_FLAG_CREATE would create it.
  DWORD error = 0;
  const std::wstring folder = LocalAppDataFolder(KF_FLAG_DONT_VERIFY, error);
  probe.error = error;
  if (folder.empty()) return probe;
  probe.lockFile = folder + kLockFile;
  // Opened as a run opens it, but never created.
  const HANDLE file =
      CreateFileW(probe.lockFile.c_str(), GENERIC_READ | GENERIC_WRITE,
                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    probe.error = GetLastError();
    if (IsMissing(probe.error)) {
      ProbeMissing(probe);
    } else {
      probe.folder = probe.lockFile;
    }
    return probe;
  }
  if (TryLock(file, error)) {
    OVERLAPPED at{};
    UnlockFileEx(file, 0, 1, 0, &at);  // at once: a run may be waiting
    probe.state = LockState::Free;
  } else if (error == ERROR_LOCK_VIOLATION) {
    probe.state = LockState::Held;
  } else {
    probe.error = error;
    probe.folder = probe.lockFile;
  }
  CloseHandle(file);
  return probe;
}
