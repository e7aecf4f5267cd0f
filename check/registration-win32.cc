#include <windows.h>

#include <string>
#include <vector>

#include "check/registration.h"
#include "host/excel_version.h"
#include "platform/win_resource.h"

namespace {

constexpr DWORD kMaxNameChars = 256;

// 0 when path names a file, otherwise why not.
DWORD FileError(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return GetLastError();
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? ERROR_FILE_NOT_FOUND
                                                      : 0;
}

// 32 or 64 for a program of either kind; 0 when it cannot be told.
int ProgramBits(const std::wstring& path) {
  DWORD type = 0;
  if (!GetBinaryTypeW(path.c_str(), &type)) return 0;
  return type == SCS_64BIT_BINARY ? 64 : type == SCS_32BIT_BINARY ? 32 : 0;
}

// The TOKEN_USER of this process; empty when it cannot be read.
std::vector<BYTE> OwnUser() {
  std::vector<BYTE> user;
  ulvex::UniqueHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()))
    return user;
  DWORD size = 0;
  GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
  if (size < sizeof(TOKEN_USER)) return user;
  user.assign(size, 0);
  if (!GetTokenInformation(token.get(), TokenUser, user.data(), size, &size))
    user.clear();
  return user;
}

// "DOMAIN\user" of sid; empty when it cannot be looked up.
std::wstring AccountName(PSID sid) {
  wchar_t name[kMaxNameChars];
  wchar_t domain[kMaxNameChars];
  DWORD nameChars = kMaxNameChars;
  DWORD domainChars = kMaxNameChars;
  SID_NAME_USE use;
  if (!LookupAccountSidW(nullptr, sid, name, &nameChars, domain, &domainChars,
                         &use))
    return std::wstring();
  return std::wstring(domain) + L"\\" + name;
}

// Looks account up and compares its SID with sid (the name's spelling
// does not matter: "ann", "PC\ann" and "pc\ANN" are one account); false
// with the error when it cannot be looked up.
bool LookUpAccount(const std::wstring& account, PSID sid, bool& same,
                   uint32_t& error) {
  BYTE named[SECURITY_MAX_SID_SIZE];
  DWORD sidSize = sizeof named;
  wchar_t domain[kMaxNameChars];
  DWORD domainChars = kMaxNameChars;
  SID_NAME_USE use;
  if (!LookupAccountNameW(nullptr, account.c_str(), named, &sidSize, domain,
                          &domainChars, &use)) {
    error = GetLastError();
    return false;
  }
  same = EqualSid(named, sid) != FALSE;
  return true;
}

}  // namespace

RegistrationFacts ReadRegistrationFacts(
    const std::vector<HostRegistration>& registrations) {
  RegistrationFacts facts;
  // The classes that were read, where there are any: the words name them.
  facts.elevated =
      registrations.empty() ? RunIsElevated() : registrations[0].machineClasses;
  facts.version = GetExcelVersion();
  facts.versionSource = kExcelVersionSource;
  facts.windows64 = HasView64();
  facts.client64 = sizeof(void*) == 8;
  for (const HostRegistration& registration : registrations) {
    RegistrationFacts::View view;
    view.view64 = registration.view64;
    view.classId = registration.classId;
    view.currentVersion = registration.currentVersion;
    view.serverImage = registration.serverImage;
    if (!registration.serverImage.empty()) {
      view.fileError = FileError(registration.serverFile);
      if (view.fileError == 0) view.bits = ProgramBits(registration.serverFile);
    }
    facts.views.push_back(view);
    // The AppID's settings as ReadDcomFacts takes them: the first view's
    // that has one.
    if (facts.appIdKey.empty() && !registration.appIdKey.empty()) {
      facts.appIdKey = registration.appIdKey;
      facts.preferredBitness = registration.preferredBitness;
    }
  }
  return facts;
}

DcomFacts ReadDcomFacts(const std::vector<HostRegistration>& registrations) {
  DcomFacts facts;
  facts.registered = !registrations.empty();
  const HostRegistration* withAppId = nullptr;
  for (const HostRegistration& registration : registrations)
    if (withAppId == nullptr && !registration.appId.empty())
      withAppId = &registration;
  if (withAppId == nullptr) return facts;
  facts.appIdKey = withAppId->appIdKey;
  facts.runAs = withAppId->runAs;
  facts.readError = static_cast<uint32_t>(withAppId->runAsStatus);
  if (facts.readError != 0) return facts;
  std::vector<BYTE> user = OwnUser();
  if (user.empty()) return facts;
  const PSID sid = reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
  facts.account = AccountName(sid);
  facts.resolved =
      LookUpAccount(facts.runAs, sid, facts.thisAccount, facts.lookupError);
  return facts;
}

bool RunAsNamesAnotherAccount() {
  const DcomFacts facts = ReadDcomFacts(ReadHostRegistrations());
  return facts.resolved && !facts.thisAccount;
}
