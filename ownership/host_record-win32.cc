#include <cstdio>
#include <string>
#include <vector>

#include "ownership/host_identity.h"
#include "ownership/host_record.h"
#include "ownership/registry_read.h"
#include "platform/console.h"
#include "platform/win_resource.h"

const wchar_t kHostRecordKey[] = L"Software\\Quennet\\UlvexCmdLine";
const wchar_t kHostProcessIdValue[] = L"HostProcessId";
const wchar_t kHostStartTimeValue[] = L"HostStartTime";
const wchar_t kHostImageValue[] = L"HostImage";

namespace {

// The longest path QueryFullProcessImageNameW can give, with its NUL.
constexpr DWORD kImagePathChars = 32768;
// How long an ended host may take to go: TerminateProcess only starts the
// end, which completes once the process's pending I/O is cancelled.
constexpr DWORD kHostEndWaitMs = 5000;
constexpr UINT kEndedHostExitCode = 1;

struct HostIdentity {
  DWORD processId = 0;
  ULONGLONG startTime = 0;
  std::wstring image;  // empty when it could not be read
};

ULONGLONG CreationTime(HANDLE process, bool& known) {
  FILETIME created, exited, kernel, user;
  known = GetProcessTimes(process, &created, &exited, &kernel, &user) != 0;
  if (!known) return 0;
  return (static_cast<ULONGLONG>(created.dwHighDateTime) << 32) |
         created.dwLowDateTime;
}

// Reads one value of exactly this type and size into data.
bool ReadFixedValue(HKEY key, const wchar_t* name, DWORD wantedType, void* data,
                    DWORD wantedSize) {
  DWORD type = REG_NONE;
  DWORD size = wantedSize;
  return RegQueryValueExW(key, name, nullptr, &type, static_cast<BYTE*>(data),
                          &size) == ERROR_SUCCESS &&
         type == wantedType && size == wantedSize;
}

// The recorded image: absent is allowed (it could not be read when the
// host was recorded); present, it must be a REG_SZ path of sane length.
bool ReadImageValue(HKEY key, std::wstring& image) {
  DWORD type = REG_NONE;
  const LSTATUS status =
      ReadRegistryText(key, kHostImageValue, kImagePathChars, image, type);
  if (status == ERROR_FILE_NOT_FOUND) return true;
  return status == ERROR_SUCCESS && type == REG_SZ && !image.empty();
}

// The recorded host; false when there is no record or its data is not as
// RecordHost writes it.
bool ReadRecord(HostIdentity& recorded, bool& found) {
  ulvex::UniqueHkey key;
  const LSTATUS status = RegOpenKeyExW(HKEY_CURRENT_USER, kHostRecordKey, 0,
                                       KEY_QUERY_VALUE, key.put());
  found = status != ERROR_FILE_NOT_FOUND;
  if (status != ERROR_SUCCESS) return false;
  return ReadFixedValue(key.get(), kHostProcessIdValue, REG_DWORD,
                        &recorded.processId, sizeof recorded.processId) &&
         recorded.processId != 0 &&
         ReadFixedValue(key.get(), kHostStartTimeValue, REG_QWORD,
                        &recorded.startTime, sizeof recorded.startTime) &&
         ReadImageValue(key.get(), recorded.image);
}

// The recorded process, opened to check it and wait for its end, when it
// still runs and is the very process recorded; null otherwise.
HANDLE OpenRecordedHost(const HostIdentity& recorded) {
  // NOTE: while this handle is open the process ID cannot be reused, so
  // the process checked here is the one a second OpenProcess reaches.
  ulvex::UniqueHandle process(
      OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE,
                  recorded.processId));
  // Gone, or not one of this user's processes: not the recorded host.
  if (!process) return nullptr;
  if (WaitForSingleObject(process.get(), 0) != WAIT_TIMEOUT) return nullptr;
  bool known = false;
  const ULONGLONG startTime = CreationTime(process.get(), known);
  if (!known || startTime != recorded.startTime) return nullptr;
  if (!recorded.image.empty() &&
      ProcessImagePath(process.get()) != recorded.image)
    return nullptr;
  return process.release();
}

// Ends process; the Win32 error code of the failure, or 0 once it ended.
DWORD EndProcess(HANDLE process, DWORD processId) {
  ulvex::UniqueHandle terminable(
      OpenProcess(PROCESS_TERMINATE, FALSE, processId));
  if (!terminable) return GetLastError();
  if (!TerminateProcess(terminable.get(), kEndedHostExitCode)) {
    const DWORD error = GetLastError();
    // It may have ended on its own meanwhile.
    if (WaitForSingleObject(process, 0) != WAIT_OBJECT_0) return error;
  }
  switch (WaitForSingleObject(process, kHostEndWaitMs)) {
    case WAIT_OBJECT_0:
      return 0;
    case WAIT_TIMEOUT:
      return WAIT_TIMEOUT;
    default:
      return GetLastError();
  }
}

// Says that the recorded process, not the registered host or another
// user's, was left running; the record goes.
void PrintLeftAlone(DWORD processId, HostCheck check, const char* lineEnd) {
  printf(
      "Process %lu, named by an earlier run's record of Excel, was left "
      "running (%s); the record was removed.%s",
      static_cast<unsigned long>(processId), HostCheckReason(check), lineEnd);
  FlushOutput();
}

// Says that the recorded host, which may still write this user's key, was
// not ended, and why; the record stays.
void PrintNotEnded(DWORD processId, HostCheck check, DWORD error,
                   const char* lineEnd) {
  const unsigned long id = processId;
  if (check == HostCheck::Unchecked)
    printf(
        "Excel (process %lu), left running by an earlier run of this user, "
        "was not ended (it could not be checked: error %lu); close it and "
        "run the task again.%s",
        id, static_cast<unsigned long>(error), lineEnd);
  else
    printf(
        "Excel (process %lu), left running by an earlier run of this user, "
        "was not ended (%s); close it and run the task again.%s",
        id, HostCheckReason(check), lineEnd);
  FlushOutput();
}

}  // namespace

void RecordHost(HANDLE hostProcess) {
  if (hostProcess == nullptr) return;
  HostIdentity host;
  host.processId = GetProcessId(hostProcess);
  bool known = false;
  host.startTime = CreationTime(hostProcess, known);
  if (host.processId == 0 || !known) return;
  host.image = ProcessImagePath(hostProcess);

  ulvex::UniqueHkey key;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, kHostRecordKey, 0, nullptr, 0,
                      KEY_SET_VALUE, nullptr, key.put(),
                      nullptr) != ERROR_SUCCESS)
    return;
  if (host.image.empty()) {
    RegDeleteValueW(key.get(), kHostImageValue);
  } else {
    RegSetValueExW(
        key.get(), kHostImageValue, 0, REG_SZ,
        reinterpret_cast<const BYTE*>(host.image.c_str()),
        static_cast<DWORD>((host.image.size() + 1) * sizeof(wchar_t)));
  }
  RegSetValueExW(key.get(), kHostStartTimeValue, 0, REG_QWORD,
                 reinterpret_cast<const BYTE*>(&host.startTime),
                 sizeof host.startTime);
  // The process ID last: a record cut short by a killed run is incomplete
  // and is only removed by the next run.
  RegSetValueExW(key.get(), kHostProcessIdValue, 0, REG_DWORD,
                 reinterpret_cast<const BYTE*>(&host.processId),
                 sizeof host.processId);
}

void ForgetHost() {
  // The key holds nothing else: it goes with the record. Should it hold
  // subkeys of someone else's, only the record's values go.
  if (RegDeleteKeyW(HKEY_CURRENT_USER, kHostRecordKey) == ERROR_SUCCESS) return;
  ulvex::UniqueHkey key;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kHostRecordKey, 0, KEY_SET_VALUE,
                    key.put()) != ERROR_SUCCESS)
    return;
  for (const wchar_t* name :
       {kHostProcessIdValue, kHostStartTimeValue, kHostImageValue})
    RegDeleteValueW(key.get(), name);
}

bool EndLeftoverHost(const char* lineEnd, HostChecker check) {
  HostIdentity recorded;
  bool found = false;
  if (!ReadRecord(recorded, found)) {
    if (found) ForgetHost();  // data not as written: never trusted
    return true;
  }
  ulvex::UniqueHandle host(OpenRecordedHost(recorded));
  if (!host) {
    ForgetHost();
    return true;
  }
  // Any process of the user can write the record: only the registered
  // host, of this session, user and integrity level, is ended. One that may
  // still write this user's key and cannot be ended from here holds the run
  // up: its add-in could hand this run a result.
  HostCheckDetail detail;
  const HostCheck verdict = check(host.get(), detail);
  switch (verdict) {
    case HostCheck::Host:
      break;
    case HostCheck::OtherProgram:
    case HostCheck::OtherUser:
      PrintLeftAlone(recorded.processId, verdict, lineEnd);
      ForgetHost();
      return true;
    default:
      PrintNotEnded(recorded.processId, verdict, detail.error, lineEnd);
      return false;
  }
  const DWORD error = EndProcess(host.get(), recorded.processId);
  if (error != 0) {
    printf(
        "Excel (process %lu), left running by an earlier run of this user, "
        "could not be ended (error %lu); close it and run the task again.%s",
        static_cast<unsigned long>(recorded.processId),
        static_cast<unsigned long>(error), lineEnd);
    FlushOutput();
    return false;
  }
  printf(
      "Ended Excel (process %lu), left running by an earlier run of this "
      "user.%s",
      static_cast<unsigned long>(recorded.processId), lineEnd);
  FlushOutput();
  ForgetHost();
  return true;
}

LeftoverHost LookForLeftoverHost() {
  LeftoverHost leftover;
  HostIdentity recorded;
  bool found = false;
  const bool readable = ReadRecord(recorded, found);
  leftover.recorded = found;
  if (!readable) return leftover;
  leftover.processId = recorded.processId;
  leftover.image = recorded.image;
  ulvex::UniqueHandle host(OpenRecordedHost(recorded));
  if (!host) return leftover;
  leftover.running = true;
  leftover.check = CheckHostProcess(host.get(), leftover.detail);
  return leftover;
}
