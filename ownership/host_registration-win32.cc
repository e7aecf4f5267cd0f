#include <windows.h>

#include <string>
#include <vector>

#include "ownership/host_registration.h"
#include "ownership/registry_read.h"
#include "ownership/server_command.h"
#include "platform/win_resource.h"

namespace {

const std::wstring kProgId = L"Excel.Application";
constexpr wchar_t kMachineClasses[] = L"Software\\Classes\\";
// The longest registry text and path read here, in characters.
constexpr DWORD kMaxTextChars = 32768;

// Where the class registration is read: HKCR (the machine's classes with
// the user's merged in) or the machine's alone, in one registry view.
// NOTE: the CLSID tree has a 32-bit and a 64-bit view on 64-bit Windows,
// under HKLM\Software\Classes as under HKCR.
struct ClassesView {
  HKEY root;
  const wchar_t* prefix;  // of every subkey under root
  bool view64;
};

LSTATUS OpenClassKey(const ClassesView& classes, const std::wstring& subKey,
                     ulvex::UniqueHkey& key) {
  return RegOpenKeyExW(
      classes.root, (classes.prefix + subKey).c_str(), 0,
      KEY_QUERY_VALUE | (classes.view64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY),
      key.put());
}

// The text value name (null: the default) of subKey, as stored; the
// status of opening the key or reading the value.
LSTATUS ReadClassValue(const ClassesView& classes, const std::wstring& subKey,
                       const wchar_t* name, std::wstring& text, DWORD& type) {
  text.clear();
  ulvex::UniqueHkey key;
  LSTATUS status = OpenClassKey(classes, subKey, key);
  if (status == ERROR_SUCCESS)
    status = ReadRegistryText(key.get(), name, kMaxTextChars, text, type);
  if (status != ERROR_SUCCESS) text.clear();
  return status;
}

// The same; false when the value is missing, empty or not text.
bool ReadClassText(const ClassesView& classes, const std::wstring& subKey,
                   const wchar_t* name, std::wstring& text, DWORD& type) {
  return ReadClassValue(classes, subKey, name, text, type) == ERROR_SUCCESS &&
         !text.empty();
}

bool ReadClassName(const ClassesView& classes, const std::wstring& subKey,
                   const wchar_t* name, std::wstring& text) {
  DWORD type = REG_NONE;
  return ReadClassText(classes, subKey, name, text, type);
}

// A REG_DWORD value of subKey; 0 when it is missing or of another type.
DWORD ReadClassNumber(const ClassesView& classes, const std::wstring& subKey,
                      const wchar_t* name) {
  ulvex::UniqueHkey key;
  if (OpenClassKey(classes, subKey, key) != ERROR_SUCCESS) return 0;
  DWORD number = 0;
  DWORD type = REG_NONE;
  DWORD size = sizeof number;
  if (RegQueryValueExW(key.get(), name, nullptr, &type,
                       reinterpret_cast<BYTE*>(&number),
                       &size) != ERROR_SUCCESS ||
      type != REG_DWORD || size != sizeof number)
    return 0;
  return number;
}

bool Defined(const std::wstring& variable) {
  return GetEnvironmentVariableW(variable.c_str(), nullptr, 0) != 0;
}

// Expands environment strings; the text as it is when that fails.
std::wstring Expanded(const std::wstring& text) {
  const DWORD needed = ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
  if (needed == 0 || needed > kMaxTextChars) return text;
  std::vector<wchar_t> buffer(needed, L'\0');
  const DWORD got =
      ExpandEnvironmentStringsW(text.c_str(), buffer.data(), needed);
  if (got == 0 || got > needed) return text;
  return buffer.data();
}

// A REG_EXPAND_SZ text as the launcher of the view's kind expands it.
// NOTE: a 32-bit process expands %ProgramFiles% to the 32-bit program
// folder, while a 64-bit launcher starts a 64-bit view's server from the
// native one.
std::wstring ExpandedForView(const std::wstring& text, DWORD type,
                             bool view64) {
  if (type != REG_EXPAND_SZ) return text;
  return Expanded(ViewFolderVariables(text, view64, Defined));
}

bool InWow64() {
  BOOL wow64 = FALSE;
  return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

std::wstring SystemFolder(UINT(WINAPI* call)(LPWSTR, UINT)) {
  wchar_t buffer[MAX_PATH + 1];
  const UINT length = call(buffer, MAX_PATH + 1);
  if (length == 0 || length > MAX_PATH) return {};
  return std::wstring(buffer, length);
}

std::wstring ReachedForView(const std::wstring& path, bool view64) {
  return view64 ? NativePathAsReached(path) : path;
}

// One view's registration; false when the ProgID names no class there.
bool ReadRegistration(const ClassesView& classes, HostRegistration& found) {
  found.view64 = classes.view64;
  found.machineClasses = classes.root == HKEY_LOCAL_MACHINE;
  ReadClassName(classes, kProgId + L"\\CurVer", nullptr, found.currentVersion);
  // The ProgID's own class, or that of its current version, as
  // CLSIDFromProgID finds it.
  if (!ReadClassName(classes, kProgId + L"\\CLSID", nullptr, found.classId) &&
      (found.currentVersion.empty() ||
       !ReadClassName(classes, found.currentVersion + L"\\CLSID", nullptr,
                      found.classId)))
    return false;
  const std::wstring classKey = L"CLSID\\" + found.classId;
  if (ReadClassName(classes, classKey, L"AppID", found.appId)) {
    // NOTE: COM reads an AppID's settings from the machine's classes only
    // (the RunAs documentation: HKCR\AppID is not the same key); HKCR
    // would let a per-user AppID key, which any program of the user may
    // create, hide the machine's RunAs.
    const ClassesView machine{HKEY_LOCAL_MACHINE, kMachineClasses,
                              classes.view64};
    const std::wstring appIdKey = L"AppID\\" + found.appId;
    found.appIdKey =
        std::wstring(L"HKEY_LOCAL_MACHINE\\") + kMachineClasses + appIdKey;
    DWORD type = REG_NONE;
    found.runAsStatus =
        ReadClassValue(machine, appIdKey, L"RunAs", found.runAs, type);
    found.preferredBitness =
        ReadClassNumber(machine, appIdKey, L"PreferredServerBitness");
  }
  const std::wstring server = classKey + L"\\LocalServer32";
  // "ServerExecutable" is what COM passes to CreateProcess as the program;
  // without it, the command line's program.
  std::wstring executable;
  DWORD type = REG_NONE;
  if (ReadClassText(classes, server, L"ServerExecutable", executable, type))
    found.serverImage = ExpandedForView(executable, type, classes.view64);
  if (ReadClassText(classes, server, nullptr, found.serverCommand, type) &&
      found.serverImage.empty())
    found.serverImage = ServerImagePath(
        ExpandedForView(found.serverCommand, type, classes.view64));
  found.serverFile = ReachedForView(found.serverImage, classes.view64);
  return true;
}

}  // namespace

std::wstring NativePathAsReached(const std::wstring& path) {
  if (path.empty() || !InWow64()) return path;
  const std::wstring windows = SystemFolder(GetSystemWindowsDirectoryW);
  if (windows.empty()) return path;
  return PathThroughAlias(path, SystemFolder(GetSystemDirectoryW),
                          windows + L"\\Sysnative");
}

bool HasView64() { return sizeof(void*) == 8 || InWow64(); }

bool RunIsElevated() {
  ulvex::UniqueHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()))
    return true;
  TOKEN_ELEVATION elevation{};
  DWORD size = 0;
  if (!GetTokenInformation(token.get(), TokenElevation, &elevation,
                           sizeof elevation, &size))
    return true;
  return elevation.TokenIsElevated != 0;
}

std::vector<HostRegistration> ReadHostRegistrations() {
  // NOTE: COM ignores the per-user classes for an elevated caller; HKCR
  // would merge them in.
  const bool machineOnly = RunIsElevated();
  const HKEY root = machineOnly ? HKEY_LOCAL_MACHINE : HKEY_CLASSES_ROOT;
  const wchar_t* prefix = machineOnly ? kMachineClasses : L"";
  std::vector<HostRegistration> registrations;
  for (bool view64 : {false, true}) {
    if (view64 && !HasView64()) break;
    HostRegistration found;
    if (ReadRegistration(ClassesView{root, prefix, view64}, found))
      registrations.push_back(found);
  }
  return registrations;
}
