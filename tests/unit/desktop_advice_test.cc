#include "host/desktop_advice.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace {

// A session, a profile and the folders that exist, as a test gives them;
// it records which folders were looked at.
class FakeDesktopSystem : public DesktopSystem {
 public:
  SessionFacts facts;
  std::wstring profile;
  SystemFolders folders;
  std::set<std::wstring> existing;
  std::set<std::wstring> unreadable;  // the system cannot say
  std::vector<std::wstring> lookedAt;

  SessionFacts Session() override { return facts; }
  std::wstring ProfileFolder() override { return profile; }
  SystemFolders Folders() override { return folders; }
  bool FolderMissing(const std::wstring& path) override {
    lookedAt.push_back(path);
    return existing.count(path) == 0 && unreadable.count(path) == 0;
  }
};

SessionFacts Session(uint32_t id, bool visible) {
  SessionFacts facts;
  facts.sessionKnown = true;
  facts.sessionId = id;
  facts.stationKnown = true;
  facts.stationVisible = visible;
  return facts;
}

TEST(DesktopAdviceTest, WhichRunsLackAnInteractiveDesktop) {
  const struct {
    const char* name;
    SessionFacts facts;
    bool lacks;
  } rows[] = {
      {"user's desktop", Session(1, true), false},
      {"session 0", Session(0, true), true},
      {"hidden window station in a user's session", Session(2, false), true},
      {"session 0, hidden station", Session(0, false), true},
      {"nothing could be read", SessionFacts(), false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(LacksInteractiveDesktop(row.facts), row.lacks);
  }
  SessionFacts onlySession;
  onlySession.sessionKnown = true;
  onlySession.sessionId = 0;
  EXPECT_TRUE(LacksInteractiveDesktop(onlySession));
}

// The native and 32-bit system folders of a 64-bit Windows as a 32-bit
// process sees them.
SystemFolders Wow64Folders() {
  return {L"C:\\WINDOWS\\system32", L"C:\\WINDOWS\\Sysnative",
          L"C:\\WINDOWS\\SysWOW64"};
}

TEST(DesktopAdviceTest, FoldersNamedAndLookedAt) {
  const std::wstring native =
      L"C:\\WINDOWS\\system32\\config\\systemprofile\\Desktop";
  const std::wstring nativeReached =
      L"C:\\WINDOWS\\Sysnative\\config\\systemprofile\\Desktop";
  const std::wstring wow =
      L"C:\\WINDOWS\\SysWOW64\\config\\systemprofile\\Desktop";
  const struct {
    const char* name;
    SessionFacts facts;
    std::wstring profile;
    SystemFolders folders;
    std::set<std::wstring> existing;
    std::vector<std::wstring> lookedAt;
    std::wstring named;  // "" for no advice
  } rows[] = {
      {"interactive: nothing looked at",
       Session(1, true),
       L"C:\\Users\\ann",
       Wow64Folders(),
       {},
       {},
       L""},
      {"user profile without Desktop",
       Session(0, false),
       L"C:\\Users\\ann",
       Wow64Folders(),
       {},
       {L"C:\\Users\\ann\\Desktop"},
       L"the folder C:\\Users\\ann\\Desktop ("},
      {"user profile with Desktop",
       Session(0, false),
       L"C:\\Users\\ann\\",
       Wow64Folders(),
       {L"C:\\Users\\ann\\Desktop"},
       {L"C:\\Users\\ann\\Desktop"},
       L""},
      {"system profile, 64-bit Windows, both missing",
       Session(0, false),
       L"C:\\Windows\\System32\\config\\systemprofile",
       Wow64Folders(),
       {},
       {nativeReached, wow},
       L"the folders " + native + L" and " + wow + L" ("},
      {"system profile, only the 32-bit one missing",
       Session(0, false),
       L"C:\\Windows\\System32\\config\\systemprofile",
       Wow64Folders(),
       {nativeReached},
       {nativeReached, wow},
       L"the folder " + wow + L" ("},
      {"system profile, only the native one missing",
       Session(0, true),
       L"C:\\WINDOWS\\SysWOW64\\config\\systemprofile",
       Wow64Folders(),
       {wow},
       {nativeReached, wow},
       L"the folder " + native + L" ("},
      {"system profile, 32-bit Windows",
       Session(0, false),
       L"C:\\WINDOWS\\system32\\config\\systemprofile",
       {L"C:\\WINDOWS\\system32", L"C:\\WINDOWS\\system32", L""},
       {},
       {native},
       L"the folder " + native + L" ("},
      {"no profile known", Session(0, false), L"", Wow64Folders(), {}, {}, L""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    FakeDesktopSystem system;
    system.facts = row.facts;
    system.profile = row.profile;
    system.folders = row.folders;
    system.existing = row.existing;
    const std::wstring advice = DesktopAdvice(system);
    EXPECT_EQ(system.lookedAt, row.lookedAt);
    if (row.named.empty()) {
      EXPECT_EQ(advice, L"");
      continue;
    }
    EXPECT_NE(advice.find(L"create " + row.named), std::wstring::npos)
        << testing::PrintToString(advice);
    // One line, which says why and that nothing was created.
    EXPECT_EQ(advice.find(L'\n'), std::wstring::npos);
    EXPECT_NE(advice.find(L"no interactive desktop"), std::wstring::npos);
    EXPECT_NE(advice.find(L"this program does not create"), std::wstring::npos);
  }
}

// A folder the system cannot look at is not said to be missing.
TEST(DesktopAdviceTest, UnreadableFolderGivesNoAdvice) {
  FakeDesktopSystem system;
  system.facts = Session(0, false);
  system.profile = L"C:\\Users\\svc";
  system.unreadable = {L"C:\\Users\\svc\\Desktop"};
  EXPECT_EQ(DesktopAdvice(system), L"");
}

}  // namespace
