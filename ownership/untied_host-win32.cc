#include <windows.h>
// Needs <windows.h> first.
#include <tlhelp32.h>

#include <vector>

#include "ownership/host_identity.h"
#include "ownership/host_job.h"
#include "ownership/untied_host.h"
#include "platform/win_resource.h"

namespace {

ULONGLONG Ticks(const FILETIME& time) {
  return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) |
         time.dwLowDateTime;
}

// The process opened to be ended, when it is the registered host created
// at or after since; null otherwise.
HANDLE OpenIfStartedHost(DWORD processId, ULONGLONG since) {
  ulvex::UniqueHandle process(
      OpenProcess(kHostProcessAccess, FALSE, processId));
  if (!process) return nullptr;
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(process.get(), &created, &exited, &kernel, &user) ||
      Ticks(created) < since)
    return nullptr;
  HostCheckDetail detail;
  if (CheckHostProcess(process.get(), detail) != HostCheck::Host)
    return nullptr;
  return process.release();
}

}  // namespace

UntiedHostEnding EndUntiedHost(const FILETIME& since, DWORD waitMs) {
  UntiedHostEnding ending;
  // NOTE: CreateToolhelp32Snapshot fails with INVALID_HANDLE_VALUE.
  ulvex::UniqueFileHandle snapshot(
      CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return ending;
  std::vector<ulvex::UniqueHandle> found;
  std::vector<DWORD> ids;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
       more = Process32NextW(snapshot.get(), &entry)) {
    if (entry.th32ProcessID == GetCurrentProcessId()) continue;
    const HANDLE process = OpenIfStartedHost(entry.th32ProcessID, Ticks(since));
    if (process == nullptr) continue;
    found.emplace_back(process);
    ids.push_back(entry.th32ProcessID);
  }
  if (found.empty()) return ending;
  if (found.size() > 1) {
    ending.outcome = UntiedHostEnding::Several;
    return ending;
  }
  ending.processId = ids[0];
  if (!TerminateProcess(found[0].get(), 1)) {
    ending.outcome = UntiedHostEnding::NotEnded;
    ending.error = GetLastError();
    return ending;
  }
  WaitForSingleObject(found[0].get(), waitMs);
  ending.outcome = UntiedHostEnding::Ended;
  return ending;
}
