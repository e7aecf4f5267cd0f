#include <windows.h>

#include "runner/run_lock.h"
// Needs <windows.h> first.
#include <aclapi.h>
#include <sddl.h>

#include <cstdio>
#include <string>

#include "platform/console.h"
#include "platform/win_resource.h"
#include "runner/interrupt.h"
#include "runner/line_end.h"

namespace {

// The local system's SID, which may own any object.
constexpr wchar_t kSystemSid[] = L"S-1-5-18";

// The current user's SID as text; false (with the error) when it cannot be
// had.
bool UserSid(std::wstring& sid, DWORD& error) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
    error = GetLastError();
    return false;
  }
  union {
    TOKEN_USER user;
    BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  } buffer;
  DWORD size = 0;
  wchar_t* text = nullptr;
  if (GetTokenInformation(token, TokenUser, &buffer, sizeof buffer, &size) &&
      ConvertSidToStringSidW(buffer.user.User.Sid, &text)) {
    sid = text;
    LocalFree(text);
  } else {
    error = GetLastError();
  }
  CloseHandle(token);
  return !sid.empty();
}

// The owner of object as text; false (with the error) when it cannot be
// read. An object without an owner gives "".
bool OwnerSid(HANDLE object, std::wstring& owner, DWORD& error) {
  PSID ownerSid = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  error = GetSecurityInfo(object, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION,
                          &ownerSid, nullptr, nullptr, nullptr, &descriptor);
  if (error != ERROR_SUCCESS) return false;
  wchar_t* text = nullptr;
  if (ownerSid != nullptr && ConvertSidToStringSidW(ownerSid, &text)) {
    owner = text;
    LocalFree(text);
  }
  LocalFree(descriptor);
  return true;
}

// Why a run has no lock, or none.
enum class LockFault { None, NotCreated, OwnerUnknown, ForeignOwner };

// A mutex named for the user in the global namespace, so that runs in
// other sessions (a scheduled task next to a logged-on user) see it too.
// Owned by the user, and only the user and the system may open it.
// NOTE: CreateMutexW ignores the security descriptor when the name already
// exists, so any account could have made the object first and hold it to
// block the user's runs: an existing object counts only when the user or
// the system owns it. The owner is named in the descriptor, so that an
// elevated run, whose objects the administrators' group would otherwise
// own, makes the same object as a run that is not elevated.
HANDLE OpenUserMutex(LockFault& fault, DWORD& error) {
  std::wstring sid;
  if (!UserSid(sid, error)) {
    fault = LockFault::NotCreated;
    return nullptr;
  }
  const std::wstring name = L"Global\\UlvexCmdLine-Run-" + sid;
  const std::wstring access =
      L"O:" + sid + L"D:P(A;;GA;;;" + sid + L")(A;;GA;;;SY)";
  SECURITY_ATTRIBUTES attributes{sizeof attributes, nullptr, FALSE};
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
          access.c_str(), SDDL_REVISION_1, &attributes.lpSecurityDescriptor,
          nullptr)) {
    error = GetLastError();
    fault = LockFault::NotCreated;
    return nullptr;
  }
  ulvex::UniqueHandle mutex(CreateMutexW(&attributes, FALSE, name.c_str()));
  error = GetLastError();
  LocalFree(attributes.lpSecurityDescriptor);
  if (!mutex) {
    fault = LockFault::NotCreated;
    return nullptr;
  }
  if (error != ERROR_ALREADY_EXISTS) return mutex.release();

  std::wstring owner;
  if (!OwnerSid(mutex.get(), owner, error)) {
    fault = LockFault::OwnerUnknown;
    return nullptr;
  }
  if (owner != sid && owner != kSystemSid) {
    fault = LockFault::ForeignOwner;
    return nullptr;
  }
  return mutex.release();
}

// Says that the run goes on without the lock, and why.
void ReportNoLock(LockFault fault, DWORD error) {
  const unsigned long code = error;
  switch (fault) {
    case LockFault::ForeignOwner:
      printf(
          "The run lock of this user belongs to another account; this run "
          "goes on without it.%s",
          LineEnd);
      break;
    case LockFault::OwnerUnknown:
      printf(
          "The owner of the run lock could not be checked (error %lu); this "
          "run goes on without it.%s",
          code, LineEnd);
      break;
    default:
      printf(
          "The run lock could not be created (error %lu); this run goes on "
          "without it.%s",
          code, LineEnd);
      break;
  }
  FlushOutput();
}

}  // namespace

RunLock::~RunLock() {
  if (held_) ReleaseMutex(mutex_);
  if (mutex_ != nullptr) CloseHandle(mutex_);
}

LockOutcome RunLock::Acquire() {
  LockFault fault = LockFault::None;
  DWORD error = 0;
  mutex_ = OpenUserMutex(fault, error);
  if (mutex_ == nullptr) {
    ReportNoLock(fault, error);
    return LockOutcome::Held;  // run without a lock
  }

  DWORD taken = WaitForSingleObject(mutex_, 0);
  if (taken == WAIT_TIMEOUT) {
    printf(
        "Another Ulvex Task of this user is running; waiting for it to "
        "end.%s",
        LineEnd);
    FlushOutput();
    const HANDLE interrupt = InterruptEvent();
    const HANDLE handles[] = {mutex_, interrupt};
    taken = WaitForMultipleObjects(interrupt != nullptr ? 2 : 1, handles, FALSE,
                                   INFINITE);
    if (taken == WAIT_OBJECT_0 + 1) return LockOutcome::Interrupted;
  }
  // WAIT_ABANDONED: the run that held it was killed; the lock is ours now.
  held_ = taken == WAIT_OBJECT_0 || taken == WAIT_ABANDONED;
  if (!held_) {
    printf(
        "The run lock could not be taken (error %lu); this run goes on "
        "without it.%s",
        static_cast<unsigned long>(GetLastError()), LineEnd);
    FlushOutput();
  }
  return LockOutcome::Held;
}
