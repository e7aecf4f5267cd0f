#include "handoff/cache_patterns.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(CachePatternsTest, FiveFoldersInOrder) {
  const struct {
    const wchar_t* variable;
    const wchar_t* pattern;  // for the value "V"
  } expected[kCacheFolderCount] = {
      {L"APPDATA", L"V\\microsoft\\forms\\*.exd"},
      {L"TEMP", L"V\\vbe\\*.exd"},
      {L"TEMP", L"V\\excel8.0\\*.exd"},
      {L"TEMP", L"V\\word8.0\\*.exd"},
      {L"TEMP", L"V\\PPT11.0\\*.exd"},
  };
  for (size_t i = 0; i < kCacheFolderCount; ++i) {
    SCOPED_TRACE(testing::Message() << "row " << i);
    EXPECT_EQ(std::wstring(kCacheFolders[i].variable), expected[i].variable);
    std::wstring pattern;
    EXPECT_TRUE(ComposeCachePattern(kCacheFolders[i], L"V", pattern));
    EXPECT_EQ(pattern, expected[i].pattern);
  }
}

TEST(CachePatternsTest, PatternComposition) {
  const CacheFolder& vbe = kCacheFolders[1];
  const size_t tail = std::wstring(L"\\vbe\\*.exd").size();
  // Letters of any script count as one character each, whatever their size
  // in an 8-bit encoding.
  const std::wstring greek(kPathBufferSize - 1 - tail, L'\u03a9');
  const struct {
    const char* name;
    std::wstring value;
    bool fits;
    std::wstring pattern;
  } cases[] = {
      // An unset variable: the folder under the current drive's root.
      {"empty value", L"", true, L"\\vbe\\*.exd"},
      {"spaces", L"C:\\Users\\A B\\Local Settings\\Temp", true,
       L"C:\\Users\\A B\\Local Settings\\Temp\\vbe\\*.exd"},
      {"any script passes unchanged", L"C:\\Temp\\Caf\u00e9 \u6d4b\u8bd5", true,
       L"C:\\Temp\\Caf\u00e9 \u6d4b\u8bd5\\vbe\\*.exd"},
      {"percent signs are not formats", L"C:\\%s%d", true,
       L"C:\\%s%d\\vbe\\*.exd"},
      {"exactly 1,999 characters",
       std::wstring(kPathBufferSize - 1 - tail, L'a'), true,
       std::wstring(kPathBufferSize - 1 - tail, L'a') + L"\\vbe\\*.exd"},
      {"1,999 characters outside ASCII", greek, true, greek + L"\\vbe\\*.exd"},
      {"one character too long", std::wstring(kPathBufferSize - tail, L'a'),
       false, L""},
      {"far too long", std::wstring(10000, L'a'), false, L""},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(row.name);
    std::wstring pattern = L"stale";
    EXPECT_EQ(ComposeCachePattern(vbe, row.value, pattern), row.fits);
    EXPECT_EQ(pattern, row.pattern);
    EXPECT_LT(pattern.size(), kPathBufferSize);
  }
}

TEST(CachePatternsTest, FilePathComposition) {
  const std::wstring folder = L"C:\\Temp\\vbe";
  const size_t room = kPathBufferSize - 1 - folder.size() - 1;
  const struct {
    const char* name;
    std::wstring folder;
    std::wstring file;
    bool fits;
    std::wstring path;
  } cases[] = {
      {"plain", folder, L"MSForms.exd", true, L"C:\\Temp\\vbe\\MSForms.exd"},
      {"non-ASCII name", folder, L"\u00e9\u4e2d.exd", true,
       L"C:\\Temp\\vbe\\\u00e9\u4e2d.exd"},
      {"empty folder: the drive root", L"", L"a.exd", true, L"\\a.exd"},
      {"exactly 1,999 units", folder, std::wstring(room, L'x'), true,
       folder + L"\\" + std::wstring(room, L'x')},
      {"one unit too long", folder, std::wstring(room + 1, L'x'), false, L""},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(row.name);
    std::wstring path = L"stale";
    EXPECT_EQ(ComposeFilePath(row.folder, row.file, path), row.fits);
    EXPECT_EQ(path, row.path);
  }
}

TEST(CachePatternsTest, NamePartOfAPattern) {
  const struct {
    const wchar_t* pattern;
    const wchar_t* name;
  } cases[] = {
      {L"C:\\Temp\\vbe\\*.exd", L"*.exd"},
      {L"C:/Temp/vbe/*.exd", L"*.exd"},
      {L"\\vbe\\*.exd", L"*.exd"},
      {L"*.exd", L"*.exd"},
      {L"C:\\Temp\\", L""},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(testing::Message() << "pattern " << std::wstring(row.pattern));
    EXPECT_EQ(NamePart(row.pattern), row.name);
  }
}

TEST(CachePatternsTest, WildcardMatchOnLongNames) {
  const struct {
    const wchar_t* name;
    const wchar_t* pattern;
    bool matches;
  } cases[] = {
      {L"MSForms.exd", L"*.exd", true},
      {L".exd", L"*.exd", true},
      {L"a.b.exd", L"*.exd", true},
      {L"a.exd.exd", L"*.exd", true},
      {L"x.exdata", L"*.exd", false},  // its 8.3 name would match
      {L"keep.exd.txt", L"*.exd", false},
      {L"exd", L"*.exd", false},
      {L"a.exd", L"?.exd", true},
      {L"ab.exd", L"?.exd", false},
      {L".exd", L"?.exd", false},
      {L"abc", L"a*b*c", true},
      {L"aXbYc", L"a*b*c", true},
      {L"aXbYcZ", L"a*b*c", false},
      {L"anything", L"*", true},
      {L"", L"*", true},
      {L"", L"", true},
      {L"a", L"", false},
      {L"a.exd", L"a.exd", true},
      {L"A.EXD", L"a.exd", false},  // case is folded by the caller
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(testing::Message() << std::wstring(row.name) << " vs "
                                    << std::wstring(row.pattern));
    EXPECT_EQ(WildcardMatch(row.name, row.pattern), row.matches);
  }
}

}  // namespace
