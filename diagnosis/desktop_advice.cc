#include "diagnosis/desktop_advice.h"

#include <vector>

namespace {

constexpr wchar_t kSystemProfile[] = L"\\config\\systemprofile";
constexpr wchar_t kDesktop[] = L"\\Desktop";

wchar_t FoldAscii(wchar_t unit) {
  return unit >= L'A' && unit <= L'Z' ? static_cast<wchar_t>(unit + 32) : unit;
}

// Paths compare without regard to the case of ASCII letters, as the file
// system does for these folders' names.
bool SamePath(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  return true;
}

std::wstring WithoutTrailingSlash(std::wstring path) {
  while (path.size() > 3 && (path.back() == L'\\' || path.back() == L'/'))
    path.pop_back();
  return path;
}

struct Folder {
  std::wstring shown;    // as the line names it
  std::wstring checked;  // as this process reaches it
};

std::vector<Folder> DesktopFolders(const std::wstring& profile,
                                   const SystemFolders& folders) {
  const std::wstring system = WithoutTrailingSlash(folders.system);
  const std::wstring wow64 = WithoutTrailingSlash(folders.wow64);
  const bool systemProfile =
      (!system.empty() && SamePath(profile, system + kSystemProfile)) ||
      (!wow64.empty() && SamePath(profile, wow64 + kSystemProfile));
  if (!systemProfile) return {{profile + kDesktop, profile + kDesktop}};
  const std::wstring tail = std::wstring(kSystemProfile) + kDesktop;
  std::wstring access = WithoutTrailingSlash(folders.systemAccess);
  if (access.empty()) access = system;
  std::vector<Folder> desktops;
  if (!system.empty()) desktops.push_back({system + tail, access + tail});
  if (!wow64.empty()) desktops.push_back({wow64 + tail, wow64 + tail});
  return desktops;
}

}  // namespace

bool LacksInteractiveDesktop(const SessionFacts& facts) {
  return (facts.sessionKnown && facts.sessionId == 0) ||
         (facts.stationKnown && !facts.stationVisible);
}

std::vector<DesktopFolderState> DesktopFolderStates(DesktopSystem& system) {
  if (!LacksInteractiveDesktop(system.Session())) return {};
  const std::wstring profile = WithoutTrailingSlash(system.ProfileFolder());
  if (profile.empty()) return {};
  std::vector<DesktopFolderState> states;
  for (const Folder& folder : DesktopFolders(profile, system.Folders()))
    states.push_back({folder.shown, system.FolderMissing(folder.checked)});
  return states;
}

std::wstring DesktopAdvice(DesktopSystem& system) {
  std::vector<std::wstring> missing;
  for (const DesktopFolderState& folder : DesktopFolderStates(system))
    if (folder.missing) missing.push_back(folder.shown);
  if (missing.empty()) return std::wstring();

  std::wstring names = missing[0];
  for (size_t i = 1; i < missing.size(); ++i)
    names += (i + 1 == missing.size() ? L" and " : L", ") + missing[i];
  const bool one = missing.size() == 1;
  return L"This run has no interactive desktop (session 0 or a hidden window "
         L"station, as for a task set to run whether the user is logged on "
         L"or not, or a service), where Excel's Open fails or never returns "
         L"while the Desktop folder of the account's profile is missing: "
         L"create " +
         std::wstring(one ? L"the folder " : L"the folders ") + names +
         L" (this program does not create " + (one ? L"it" : L"them") +
         L") and run the task again.";
}
