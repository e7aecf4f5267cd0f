#include "tests/support/machine_facts.h"

#include <windows.h>
// Needs <windows.h> first.
#include <aclapi.h>
#include <sddl.h>

#include <cstdio>

namespace ulvex_test {

namespace {

// A file of the probe's own in folder: a fresh name, removed when done.
class ProbeFile {
 public:
  explicit ProbeFile(const std::wstring& folder) {
    wchar_t name[MAX_PATH] = {};
    if (GetTempFileNameW(folder.c_str(), L"ulx", 0, name) != 0) path_ = name;
  }
  ~ProbeFile() {
    if (!path_.empty()) DeleteFileW(path_.c_str());
  }
  ProbeFile(const ProbeFile&) = delete;
  ProbeFile& operator=(const ProbeFile&) = delete;
  const std::wstring& path() const { return path_; }

 private:
  std::wstring path_;
};

bool HoldsLabel(PACL labels) {
  if (labels == nullptr) return false;
  for (DWORD i = 0; i < labels->AceCount; ++i) {
    void* entry = nullptr;
    if (GetAce(labels, i, &entry) &&
        static_cast<const ACE_HEADER*>(entry)->AceType ==
            SYSTEM_MANDATORY_LABEL_ACE_TYPE)
      return true;
  }
  return false;
}

std::wstring TempFolder() {
  wchar_t folder[MAX_PATH + 1] = {};
  const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
  return length == 0 || length > MAX_PATH ? std::wstring(L".")
                                          : std::wstring(folder, length);
}

}  // namespace

bool TokenIsElevated() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
    return false;
  TOKEN_ELEVATION elevation{};
  DWORD size = 0;
  const BOOL read = GetTokenInformation(token, TokenElevation, &elevation,
                                        sizeof elevation, &size);
  CloseHandle(token);
  return read && elevation.TokenIsElevated != 0;
}

DWORD TokenIntegrityRid() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return 0;
  union {
    TOKEN_MANDATORY_LABEL label;
    BYTE bytes[sizeof(TOKEN_MANDATORY_LABEL) + SECURITY_MAX_SID_SIZE];
  } level;
  DWORD size = 0;
  DWORD rid = 0;
  if (GetTokenInformation(token, TokenIntegrityLevel, &level, sizeof level,
                          &size) &&
      IsValidSid(level.label.Label.Sid)) {
    const UCHAR count = *GetSidSubAuthorityCount(level.label.Label.Sid);
    if (count > 0) rid = *GetSidSubAuthority(level.label.Label.Sid, count - 1);
  }
  CloseHandle(token);
  return rid;
}

DWORD SessionId() {
  DWORD session = 0;
  return ProcessIdToSessionId(GetCurrentProcessId(), &session) ? session : 0;
}

bool SessionHasInteractiveDesktop() {
  if (SessionId() == 0) return false;
  // NOTE: the handle of the process's window station is not to be closed.
  const HWINSTA station = GetProcessWindowStation();
  USEROBJECTFLAGS flags{};
  DWORD needed = 0;
  return station != nullptr &&
         GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags,
                                   &needed) &&
         (flags.dwFlags & WSF_VISIBLE) != 0;
}

bool FilesKeepLabels(const std::wstring& folder) {
  ProbeFile probe(folder);
  if (probe.path().empty()) return false;
  // A low label with no-write-up: any token may set a label at or below
  // its own level on a file it owns.
  PSECURITY_DESCRIPTOR wanted = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
          L"S:(ML;;NW;;;LW)", SDDL_REVISION_1, &wanted, nullptr))
    return false;
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL label = nullptr;
  bool kept = false;
  const HANDLE file = CreateFileW(
      probe.path().c_str(), READ_CONTROL | WRITE_OWNER,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE &&
      GetSecurityDescriptorSacl(wanted, &present, &label, &defaulted) &&
      SetSecurityInfo(file, SE_FILE_OBJECT, LABEL_SECURITY_INFORMATION,
                      nullptr, nullptr, nullptr, label) == ERROR_SUCCESS) {
    PACL readBack = nullptr;
    PSECURITY_DESCRIPTOR held = nullptr;
    if (GetSecurityInfo(file, SE_FILE_OBJECT, LABEL_SECURITY_INFORMATION,
                        nullptr, nullptr, nullptr, &readBack,
                        &held) == ERROR_SUCCESS)
      kept = HoldsLabel(readBack);
    LocalFree(held);
  }
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  LocalFree(wanted);
  return kept;
}

bool ClassesRootMergesUserClasses() {
  const wchar_t kProbe[] = L"Software\\Classes\\UlvexTest.MergeProbe";
  HKEY key = nullptr;
  // NOTE: a volatile key made with a missing parent makes the parent
  // volatile too, and a volatile key takes no lasting subkeys: the user's
  // classes key is made (or opened) as an ordinary key first.
  HKEY classes = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, nullptr, 0,
                      KEY_CREATE_SUB_KEY, nullptr, &classes,
                      nullptr) != ERROR_SUCCESS)
    return false;
  const LSTATUS made =
      RegCreateKeyExW(classes, L"UlvexTest.MergeProbe", 0, nullptr,
                      REG_OPTION_VOLATILE, KEY_READ, nullptr, &key, nullptr);
  RegCloseKey(classes);
  if (made != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  const bool merged =
      RegOpenKeyExW(HKEY_CLASSES_ROOT, L"UlvexTest.MergeProbe", 0, KEY_READ,
                    &key) == ERROR_SUCCESS;
  if (merged) RegCloseKey(key);
  RegDeleteKeyW(HKEY_CURRENT_USER, kProbe);
  return merged;
}

bool FilesKeepAlternateStreams(const std::wstring& folder) {
  ProbeFile probe(folder);
  if (probe.path().empty()) return false;
  const std::wstring stream = probe.path() + L":ulvex";
  const HANDLE file =
      CreateFileW(stream.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  // A file system without streams that took the colon as part of a name
  // made a second file beside the probe: that is no stream.
  WIN32_FIND_STREAM_DATA found{};
  const HANDLE streams =
      FindFirstStreamW(probe.path().c_str(), FindStreamInfoStandard, &found, 0);
  bool named = false;
  if (streams != INVALID_HANDLE_VALUE) {
    do {
      named = named || wcsncmp(found.cStreamName, L":ulvex:", 7) == 0;
    } while (!named && FindNextStreamW(streams, &found));
    FindClose(streams);
  }
  if (!named) DeleteFileW(stream.c_str());
  return named;
}

std::string MachineFactsLine() {
  const std::wstring temp = TempFolder();
  char line[256];
  snprintf(line, sizeof line,
           "session %lu (%s interactive desktop), %s token at integrity RID "
           "0x%lx; files in %%TEMP%% %s labels and %s alternate streams; "
           "HKEY_CLASSES_ROOT %s HKCU\\Software\\Classes",
           static_cast<unsigned long>(SessionId()),
           SessionHasInteractiveDesktop() ? "with an" : "without an",
           TokenIsElevated() ? "elevated" : "unelevated",
           static_cast<unsigned long>(TokenIntegrityRid()),
           FilesKeepLabels(temp) ? "keep" : "keep no",
           FilesKeepAlternateStreams(temp) ? "keep" : "keep no",
           ClassesRootMergesUserClasses() ? "merges" : "does not merge");
  return line;
}

}  // namespace ulvex_test
