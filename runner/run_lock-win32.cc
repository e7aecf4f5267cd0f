#include "runner/run_lock.h"

#include <windows.h>
// Needs <windows.h> first.
#include <sddl.h>

#include <cstdio>
#include <string>

#include "platform/console.h"
#include "runner/interrupt.h"
#include "runner/line_end.h"

namespace {

// The current user's SID as text, or "" when it cannot be had.
std::wstring UserSid() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
  std::wstring sid;
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
  }
  CloseHandle(token);
  return sid;
}

// A mutex named for the user in the global namespace, so that runs in
// other sessions (a scheduled task next to a logged-on user) see it too.
// Only the user and the system may open it, so that nobody else can hold
// it to block the user's runs.
HANDLE OpenUserMutex() {
  const std::wstring sid = UserSid();
  if (sid.empty()) return nullptr;
  const std::wstring name = L"Global\\UlvexCmdLine-Run-" + sid;
  const std::wstring access = L"D:P(A;;GA;;;" + sid + L")(A;;GA;;;SY)";
  SECURITY_ATTRIBUTES attributes{sizeof attributes, nullptr, FALSE};
  ConvertStringSecurityDescriptorToSecurityDescriptorW(
      access.c_str(), SDDL_REVISION_1, &attributes.lpSecurityDescriptor,
      nullptr);
  HANDLE mutex = CreateMutexW(
      attributes.lpSecurityDescriptor != nullptr ? &attributes : nullptr, FALSE,
      name.c_str());
  if (attributes.lpSecurityDescriptor != nullptr)
    LocalFree(attributes.lpSecurityDescriptor);
  return mutex;
}

}  // namespace

RunLock::~RunLock() {
  if (held_) ReleaseMutex(mutex_);
  if (mutex_ != nullptr) CloseHandle(mutex_);
}

LockOutcome RunLock::Acquire() {
  mutex_ = OpenUserMutex();
  if (mutex_ == nullptr) return LockOutcome::Held;  // run without a lock

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
  return LockOutcome::Held;
}
