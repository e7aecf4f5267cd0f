#include "platform/install_paths.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <winternl.h>

#include <string>

#include "check/install_files.h"
#include "tests/support/run_program.h"

namespace {

// Makes the loader report path as this program's own file while it lives,
// so that the platform's own module path query (and its cutting off at the
// caller's buffer) meets the code under test.
// NOTE: a program at a path of MAX_PATH or more cannot be started through
// Wine's CreateProcess, so this is how such a path is tested.
class ModulePathOverride {
 public:
  // An empty path leaves the real one in place.
  explicit ModulePathOverride(const std::wstring& path) : path_(path) {
    if (path_.empty()) return;
    const PEB* peb = NtCurrentTeb()->ProcessEnvironmentBlock;
    LIST_ENTRY* head = &peb->Ldr->InMemoryOrderModuleList;
    for (LIST_ENTRY* link = head->Flink; link != head; link = link->Flink) {
      auto* entry =
          CONTAINING_RECORD(link, LDR_DATA_TABLE_ENTRY, InMemoryOrderLinks);
      if (entry->DllBase != GetModuleHandleW(nullptr)) continue;
      entry_ = entry;
      saved_ = entry->FullDllName;
      entry->FullDllName.Buffer = &path_[0];
      entry->FullDllName.Length = static_cast<USHORT>(path_.size() * 2);
      entry->FullDllName.MaximumLength = entry->FullDllName.Length + 2;
      return;
    }
  }
  ~ModulePathOverride() {
    if (entry_ != nullptr) entry_->FullDllName = saved_;
  }
  bool active() const { return entry_ != nullptr; }

 private:
  std::wstring path_;
  LDR_DATA_TABLE_ENTRY* entry_ = nullptr;
  UNICODE_STRING saved_{};
};

TEST(InstallPathsTest, PathsAreBuiltOnTheProgramsFolder) {
  // Its first 259 characters end inside the folder name.
  const std::wstring deep = L"C:\\" + std::wstring(300, L'd');
  // Letters outside any ANSI code page, past the 260th character too.
  const std::wstring script =
      L"C:\\\u0395\u03bb\u03bb\u03ac\u03b4\u03b1 Pr\u00fcfung \u6d4b\u8bd5";
  const std::wstring deepScript = script + L"\\" + std::wstring(260, L'\u03a9');
  struct Row {
    const char* label;
    std::wstring modulePath;  // empty: the real one, left alone
    std::wstring folder;
  };
  const Row rows[] = {
      {"own path", L"", ulvex_test::BinFolder()},
      {"C:\\Tools", L"C:\\Tools\\UlvexCmdLine.exe", L"C:\\Tools"},
      {"cut off in the folder", deep + L"\\UlvexCmdLine.exe", deep},
      {"any script", script + L"\\UlvexCmdLine.exe", script},
      {"any script, cut off", deepScript + L"\\UlvexCmdLine.exe", deepScript},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    ModulePathOverride override(row.modulePath);
    if (!row.modulePath.empty()) ASSERT_TRUE(override.active());
    EXPECT_EQ(row.folder, GetInstallFolder());
    EXPECT_EQ(row.folder + L"\\Ulvex_32.exe", GetProductExePath());
    EXPECT_EQ(row.folder + L"\\App\\Ulvex", GetAddinWorkbookPath());
    EXPECT_EQ(row.folder + L"\\StackTrace.txt", GetWorkingFilePath());
  }
}

// The add-in workbook's mark of the web is read from its Zone.Identifier
// stream by its path. NOTE: Wine keeps no alternate data streams, so a
// plain file holds the stream's text here; the decision on the zone is
// tested natively (VerdictsTest.TheMarkOfTheWeb).
TEST(InstallPathsTest, TheMarkOfTheWebIsReadFromItsStream) {
  wchar_t folder[MAX_PATH + 1] = {};
  ASSERT_NE(GetTempPathW(MAX_PATH + 1, folder), 0u);
  const std::wstring path = std::wstring(folder) + L"zone-identifier-test";
  const struct {
    const char* name;
    std::string bytes;  // none: no stream
    int zone;
  } rows[] = {
      {"from the internet", "[ZoneTransfer]\r\nZoneId=3\r\n", 3},
      {"as UTF-16", std::string("\xFF\xFEZ\0o\0n\0e\0I\0d\0=\0004\0", 18), 4},
      {"no stream", "", 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    DeleteFileW(path.c_str());
    if (!row.bytes.empty()) {
      const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr,
                                      CREATE_ALWAYS, 0, nullptr);
      ASSERT_NE(file, INVALID_HANDLE_VALUE);
      DWORD written = 0;
      WriteFile(file, row.bytes.data(), static_cast<DWORD>(row.bytes.size()),
                &written, nullptr);
      CloseHandle(file);
    }
    EXPECT_EQ(ReadZoneId(path), row.zone);
  }
  DeleteFileW(path.c_str());
  // The real stream's path: none under Wine, and no failure.
  EXPECT_EQ(ReadZoneId(path + L":Zone.Identifier"), 0);
}

}  // namespace
