#include <string>
#include <vector>

#include "host/host_identity.h"
#include "host/host_registration.h"
#include "platform/win_resource.h"

namespace {

// The longest path read here, in characters.
constexpr DWORD kMaxTextChars = 32768;

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
// there is one, as long paths.
std::vector<std::wstring> RegisteredPrograms() {
  std::vector<std::wstring> programs;
  for (const HostRegistration& registration : ReadHostRegistrations())
    if (!registration.serverImage.empty())
      programs.push_back(LongPath(registration.serverFile));
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
