#include <windows.h>
// Needs <windows.h> first.
#include <aclapi.h>

#include "platform/integrity_label.h"
#include "platform/win_resource.h"

namespace ulvex {

namespace {

constexpr DWORD kPolicy =
    SYSTEM_MANDATORY_LABEL_NO_READ_UP | SYSTEM_MANDATORY_LABEL_NO_WRITE_UP;
// Room for an object's labels as the system gives them; a larger answer is
// taken as no fitting label, and the label is set anew.
constexpr DWORD kLabelQueryBytes = 512;

bool IsMediumLevel(PSID sid) {
  return IsValidSid(sid) && IsWellKnownSid(sid, WinMediumLabelSid);
}

}  // namespace

MediumLabel::MediumLabel() {
  DWORD sidSize = sizeof sid_;
  const PACL acl = reinterpret_cast<PACL>(acl_);
  // NOTE: the entry holds no inheritance flags: the folder's label guards
  // the folder, each file is given its own.
  made_ = CreateWellKnownSid(WinMediumLabelSid, nullptr, sid_, &sidSize) &&
          InitializeAcl(acl, sizeof acl_, ACL_REVISION) &&
          AddMandatoryAce(acl, ACL_REVISION, 0, kPolicy, sid_) &&
          InitializeSecurityDescriptor(&descriptor_,
                                       SECURITY_DESCRIPTOR_REVISION) &&
          SetSecurityDescriptorSacl(&descriptor_, TRUE, acl, FALSE);
  attributes_.nLength = sizeof attributes_;
  attributes_.lpSecurityDescriptor = &descriptor_;
  attributes_.bInheritHandle = FALSE;
}

bool CarriesMediumLabel(PSECURITY_DESCRIPTOR descriptor) {
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL acl = nullptr;
  if (descriptor == nullptr ||
      !GetSecurityDescriptorSacl(descriptor, &present, &acl, &defaulted) ||
      !present || acl == nullptr)
    return false;
  for (DWORD i = 0; i < acl->AceCount; ++i) {
    void* entry = nullptr;
    if (!GetAce(acl, i, &entry)) return false;
    const auto* header = static_cast<const ACE_HEADER*>(entry);
    if (header->AceType != SYSTEM_MANDATORY_LABEL_ACE_TYPE) continue;
    auto* label = static_cast<SYSTEM_MANDATORY_LABEL_ACE*>(entry);
    // An object has one label: this one decides.
    return IsMediumLevel(&label->SidStart) &&
           (label->Mask & kPolicy) == kPolicy;
  }
  return false;
}

bool GiveMediumLabel(const std::wstring& path) {
  // Reading the label needs READ_CONTROL, setting it WRITE_OWNER; neither
  // touches the data, so the file's sharing does not stand in the way.
  // FILE_FLAG_BACKUP_SEMANTICS lets a folder be opened too.
  UniqueFileHandle object(
      CreateFileW(path.c_str(), READ_CONTROL | WRITE_OWNER,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!object) return false;
  DWORD held[kLabelQueryBytes / sizeof(DWORD)] = {};
  DWORD needed = 0;
  if (GetKernelObjectSecurity(object.get(), LABEL_SECURITY_INFORMATION, held,
                              sizeof held, &needed) &&
      CarriesMediumLabel(held))
    return true;
  MediumLabel label;
  // NOTE: for files and folders the documentation asks for SetSecurityInfo,
  // not SetKernelObjectSecurity.
  return label.labels() != nullptr &&
         SetSecurityInfo(object.get(), SE_FILE_OBJECT,
                         LABEL_SECURITY_INFORMATION, nullptr, nullptr, nullptr,
                         label.labels()) == ERROR_SUCCESS;
}

}  // namespace ulvex
