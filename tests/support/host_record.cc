#include "tests/support/host_record.h"

#include <vector>

#include "tests/support/registry_backup.h"
#include "tests/support/run_program.h"

namespace ulvex_test {

const wchar_t kHostRecordKey[] = L"Software\\Quennet\\UlvexCmdLine";

HANDLE StartBuildProgram(const wchar_t* program, const std::wstring& arguments,
                         DWORD* processId) {
  return StartProgramFile(BinFolder() + L"\\" + program, arguments, processId);
}

HANDLE StartProgramFile(const std::wstring& path, const std::wstring& arguments,
                        DWORD* processId) {
  std::wstring commandLine = L"\"" + path + L"\" " + arguments;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE,
                      CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process))
    return nullptr;
  CloseHandle(process.hThread);
  if (processId != nullptr) *processId = process.dwProcessId;
  return process.hProcess;
}

HANDLE StartIdleProcess(DWORD idleMs) {
  return StartBuildProgram(L"IdleProcess.exe", std::to_wstring(idleMs));
}

ULONGLONG ProcessStartTime(HANDLE process) {
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return 0;
  return (ULONGLONG{created.dwHighDateTime} << 32) | created.dwLowDateTime;
}

std::wstring ProcessImage(HANDLE process) {
  std::vector<wchar_t> buffer(32768);
  DWORD length = static_cast<DWORD>(buffer.size());
  if (!QueryFullProcessImageNameW(process, 0, buffer.data(), &length))
    return {};
  return std::wstring(buffer.data(), length);
}

bool WriteHostRecordData(const wchar_t* name, DWORD type, const void* data,
                         DWORD byteCount) {
  return WriteRegistryValue(HKEY_CURRENT_USER, kHostRecordKey, name, type, data,
                            byteCount);
}

bool WriteHostRecord(DWORD processId, ULONGLONG startTime,
                     const std::wstring& image) {
  if (!DeleteHostRecord()) return false;
  if (!image.empty() &&
      !WriteHostRecordData(
          L"HostImage", REG_SZ, image.c_str(),
          static_cast<DWORD>((image.size() + 1) * sizeof(wchar_t))))
    return false;
  return WriteHostRecordData(L"HostStartTime", REG_QWORD, &startTime,
                             sizeof startTime) &&
         WriteHostRecordData(L"HostProcessId", REG_DWORD, &processId,
                             sizeof processId);
}

bool HostRecordExists() {
  return RegistryKeyExists(HKEY_CURRENT_USER, kHostRecordKey);
}

DWORD RecordedHostProcessId() {
  return ReadRegistryDword(HKEY_CURRENT_USER, kHostRecordKey, L"HostProcessId")
      .value;
}

std::wstring RecordedHostImage() {
  wchar_t buffer[1024] = {};
  DWORD bytes = sizeof buffer - sizeof(wchar_t);
  if (RegGetValueW(HKEY_CURRENT_USER, kHostRecordKey, L"HostImage",
                   RRF_RT_REG_SZ, nullptr, buffer, &bytes) != ERROR_SUCCESS)
    return {};
  return buffer;
}

bool DeleteHostRecord() {
  return DeleteRegistryTree(HKEY_CURRENT_USER, kHostRecordKey);
}

}  // namespace ulvex_test
