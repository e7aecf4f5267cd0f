#include <string>
#include <vector>

#include "host/host_identity.h"
#include "host/server_command.h"
#include "platform/win_resource.h"

namespace {

const std::wstring kProgId = L"Excel.Application";
// The longest registry text and path read here, in characters.
constexpr DWORD kMaxTextChars = 32768;
// NOTE: HKCR's CLSID tree has a 32-bit and a 64-bit view on 64-bit
// Windows; a 32-bit Windows ignores the flags.
constexpr REGSAM kViews[] = {KEY_WOW64_32KEY, KEY_WOW64_64KEY};

// Expands environment strings (a REG_EXPAND_SZ value); the text as it is
// when that fails.
std::wstring Expanded(const std::wstring& text) {
  const DWORD needed = ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
  if (needed == 0 || needed > kMaxTextChars) return text;
  std::vector<wchar_t> buffer(needed, L'\0');
  const DWORD got =
      ExpandEnvironmentStringsW(text.c_str(), buffer.data(), needed);
  if (got == 0 || got > needed) return text;
  return buffer.data();
}

// A text value (name null: the default value) of HKCR\subKey in view,
// expanded when it is REG_EXPAND_SZ; false when it is missing, empty or
// not text.
bool ReadClassText(const std::wstring& subKey, const wchar_t* name, REGSAM view,
                   std::wstring& text) {
  ulvex::UniqueHkey key;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, subKey.c_str(), 0,
                    KEY_QUERY_VALUE | view, key.put()) != ERROR_SUCCESS)
    return false;
  DWORD type = REG_NONE;
  DWORD size = 0;
  if (RegQueryValueExW(key.get(), name, nullptr, &type, nullptr, &size) !=
          ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ) ||
      size > kMaxTextChars * sizeof(wchar_t))
    return false;
  // One more character than the data: a value stored without its NUL.
  std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 1, L'\0');
  if (RegQueryValueExW(key.get(), name, nullptr, &type,
                       reinterpret_cast<BYTE*>(buffer.data()),
                       &size) != ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ))
    return false;
  text = buffer.data();  // up to the first NUL
  if (type == REG_EXPAND_SZ) text = Expanded(text);
  return !text.empty();
}

// The class behind the ProgID in view: its own, or, when it names none,
// that of the version its CurVer names (as CLSIDFromProgID finds it).
bool ClassOfProgId(REGSAM view, std::wstring& classId) {
  if (ReadClassText(kProgId + L"\\CLSID", nullptr, view, classId)) return true;
  std::wstring current;
  return ReadClassText(kProgId + L"\\CurVer", nullptr, view, current) &&
         ReadClassText(current + L"\\CLSID", nullptr, view, classId);
}

// The long form of path; path itself when it has none (it does not exist).
// NOTE: an installer may register a short 8.3 path, while the process's
// image is named by its long one.
std::wstring LongPath(const std::wstring& path) {
  const DWORD needed = GetLongPathNameW(path.c_str(), nullptr, 0);
  if (needed == 0 || needed > kMaxTextChars) return path;
  std::vector<wchar_t> buffer(needed, L'\0');
  const DWORD got = GetLongPathNameW(path.c_str(), buffer.data(), needed);
  if (got == 0 || got >= needed) return path;
  return std::wstring(buffer.data(), got);
}

// The programs registered as the host's local server, one per view where
// there is one: LocalServer32's "ServerExecutable" (which COM passes to
// CreateProcess as the program) or the program of its command line.
std::vector<std::wstring> RegisteredPrograms() {
  std::vector<std::wstring> programs;
  for (REGSAM view : kViews) {
    std::wstring classId;
    if (!ClassOfProgId(view, classId)) continue;
    const std::wstring server = L"CLSID\\" + classId + L"\\LocalServer32";
    std::wstring program;
    std::wstring commandLine;
    if (!ReadClassText(server, L"ServerExecutable", view, program) &&
        ReadClassText(server, nullptr, view, commandLine))
      program = ServerImagePath(commandLine);
    if (!program.empty()) programs.push_back(LongPath(program));
  }
  return programs;
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                              static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// The TOKEN_USER of process's token; false with the error.
bool TokenUserOf(HANDLE process, std::vector<BYTE>& tokenUser, DWORD& error) {
  ulvex::UniqueHandle token;
  if (!OpenProcessToken(process, TOKEN_QUERY, token.put())) {
    error = GetLastError();
    return false;
  }
  DWORD size = 0;
  GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
  if (size < sizeof(TOKEN_USER)) {
    error = GetLastError();
    return false;
  }
  tokenUser.assign(size, 0);
  if (!GetTokenInformation(token.get(), TokenUser, tokenUser.data(), size,
                           &size)) {
    error = GetLastError();
    return false;
  }
  return true;
}

PSID UserSid(std::vector<BYTE>& tokenUser) {
  return reinterpret_cast<TOKEN_USER*>(tokenUser.data())->User.Sid;
}

}  // namespace

HostCheck CheckHostProcessAgainst(HANDLE process, DWORD sessionId, PSID user,
                                  DWORD& error) {
  error = 0;
  DWORD session = 0;
  if (!ProcessIdToSessionId(GetProcessId(process), &session)) {
    error = GetLastError();
    return HostCheck::Unchecked;
  }
  if (session != sessionId) return HostCheck::OtherSession;
  std::vector<BYTE> tokenUser;
  if (!TokenUserOf(process, tokenUser, error)) return HostCheck::Unchecked;
  if (!EqualSid(UserSid(tokenUser), user)) return HostCheck::OtherUser;
  const std::wstring image = ProcessImagePath(process);
  if (image.empty()) {
    error = GetLastError();
    return HostCheck::Unchecked;
  }
  const std::wstring longImage = LongPath(image);
  for (const std::wstring& program : RegisteredPrograms())
    if (SamePath(program, longImage)) return HostCheck::Host;
  return HostCheck::OtherProgram;
}

HostCheck CheckHostProcess(HANDLE process, DWORD& error) {
  error = 0;
  DWORD session = 0;
  if (!ProcessIdToSessionId(GetCurrentProcessId(), &session)) {
    error = GetLastError();
    return HostCheck::Unchecked;
  }
  std::vector<BYTE> ownUser;
  if (!TokenUserOf(GetCurrentProcess(), ownUser, error))
    return HostCheck::Unchecked;
  return CheckHostProcessAgainst(process, session, UserSid(ownUser), error);
}

std::wstring ProcessImagePath(HANDLE process) {
  std::vector<wchar_t> buffer(kMaxTextChars);
  DWORD length = kMaxTextChars;
  if (!QueryFullProcessImageNameW(process, 0, buffer.data(), &length))
    return {};
  return std::wstring(buffer.data(), length);
}
