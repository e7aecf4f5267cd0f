#include <windows.h>

#include <atomic>
#include <cstring>
#include <string>

#include "diagnosis/desktop_advice.h"
#include "diagnosis/desktop_check.h"
#include "platform/console.h"
#include "platform/system_api.h"

namespace {

// The advice names at most two folders of at most a long path each.
constexpr int kEndingAdviceBytes = 1024;

std::wstring adviceLine;
char endingAdvice[kEndingAdviceBytes] = "";
std::atomic<bool> insideOpen{false};

// A folder path from a call that takes a buffer and gives the length;
// empty when the call fails.
template <typename Call>
std::wstring FolderFrom(Call call) {
  wchar_t buffer[MAX_PATH + 1];
  const UINT length = call(buffer, MAX_PATH + 1);
  if (length == 0 || length > MAX_PATH) return std::wstring();
  return std::wstring(buffer, length);
}

class Win32DesktopSystem : public DesktopSystem {
 public:
  SessionFacts Session() override {
    SessionFacts facts;
    DWORD session = 0;
    if (ProcessIdToSessionId(GetCurrentProcessId(), &session)) {
      facts.sessionKnown = true;
      facts.sessionId = session;
    }
    const ulvex::SystemApi& system = ulvex::System();
    // NOTE: the handle of the process's window station is not to be closed.
    const HWINSTA station = system.GetProcessWindowStation();
    USEROBJECTFLAGS flags = {};
    DWORD needed = 0;
    if (station != nullptr &&
        system.GetUserObjectInformationW(station, UOI_FLAGS, &flags,
                                         sizeof flags, &needed)) {
      facts.stationKnown = true;
      facts.stationVisible = (flags.dwFlags & WSF_VISIBLE) != 0;
    }
    return facts;
  }

  std::wstring ProfileFolder() override {
    constexpr wchar_t kVariable[] = L"USERPROFILE";
    const DWORD needed = GetEnvironmentVariableW(kVariable, nullptr, 0);
    if (needed == 0) return std::wstring();
    std::wstring value(needed, L'\0');
    const DWORD length = GetEnvironmentVariableW(kVariable, &value[0], needed);
    value.resize(length < needed ? length : 0);
    return value;
  }

  SystemFolders Folders() override {
    SystemFolders folders;
    folders.system = FolderFrom(GetSystemDirectoryW);
    folders.systemAccess = folders.system;
    // NOTE: a 32-bit process on 64-bit Windows that names the system folder
    // reaches the 32-bit one (file system redirection); the native one is
    // reached through the "Sysnative" alias of the Windows folder.
    BOOL wow64 = FALSE;
    if (IsWow64Process(GetCurrentProcess(), &wow64) && wow64) {
      const std::wstring windows = FolderFrom(GetSystemWindowsDirectoryW);
      if (!windows.empty()) folders.systemAccess = windows + L"\\Sysnative";
    }
    // Fails on 32-bit Windows, which has no 32-bit system folder of its own.
    folders.wow64 = FolderFrom(GetSystemWow64DirectoryW);
    return folders;
  }

  bool FolderMissing(const std::wstring& path) override {
    if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES)
      return false;
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
  }
};

// The line in the ANSI code page, "?" for what it lacks, with "\n"; left
// empty when it does not fit (the run's thread still prints it whole).
void FillEndingAdvice(const std::wstring& line) {
  endingAdvice[0] = '\0';
  if (line.empty() || line.size() >= kEndingAdviceBytes) return;
  const bool utf8 = GetACP() == CP_UTF8;
  const int written = WideCharToMultiByte(
      CP_ACP, utf8 ? 0 : WC_NO_BEST_FIT_CHARS, line.c_str(),
      static_cast<int>(line.size()), endingAdvice, kEndingAdviceBytes - 2,
      utf8 ? nullptr : "?", nullptr);
  if (written <= 0) {
    endingAdvice[0] = '\0';
    return;
  }
  endingAdvice[written] = '\n';
  endingAdvice[written + 1] = '\0';
}

}  // namespace

void BeginOpen() {
  Win32DesktopSystem system;
  adviceLine = DesktopAdvice(system);
  FillEndingAdvice(adviceLine);
  insideOpen.store(true);
}

void EndOpen() { insideOpen.store(false); }

void PrintDesktopAdvice() {
  if (adviceLine.empty()) return;
  WriteWideText((adviceLine + L"\n").c_str());
  FlushOutput();
}

const char* DesktopAdviceForEnding() {
  return insideOpen.load() ? endingAdvice : "";
}

DesktopFinding CheckDesktop() {
  Win32DesktopSystem system;
  DesktopFinding finding;
  finding.session = system.Session();
  finding.interactive = !LacksInteractiveDesktop(finding.session);
  finding.profile = system.ProfileFolder();
  finding.folders = DesktopFolderStates(system);
  finding.advice = DesktopAdvice(system);
  return finding;
}
