#include <string>
#include <vector>

#include "ownership/host_identity.h"
#include "ownership/host_registration.h"
#include "platform/win_resource.h"

namespace {

// The longest path read here, in characters.
constexpr DWORD kMaxTextChars = 32768;

// What a process's token says of it.
struct TokenFacts {
  std::vector<BYTE> user;  // a TOKEN_USER
  DWORD sessionId = 0;
  DWORD integrityLevel = 0;

  PSID UserSid() {
    return reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
  }
};

// One variable-sized token information; false with the error.
bool ReadTokenData(HANDLE token, TOKEN_INFORMATION_CLASS kind,
                   std::vector<BYTE>& data, DWORD& error) {
  DWORD size = 0;
  GetTokenInformation(token, kind, nullptr, 0, &size);
  if (size == 0) {
    error = GetLastError();
    return false;
  }
  data.assign(size, 0);
  if (!GetTokenInformation(token, kind, data.data(), size, &size)) {
    error = GetLastError();
    return false;
  }
  return true;
}

// The user, session and integrity level of process's token; false with
// the error. NOTE: the session is read from the token rather than by
// process ID: ProcessIdToSessionId asks for more access to the process
// than the token does, and may fail for an elevated process.
bool ReadTokenFacts(HANDLE process, TokenFacts& facts, DWORD& error) {
  ulvex::UniqueHandle token;
  if (!OpenProcessToken(process, TOKEN_QUERY, token.put())) {
    error = GetLastError();
    return false;
  }
  std::vector<BYTE> label;
  DWORD size = 0;
  if (!ReadTokenData(token.get(), TokenUser, facts.user, error) ||
      !ReadTokenData(token.get(), TokenIntegrityLevel, label, error))
    return false;
  if (!GetTokenInformation(token.get(), TokenSessionId, &facts.sessionId,
                           sizeof facts.sessionId, &size)) {
    error = GetLastError();
    return false;
  }
  const PSID level =
      reinterpret_cast<TOKEN_MANDATORY_LABEL*>(label.data())->Label.Sid;
  if (!IsValidSid(level) || *GetSidSubAuthorityCount(level) == 0) {
    error = ERROR_INVALID_SID;
    return false;
  }
  facts.integrityLevel =
      *GetSidSubAuthority(level, *GetSidSubAuthorityCount(level) - 1);
  return true;
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

bool SamePath(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                              static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// Which file a path names, whatever its spelling (a junction, a subst
// drive, a short name, another case).
struct FileId {
  DWORD volume = 0;
  DWORD indexHigh = 0;
  DWORD indexLow = 0;
};

// NOTE: the volume's serial number and the file index name one file on the
// machine; on ReFS the 64-bit index may not be unique (its 128-bit one
// needs Windows 8), a risk taken for a file that must also be the image of
// a process of the run's user, session and integrity level.
bool ReadFileId(const std::wstring& path, FileId& id) {
  if (path.empty()) return false;
  // Attributes only: no sharing conflict with a running image.
  ulvex::UniqueFileHandle file(
      CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  BY_HANDLE_FILE_INFORMATION information{};
  if (!GetFileInformationByHandle(file.get(), &information)) return false;
  id.volume = information.dwVolumeSerialNumber;
  id.indexHigh = information.nFileIndexHigh;
  id.indexLow = information.nFileIndexLow;
  return true;
}

bool SameFile(const FileId& a, const FileId& b) {
  return a.volume == b.volume && a.indexHigh == b.indexHigh &&
         a.indexLow == b.indexLow;
}

// The process's image as this process reaches the file: a 64-bit
// process's path, read from a 32-bit one, may lie in the system folder.
std::wstring ImageAsReached(HANDLE process, const std::wstring& image) {
  BOOL wow64 = FALSE;
  if (IsWow64Process(process, &wow64) && !wow64)
    return NativePathAsReached(image);
  return image;
}

// Whether process's program is one of the registered servers.
HostCheck CheckProgram(HANDLE process, HostCheckDetail& detail) {
  const std::wstring image = ProcessImagePath(process);
  if (image.empty()) {
    detail.error = GetLastError();
    return HostCheck::Unchecked;
  }
  const std::wstring imageFile = ImageAsReached(process, image);
  FileId imageId;
  const bool imageOpened = ReadFileId(imageFile, imageId);
  bool byPath = false;
  for (const HostRegistration& registration : ReadHostRegistrations()) {
    if (registration.serverImage.empty()) continue;
    FileId serverId;
    if (imageOpened && ReadFileId(registration.serverFile, serverId)) {
      if (!SameFile(imageId, serverId)) continue;
      detail.byPath = false;
      return HostCheck::Host;
    }
    byPath = true;
    if (SamePath(LongPath(registration.serverFile), LongPath(imageFile))) {
      detail.byPath = true;
      return HostCheck::Host;
    }
  }
  detail.byPath = byPath;
  return HostCheck::OtherProgram;
}

}  // namespace

HostCheck CheckHostProcessAgainst(HANDLE process, const RunIdentity& run,
                                  HostCheckDetail& detail) {
  detail = HostCheckDetail();
  TokenFacts facts;
  if (!ReadTokenFacts(process, facts, detail.error))
    return HostCheck::Unchecked;
  if (!EqualSid(facts.UserSid(), run.user)) return HostCheck::OtherUser;
  const HostCheck program = CheckProgram(process, detail);
  if (program != HostCheck::Host) return program;
  if (facts.sessionId != run.sessionId) return HostCheck::OtherSession;
  if (facts.integrityLevel != run.integrityLevel)
    return HostCheck::OtherIntegrity;
  return HostCheck::Host;
}

HostCheck CheckHostProcess(HANDLE process, HostCheckDetail& detail) {
  detail = HostCheckDetail();
  TokenFacts own;
  if (!ReadTokenFacts(GetCurrentProcess(), own, detail.error))
    return HostCheck::Unchecked;
  RunIdentity run;
  run.sessionId = own.sessionId;
  run.user = own.UserSid();
  run.integrityLevel = own.integrityLevel;
  return CheckHostProcessAgainst(process, run, detail);
}

const char* HostCheckReason(HostCheck check) {
  switch (check) {
    case HostCheck::OtherProgram:
      return "its program is not the registered Excel";
    case HostCheck::OtherSession:
      return "it runs in another session";
    case HostCheck::OtherUser:
      return "it runs as another user";
    case HostCheck::OtherIntegrity:
      return "it runs at another integrity level";
    default:
      return "";
  }
}

std::wstring ProcessImagePath(HANDLE process) {
  std::vector<wchar_t> buffer(kMaxTextChars);
  DWORD length = kMaxTextChars;
  if (!QueryFullProcessImageNameW(process, 0, buffer.data(), &length))
    return {};
  return std::wstring(buffer.data(), length);
}
