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

// ANSI text of wide text; false when the ANSI code page cannot show it.
bool ToAnsi(const std::wstring& text, std::string& ansi) {
  BOOL lost = FALSE;
  char buffer[1024] = {};
  const int length = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, buffer,
                                         sizeof buffer, nullptr, &lost);
  if (length <= 0 || lost) return false;
  ansi = buffer;
  return true;
}

// Sets (or with nullptr removes) a variable for getenv, restoring the old
// value when the scope ends.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const char* value) : name_(name) {
    const char* old = getenv(name);
    if (old != nullptr) old_ = old, hadOld_ = true;
    Set(value);
  }
  ~ScopedVariable() { Set(hadOld_ ? old_.c_str() : nullptr); }

 private:
  void Set(const char* value) {
    // An empty value removes the variable.
    _putenv_s(name_, value != nullptr ? value : "");
  }
  const char* name_;
  std::string old_;
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
  const std::wstring names[] = {L"plain", L"with spaces", L"Caf\u00e9 \u00fc"};
  for (const std::wstring& name : names) {
    std::string ansiName;
    if (!ToAnsi(name, ansiName)) {
      ADD_FAILURE() << "ANSI code page " << GetACP() << " lacks a character";
      continue;
    }
    SCOPED_TRACE(ansiName);
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
    std::string ansiAppData, ansiTemp;
    ASSERT_TRUE(ToAnsi(appData, ansiAppData));
    ASSERT_TRUE(ToAnsi(temp, ansiTemp));
    ScopedVariable setAppData("APPDATA", ansiAppData.c_str());
    ScopedVariable setTemp("TEMP", ansiTemp.c_str());

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
  std::string ansiRoot;
  ASSERT_TRUE(ToAnsi(tree.root(), ansiRoot));
  const std::string tooLong =
      ansiRoot + "\\" + std::string(kPathBufferSize, 'x');
  const struct {
    const char* name;
    const char* appData;
    const char* temp;  // nullptr: not set
    bool formsCleaned;
  } cases[] = {
      {"none of the cache folders exist", ansiRoot.c_str(), ansiRoot.c_str(),
       true},
      // The temporary-folder rows then search under the current drive's
      // root (nothing is there here); the APPDATA row still runs.
      {"TEMP not set", ansiRoot.c_str(), nullptr, true},
      {"APPDATA too long: that row is skipped", tooLong.c_str(),
       ansiRoot.c_str(), false},
      {"TEMP too long", ansiRoot.c_str(), tooLong.c_str(), true},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(row.name);
    ASSERT_TRUE(MakeFile(forms + L"\\cache.exd"));
    ScopedVariable setAppData("APPDATA", row.appData);
    ScopedVariable setTemp("TEMP", row.temp);
    testing::internal::CaptureStdout();
    DeleteOfficeCaches();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(Exists(forms + L"\\cache.exd"), !row.formsCleaned);
  }
}

TEST(CacheCleanupTest, GetEnvString) {
  ScopedVariable set("ULVEX_TEST_VARIABLE", "a b\xE9");
  ScopedVariable unset("ULVEX_TEST_UNSET", nullptr);
  EXPECT_EQ(GetEnvString("ULVEX_TEST_VARIABLE"), "a b\xE9");
  EXPECT_EQ(GetEnvString("ULVEX_TEST_UNSET"), "");
}

TEST(CacheCleanupTest, DeleteMatchingFilesTakesAnyPattern) {
  TempTree tree(L"pattern");
  const std::wstring folder = tree.root() + L"\\d";
  ASSERT_TRUE(MakeFolders(folder));
  std::string ansiFolder;
  ASSERT_TRUE(ToAnsi(folder, ansiFolder));
  const struct {
    const char* name;
    std::string pattern;
    std::vector<const wchar_t*> deleted, kept;
  } cases[] = {
      {"wildcard name",
       ansiFolder + "\\*.exd",
       {L"a.exd", L"b.exd"},
       {L"c.txt"}},
      {"slash separator",
       ansiFolder + "/*.exd",
       {L"a.exd", L"b.exd"},
       {L"c.txt"}},
      {"one file", ansiFolder + "\\c.txt", {L"c.txt"}, {L"a.exd", L"b.exd"}},
      // The search also matches the 8.3 name "X~1.EXD".
      {"longer extension kept",
       ansiFolder + "\\*.exd",
       {L"a.exd"},
       {L"x.exdata"}},
      {"case-insensitive", ansiFolder + "\\*.EXD", {L"a.exd"}, {L"c.txt"}},
      {"question mark",
       ansiFolder + "\\?.exd",
       {L"a.exd", L"b.exd"},
       {L"x.exdata"}},
      {"no match", ansiFolder + "\\*.none", {}, {L"a.exd", L"c.txt"}},
      {"missing folder", ansiFolder + "\\missing\\*.exd", {}, {L"a.exd"}},
      {"empty pattern", "", {}, {L"a.exd"}},
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
  path = ulvex_test::Widen(GetWorkingFilePath());
  ASSERT_FALSE(Exists(path)) << "left over: " << GetWorkingFilePath();
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
