#include "tests/support/standin_host.h"

#include <objbase.h>
#include <tlhelp32.h>

#include "tests/standin_host/standin_ids.h"
#include "tests/support/run_program.h"

namespace ulvex_test {

namespace {

constexpr DWORD kPollMs = 20;
constexpr DWORD kQuitWaitMs = 5000;
constexpr DWORD kMaxLogBytes = 16 << 20;

// A versioned ProgID that only RegisterHostServer uses.
constexpr wchar_t kVersionedProgId[] = L"Excel.Application.99";

bool SetDefault(const std::wstring& keyPath, const std::wstring& value,
                DWORD type = REG_SZ, REGSAM view = 0) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CLASSES_ROOT, keyPath.c_str(), 0, nullptr, 0,
                      KEY_SET_VALUE | view, nullptr, &key,
                      nullptr) != ERROR_SUCCESS)
    return false;
  const LSTATUS status = RegSetValueExW(
      key, nullptr, 0, type, reinterpret_cast<const BYTE*>(value.c_str()),
      static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
  return status == ERROR_SUCCESS;
}

bool FreshClassId(wchar_t (&clsid)[64]) {
  GUID fresh;
  return SUCCEEDED(CoCreateGuid(&fresh)) &&
         StringFromGUID2(fresh, clsid, sizeof clsid / sizeof *clsid) != 0;
}

// Deletes progId and the class its CLSID key names, below classes.
void DeleteProgIdAndClass(HKEY classes, const std::wstring& progId) {
  wchar_t registered[64] = {};
  DWORD bytes = sizeof registered - sizeof(wchar_t);
  if (RegGetValueW(classes, (progId + L"\\CLSID").c_str(), nullptr,
                   RRF_RT_REG_SZ, nullptr, registered,
                   &bytes) == ERROR_SUCCESS &&
      registered[0] != L'\0') {
    RegDeleteTreeW(classes, (std::wstring(L"CLSID\\") + registered).c_str());
    RegDeleteTreeW(classes, (std::wstring(L"AppID\\") + registered).c_str());
  }
  RegDeleteTreeW(classes, progId.c_str());
}

// Removes every key of the test's ProgIDs and classes below classes.
void DeleteTestClasses(HKEY classes) {
  DeleteProgIdAndClass(classes, standin::kProgId);
  DeleteProgIdAndClass(classes, kVersionedProgId);
  for (const wchar_t* clsid :
       {standin::kHostClsidText, standin::kBrokenClsidText})
    RegDeleteTreeW(classes, (std::wstring(L"CLSID\\") + clsid).c_str());
}

void DeleteTestClassesEverywhere();

bool RegisterClass(const wchar_t* clsid, const std::wstring& server,
                   const std::wstring& curVer) {
  DeleteTestClassesEverywhere();
  const std::wstring progId = standin::kProgId;
  const std::wstring classKey = std::wstring(L"CLSID\\") + clsid;
  bool ok = SetDefault(progId, L"Ulvex test stand-in host") &&
            SetDefault(progId + L"\\CLSID", clsid) &&
            SetDefault(classKey, L"Ulvex test stand-in host") &&
            SetDefault(classKey + L"\\ProgID", progId) &&
            SetDefault(classKey + L"\\LocalServer32", L"\"" + server + L"\"");
  if (ok && !curVer.empty()) ok = SetDefault(progId + L"\\CurVer", curVer);
  return ok;
}

// The ProgID, named by its CLSID key or through CurVer, and the class with
// commandLine as its LocalServer32, in view.
bool WriteHostServer(const wchar_t* clsid, const std::wstring& commandLine,
                     DWORD type, bool throughCurVer, REGSAM view) {
  const std::wstring progId = standin::kProgId;
  const std::wstring classKey = std::wstring(L"CLSID\\") + clsid;
  const std::wstring named = throughCurVer ? kVersionedProgId : progId;
  return SetDefault(progId, L"Ulvex test host server", REG_SZ, view) &&
         (!throughCurVer ||
          SetDefault(progId + L"\\CurVer", named, REG_SZ, view)) &&
         SetDefault(named + L"\\CLSID", clsid, REG_SZ, view) &&
         SetDefault(classKey + L"\\LocalServer32", commandLine, type, view);
}

std::vector<DWORD> HostProcesses() {
  std::vector<DWORD> ids;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return ids;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more;
       more = Process32NextW(snapshot, &entry))
    if (_wcsicmp(entry.szExeFile, standin::kExeName) == 0)
      ids.push_back(entry.th32ProcessID);
  CloseHandle(snapshot);
  return ids;
}

}  // namespace

bool RegisterStandInHost(const std::wstring& curVer) {
  // A class of its own for each registration (the host serves the one the
  // ProgID names): under Wine a host that was killed leaves its class
  // unable to start again until the Wine server restarts.
  wchar_t clsid[64];
  if (!FreshClassId(clsid)) return false;
  return RegisterClass(clsid, BinFolder() + L"\\" + standin::kExeName, curVer);
}

bool RegisterHostServer(const std::wstring& commandLine, DWORD type,
                        bool throughCurVer, REGSAM view) {
  DeleteTestClassesEverywhere();
  wchar_t clsid[64];
  return FreshClassId(clsid) &&
         WriteHostServer(clsid, commandLine, type, throughCurVer, view);
}

bool RegisterHostServerInViews(const std::wstring& commandLine32,
                               const std::wstring& commandLine64,
                               const std::wstring& executable64) {
  DeleteTestClassesEverywhere();
  wchar_t clsid[64];
  if (!FreshClassId(clsid) ||
      !WriteHostServer(clsid, commandLine32, REG_SZ, false, KEY_WOW64_32KEY) ||
      !WriteHostServer(clsid, commandLine64, REG_SZ, false, KEY_WOW64_64KEY))
    return false;
  HKEY key = nullptr;
  const std::wstring server =
      std::wstring(L"CLSID\\") + clsid + L"\\LocalServer32";
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, server.c_str(), 0,
                    KEY_SET_VALUE | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
    return false;
  const LSTATUS status = RegSetValueExW(
      key, L"ServerExecutable", 0, REG_EXPAND_SZ,
      reinterpret_cast<const BYTE*>(executable64.c_str()),
      static_cast<DWORD>((executable64.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
  return status == ERROR_SUCCESS;
}

std::vector<DWORD> StandInHostProcessIds() { return HostProcesses(); }

bool SetStandInRunAs(const std::wstring& runAs) {
  wchar_t clsid[64] = {};
  DWORD bytes = sizeof clsid - sizeof(wchar_t);
  if (RegGetValueW(HKEY_CLASSES_ROOT,
                   (std::wstring(standin::kProgId) + L"\\CLSID").c_str(),
                   nullptr, RRF_RT_REG_SZ, nullptr, clsid,
                   &bytes) != ERROR_SUCCESS)
    return false;
  const std::wstring classKey = std::wstring(L"CLSID\\") + clsid;
  const std::wstring appIdKey = std::wstring(L"AppID\\") + clsid;
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CLASSES_ROOT, classKey.c_str(), 0, nullptr, 0,
                      KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS)
    return false;
  LSTATUS status = RegSetValueExW(
      key, L"AppID", 0, REG_SZ, reinterpret_cast<const BYTE*>(clsid),
      static_cast<DWORD>((wcslen(clsid) + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
  if (status != ERROR_SUCCESS ||
      RegCreateKeyExW(HKEY_CLASSES_ROOT, appIdKey.c_str(), 0, nullptr, 0,
                      KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS)
    return false;
  status = RegSetValueExW(
      key, L"RunAs", 0, REG_SZ, reinterpret_cast<const BYTE*>(runAs.c_str()),
      static_cast<DWORD>((runAs.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
  return status == ERROR_SUCCESS;
}

namespace {

void DeleteTestClassesEverywhere() {
  // What was written through HKEY_CLASSES_ROOT lands in the machine's
  // classes (or, on Windows, the user's where the key is the user's), in
  // the view the writer chose. Each view's key is opened by its full path:
  // NOTE: Wine ignores KEY_WOW64_32KEY on HKEY_CLASSES_ROOT itself
  // (RegOpenKeyExW with no subkey hands back the root), so a delete through
  // it left the 32-bit view's class in place.
  DeleteTestClasses(HKEY_CLASSES_ROOT);
  for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER})
    for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
      HKEY classes = nullptr;
      if (RegOpenKeyExW(root, L"Software\\Classes", 0,
                        KEY_READ | DELETE | KEY_SET_VALUE | view,
                        &classes) != ERROR_SUCCESS)
        continue;
      DeleteTestClasses(classes);
      RegCloseKey(classes);
    }
}

}  // namespace

void UnregisterStandInHost() {
  DeleteTestClassesEverywhere();
  // The scenario's key, and the tests' own key when nothing else is in it.
  RegDeleteTreeW(HKEY_CURRENT_USER, standin::kScenarioKey);
  RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\UlvexTest");
}

bool RegisterBrokenHost() {
  return RegisterClass(standin::kBrokenClsidText,
                       BinFolder() + L"\\MissingStandInHost.exe",
                       L"Excel.Application.16");
}

bool SetStandInScenario(const std::wstring& scriptPath,
                        const std::wstring& logPath) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, standin::kScenarioKey, 0, nullptr, 0,
                      KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS)
    return false;
  auto set = [key](const wchar_t* name, const std::wstring& value) {
    return RegSetValueExW(key, name, 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) *
                                             sizeof(wchar_t))) == ERROR_SUCCESS;
  };
  const bool ok = set(standin::kScriptValue, scriptPath) &&
                  set(standin::kLogValue, logPath);
  // A shortened safety exit is for one test only.
  RegDeleteValueW(key, standin::kSafetyExitValue);
  RegCloseKey(key);
  DeleteFileW(logPath.c_str());
  return ok;
}

std::vector<std::string> ReadStandInLog(const std::wstring& logPath) {
  std::vector<std::string> lines;
  HANDLE file =
      CreateFileW(logPath.c_str(), GENERIC_READ,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return lines;
  std::string bytes;
  LARGE_INTEGER size{};
  if (GetFileSizeEx(file, &size) && size.QuadPart <= kMaxLogBytes) {
    bytes.resize(static_cast<size_t>(size.QuadPart));
    DWORD got = 0;
    if (bytes.empty() ||
        !ReadFile(file, &bytes[0], static_cast<DWORD>(bytes.size()), &got,
                  nullptr))
      got = 0;
    bytes.resize(got);
  }
  CloseHandle(file);
  size_t at = 0;
  while (at < bytes.size()) {
    size_t end = bytes.find('\n', at);
    if (end == std::string::npos) end = bytes.size();
    lines.push_back(bytes.substr(at, end - at));
    at = end + 1;
  }
  return lines;
}

std::vector<std::string> StandInCalls(const std::vector<std::string>& log) {
  std::vector<std::string> calls;
  for (const std::string& line : log) {
    const std::string kind = line.substr(0, line.find_first_of(" |"));
    if (kind == "PUT" || kind == "GET" || kind == "METHOD" ||
        kind == "PUTREF" || kind.compare(0, 5, "FLAGS") == 0)
      calls.push_back(line);
  }
  return calls;
}

bool WaitForStandInExit(DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  for (;;) {
    if (HostProcesses().empty()) return true;
    if (GetTickCount() - start >= timeoutMs) return false;
    Sleep(kPollMs);
  }
}

int TerminateStandInHosts() {
  int ended = 0;
  for (DWORD id : HostProcesses()) {
    HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id);
    if (process == nullptr) continue;
    if (TerminateProcess(process, 1)) ++ended;
    WaitForSingleObject(process, kQuitWaitMs);
    CloseHandle(process);
  }
  return ended;
}

void KillStandInHosts() {
  for (DWORD id : HostProcesses()) {
    const std::wstring name = standin::kQuitEventPrefix + std::to_wstring(id);
    HANDLE quit = OpenEventW(EVENT_MODIFY_STATE, FALSE, name.c_str());
    if (quit == nullptr) continue;
    SetEvent(quit);
    CloseHandle(quit);
  }
  if (WaitForStandInExit(kQuitWaitMs)) return;
  for (DWORD id : HostProcesses()) {
    HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id);
    if (process == nullptr) continue;
    TerminateProcess(process, 1);
    WaitForSingleObject(process, kQuitWaitMs);
    CloseHandle(process);
  }
}

}  // namespace ulvex_test
