#include "handoff/cache_cleanup.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "handoff/cache_patterns.h"
#include "platform/install_paths.h"
#include "tests/support/install_folder.h"
#include "tests/support/run_program.h"

namespace {

using ulvex_test::FileAttributes;
using ulvex_test::RemoveTree;

// Sets (or with nullptr removes) a variable of the process environment,
// restoring the old value when the scope ends.
class ScopedVariable {
 public:
  ScopedVariable(const wchar_t* name, const wchar_t* value) : name_(name) {
    wchar_t old[32768];
    const DWORD length = GetEnvironmentVariableW(name, old, 32768);
    if (length > 0 && length < 32768) old_ = old, hadOld_ = true;
    SetEnvironmentVariableW(name, value);
  }
  ~ScopedVariable() {
    SetEnvironmentVariableW(name_, hadOld_ ? old_.c_str() : nullptr);
  }

 private:
  const wchar_t* name_;
  std::wstring old_;
  bool hadOld_ = false;
};

bool MakeFolders(const std::wstring& path) {
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i != path.size() && path[i] != L'\\') continue;
    const std::wstring part = path.substr(0, i);
    if (part.size() <= 2) continue;
    if (!CreateDirectoryW(part.c_str(), nullptr) &&
        GetLastError() != ERROR_ALREADY_EXISTS)
      return false;
  }
  return true;
}

bool MakeFile(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr,
                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
}

bool Exists(const std::wstring& path) {
  return FileAttributes(path) != INVALID_FILE_ATTRIBUTES;
}

// A fresh folder tree for one test under the system's temporary folder.
class TempTree {
 public:
  explicit TempTree(const std::wstring& name) {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    root_ = std::wstring(temp) + L"ulvex-" + name + L"-" +
            std::to_wstring(GetCurrentProcessId());
    RemoveTree(root_);
    MakeFolders(root_);
  }
  ~TempTree() { RemoveTree(root_); }
  const std::wstring& root() const { return root_; }

 private:
  std::wstring root_;
};

// The five cache folders relative to APPDATA and TEMP.
const wchar_t* const kAppDataFolders[] = {L"microsoft\\forms"};
const wchar_t* const kTempFolders[] = {L"vbe", L"excel8.0", L"word8.0",
                                       L"PPT11.0"};

struct Entry {
  const wchar_t* name;
  bool folder;
  bool readOnly;
  bool deleted;
};
const Entry kEntries[] = {
    {L"one.exd", false, false, true},
    {L"Two Words.EXD", false, false, true},
    {L"keep.txt", false, false, false},
    {L"keep.exd.txt", false, false, false},
    {L"keep.exdata", false, false, false},
    {L"locked.exd", false, true, false},
    {L"folder.exd", true, false, false},
};

TEST(CacheCleanupTest, DeletesExdFilesInTheFiveFolders) {
  // The last names letters that no ANSI code page holds together.
  const std::wstring names[] = {
      L"plain", L"with spaces", L"Caf\u00e9 \u00fc",
      L"\u0395\u03bb\u03bb\u03ac\u03b4\u03b1 Pr\u00fcfung \u6d4b\u8bd5"};
  for (const std::wstring& name : names) {
    SCOPED_TRACE(ulvex_test::Narrow(name));
    TempTree tree(L"cache");
    const std::wstring appData = tree.root() + L"\\App Data " + name;
    const std::wstring temp = tree.root() + L"\\Temp " + name;
    std::vector<std::wstring> folders;
    for (const wchar_t* folder : kAppDataFolders)
      folders.push_back(appData + L"\\" + folder);
    for (const wchar_t* folder : kTempFolders)
      folders.push_back(temp + L"\\" + folder);
    // A folder that is not a cache folder keeps its .exd files.
    folders.push_back(temp + L"\\other");
    for (const auto& folder : folders) {
      ASSERT_TRUE(MakeFolders(folder));
      for (const Entry& entry : kEntries) {
        const std::wstring path = folder + L"\\" + entry.name;
        ASSERT_TRUE(entry.folder ? MakeFolders(path) : MakeFile(path));
        if (entry.folder) ASSERT_TRUE(MakeFile(path + L"\\inner.exd"));
        if (entry.readOnly)
          ASSERT_TRUE(
              SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
      }
    }
    ScopedVariable setAppData(L"APPDATA", appData.c_str());
    ScopedVariable setTemp(L"TEMP", temp.c_str());

    testing::internal::CaptureStdout();
    DeleteOfficeCaches();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

    for (const auto& folder : folders) {
      const bool cache = folder.substr(folder.size() - 6) != L"\\other";
      for (const Entry& entry : kEntries) {
        const std::wstring path = folder + L"\\" + entry.name;
        SCOPED_TRACE(ulvex_test::Narrow(path));
        EXPECT_EQ(Exists(path), !(cache && entry.deleted));
        if (entry.folder) EXPECT_TRUE(Exists(path + L"\\inner.exd"));
      }
    }
  }
}

TEST(CacheCleanupTest, MissingFoldersUnsetVariablesAndTooLongValues) {
  TempTree tree(L"missing");
  // A folder with a cache file, for the rows that still run.
  const std::wstring forms = tree.root() + L"\\microsoft\\forms";
  ASSERT_TRUE(MakeFolders(forms));
  const std::wstring root = tree.root();
  const std::wstring tooLong =
      root + L"\\" + std::wstring(kPathBufferSize, L'x');
  const struct {
    const char* name;
    const wchar_t* appData;
    const wchar_t* temp;  // nullptr: not set
    bool formsCleaned;
  } cases[] = {
      {"none of the cache folders exist", root.c_str(), root.c_str(), true},
      // The temporary-folder rows then search under the current drive's
      // root (nothing is there here); the APPDATA row still runs.
      {"TEMP not set", root.c_str(), nullptr, true},
      {"APPDATA too long: that row is skipped", tooLong.c_str(), root.c_str(),
       false},
      {"TEMP too long", root.c_str(), tooLong.c_str(), true},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(row.name);
    ASSERT_TRUE(MakeFile(forms + L"\\cache.exd"));
    ScopedVariable setAppData(L"APPDATA", row.appData);
    ScopedVariable setTemp(L"TEMP", row.temp);
    testing::internal::CaptureStdout();
    DeleteOfficeCaches();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(Exists(forms + L"\\cache.exd"), !row.formsCleaned);
  }
}

TEST(CacheCleanupTest, GetEnvString) {
  const std::wstring longValue(32766, L'\u6d4b');
  ScopedVariable set(L"ULVEX_TEST_VARIABLE", L"a b\u00e9\u03a9\u6d4b");
  ScopedVariable setLong(L"ULVEX_TEST_LONG", longValue.c_str());
  ScopedVariable unset(L"ULVEX_TEST_UNSET", nullptr);
  EXPECT_EQ(GetEnvString(L"ULVEX_TEST_VARIABLE"), L"a b\u00e9\u03a9\u6d4b");
  EXPECT_EQ(GetEnvString(L"ULVEX_TEST_LONG"), longValue);
  EXPECT_EQ(GetEnvString(L"ULVEX_TEST_UNSET"), L"");
}

TEST(CacheCleanupTest, DeleteMatchingFilesTakesAnyPattern) {
  TempTree tree(L"pattern");
  const std::wstring folder = tree.root() + L"\\d";
  ASSERT_TRUE(MakeFolders(folder));
  const struct {
    const char* name;
    std::wstring pattern;
    std::vector<const wchar_t*> deleted, kept;
  } cases[] = {
      {"wildcard name", folder + L"\\*.exd", {L"a.exd", L"b.exd"}, {L"c.txt"}},
      {"slash separator", folder + L"/*.exd", {L"a.exd", L"b.exd"}, {L"c.txt"}},
      {"one file", folder + L"\\c.txt", {L"c.txt"}, {L"a.exd", L"b.exd"}},
      // The search also matches the 8.3 name "X~1.EXD".
      {"longer extension kept", folder + L"\\*.exd", {L"a.exd"}, {L"x.exdata"}},
      {"case-insensitive", folder + L"\\*.EXD", {L"a.exd"}, {L"c.txt"}},
      {"question mark",
       folder + L"\\?.exd",
       {L"a.exd", L"b.exd"},
       {L"x.exdata"}},
      {"no match", folder + L"\\*.none", {}, {L"a.exd", L"c.txt"}},
      {"missing folder", folder + L"\\missing\\*.exd", {}, {L"a.exd"}},
      {"empty pattern", L"", {}, {L"a.exd"}},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(row.name);
    for (const wchar_t* name : {L"a.exd", L"b.exd", L"c.txt", L"x.exdata"})
      ASSERT_TRUE(MakeFile(folder + L"\\" + name));
    testing::internal::CaptureStdout();
    DeleteMatchingFiles(row.pattern);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    for (const wchar_t* name : row.deleted)
      EXPECT_FALSE(Exists(folder + L"\\" + name)) << ulvex_test::Narrow(name);
    for (const wchar_t* name : row.kept)
      EXPECT_TRUE(Exists(folder + L"\\" + name)) << ulvex_test::Narrow(name);
  }
}

TEST(CacheCleanupTest, WorkingFileReadOnlyFlagIsCleared) {
  std::wstring path;
  ASSERT_TRUE(!GetInstallFolder().empty());
  path = GetWorkingFilePath();
  ASSERT_FALSE(Exists(path)) << "left over: " << ulvex_test::Narrow(path);
  // Attributes the platform keeps as set (Wine reports every plain file
  // as archive).
  constexpr DWORD kCompared =
      FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  const struct {
    const char* name;
    bool exists;
    DWORD attributes;
    DWORD after;  // of kCompared
  } cases[] = {
      {"read-only becomes writable", true, FILE_ATTRIBUTE_READONLY, 0},
      {"other attributes kept", true,
       FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_HIDDEN},
      {"writable left alone", true, FILE_ATTRIBUTE_HIDDEN,
       FILE_ATTRIBUTE_HIDDEN},
      {"missing: not created", false, 0, 0},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(row.name);
    if (row.exists) {
      ASSERT_TRUE(MakeFile(path));
      ASSERT_TRUE(SetFileAttributesW(path.c_str(), row.attributes));
      ASSERT_EQ(FileAttributes(path) & kCompared, row.attributes);
    }
    testing::internal::CaptureStdout();
    PrepareWorkingFile();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    if (row.exists)
      EXPECT_EQ(FileAttributes(path) & kCompared, row.after);
    else
      EXPECT_FALSE(Exists(path));
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(path.c_str());
  }
}

}  // namespace
