#include "diagnosis/desktop_advice.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace {

// A session, a profile and the folders that exist, as a row gives them;
// records which folders were looked at.
class FakeDesktopSystem : public DesktopSystem {
 public:
  SessionFacts facts;
  std::wstring profile;
  SystemFolders folders;
  std::set<std::wstring> present;  // existing, or the system cannot say
  std::vector<std::wstring> lookedAt;

  SessionFacts Session() override { return facts; }
  std::wstring ProfileFolder() override { return profile; }
  SystemFolders Folders() override { return folders; }
  bool FolderMissing(const std::wstring& path) override {
    lookedAt.push_back(path);
    return present.count(path) == 0;
  }
};

SessionFacts Session(uint32_t id, bool visible) {
  return {true, id, true, visible};
}

TEST(DesktopAdviceTest, WhichRunsLackAnInteractiveDesktop) {
  EXPECT_FALSE(LacksInteractiveDesktop(Session(1, true)));
  EXPECT_TRUE(LacksInteractiveDesktop(Session(0, true)));
  EXPECT_TRUE(LacksInteractiveDesktop(Session(2, false)));
  // What could not be read counts as interactive.
  EXPECT_FALSE(LacksInteractiveDesktop(SessionFacts()));
  EXPECT_TRUE(LacksInteractiveDesktop({true, 0, false, false}));
}

TEST(DesktopAdviceTest, FoldersLookedAtAndNamed) {
  // A 32-bit process on 64-bit Windows reaches the native system folder
  // through Sysnative; on 32-bit Windows there is no SysWOW64.
  const SystemFolders wow64 = {L"C:\\WINDOWS\\system32",
                               L"C:\\WINDOWS\\Sysnative",
                               L"C:\\WINDOWS\\SysWOW64"};
  const SystemFolders x86 = {L"C:\\WINDOWS\\system32", L"C:\\WINDOWS\\system32",
                             L""};
  const std::wstring tail = L"\\config\\systemprofile\\Desktop";
  const std::wstring native = L"C:\\WINDOWS\\system32" + tail;
  const std::wstring reached = L"C:\\WINDOWS\\Sysnative" + tail;
  const std::wstring wow = L"C:\\WINDOWS\\SysWOW64" + tail;
  const std::wstring system = L"C:\\Windows\\System32\\config\\systemprofile";
  const std::wstring ann = L"C:\\Users\\ann\\Desktop";
  const struct {
    const char* name;
    SessionFacts facts;
    std::wstring profile;
    SystemFolders folders;
    std::set<std::wstring> present;
    std::vector<std::wstring> lookedAt;
    std::wstring named;  // "" for no advice
  } rows[] = {
      {"interactive", Session(1, true), L"C:\\Users\\ann", wow64, {}, {}, L""},
      {"user profile, no Desktop",
       Session(0, false),
       L"C:\\Users\\ann\\",
       wow64,
       {},
       {ann},
       L"the folder " + ann + L" ("},
      {"user profile with Desktop",
       Session(0, false),
       L"C:\\Users\\ann",
       wow64,
       {ann},
       {ann},
       L""},
      {"system profile, both missing",
       Session(0, false),
       system,
       wow64,
       {},
       {reached, wow},
       L"the folders " + native + L" and " + wow + L" ("},
      {"system profile, 32-bit one missing",
       Session(0, false),
       system,
       wow64,
       {reached},
       {reached, wow},
       L"the folder " + wow + L" ("},
      {"system profile named by SysWOW64",
       Session(0, true),
       L"C:\\WINDOWS\\SysWOW64\\config\\systemprofile",
       wow64,
       {wow},
       {reached, wow},
       L"the folder " + native + L" ("},
      {"system profile, 32-bit Windows",
       Session(0, false),
       system,
       x86,
       {},
       {native},
       L"the folder " + native + L" ("},
      {"no profile known", Session(0, false), L"", wow64, {}, {}, L""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    FakeDesktopSystem fake;
    fake.facts = row.facts;
    fake.profile = row.profile;
    fake.folders = row.folders;
    fake.present = row.present;
    const std::wstring advice = DesktopAdvice(fake);
    EXPECT_EQ(fake.lookedAt, row.lookedAt);
    // The same folders, each once, with what was found for it.
    fake.lookedAt.clear();
    const std::vector<DesktopFolderState> states = DesktopFolderStates(fake);
    ASSERT_EQ(states.size(), row.lookedAt.size());
    for (const DesktopFolderState& state : states)
      EXPECT_EQ(state.missing,
                row.named.find(state.shown + L" ") != std::wstring::npos ||
                    row.named.find(state.shown + L" (") != std::wstring::npos)
          << testing::PrintToString(state.shown);
    if (row.named.empty()) {
      EXPECT_EQ(advice, L"");
      continue;
    }
    // One line that names what to create, says why, and creates nothing.
    EXPECT_NE(advice.find(L"create " + row.named), std::wstring::npos)
        << testing::PrintToString(advice);
    EXPECT_EQ(advice.find(L'\n'), std::wstring::npos);
    EXPECT_NE(advice.find(L"no interactive desktop"), std::wstring::npos);
    EXPECT_NE(advice.find(L"this program does not create"), std::wstring::npos);
  }
}

}  // namespace
