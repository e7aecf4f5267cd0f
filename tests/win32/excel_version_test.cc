#include "host/excel_version.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/registry_backup.h"

namespace {

using ulvex_test::DeleteRegistryTree;
using ulvex_test::RegistryBackup;
using ulvex_test::WriteRegistryValue;

constexpr wchar_t kProgId[] = L"Excel.Application";
constexpr wchar_t kCurVer[] = L"Excel.Application\\CurVer";

enum class Layout {
  kNoKey,         // no "Excel.Application" at all
  kNoCurVer,      // the ProgID without a CurVer subkey
  kNoValue,       // CurVer without a default value
  kValue,         // CurVer's default value with its terminator
  kUnterminated,  // CurVer's default value stored without a terminator
};

// Lays out HKCR "Excel.Application" as the layout says.
bool Register(Layout layout, const std::wstring& value) {
  if (!DeleteRegistryTree(HKEY_CLASSES_ROOT, kProgId)) return false;
  const DWORD withTerminator =
      static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
  switch (layout) {
    case Layout::kNoKey:
      return true;
    case Layout::kNoCurVer:
      return WriteRegistryValue(HKEY_CLASSES_ROOT, kProgId, nullptr, REG_SZ,
                                L"Stand-in", 9 * sizeof(wchar_t));
    case Layout::kNoValue:
      return ulvex_test::CreateRegistryKey(HKEY_CLASSES_ROOT, kCurVer);
    case Layout::kValue:
      return WriteRegistryValue(HKEY_CLASSES_ROOT, kCurVer, nullptr, REG_SZ,
                                value.c_str(), withTerminator);
    case Layout::kUnterminated:
      return WriteRegistryValue(HKEY_CLASSES_ROOT, kCurVer, nullptr, REG_SZ,
                                value.c_str(),
                                withTerminator - sizeof(wchar_t));
  }
  return false;
}

TEST(ExcelVersionTest, VersionFromTheCurrentVersionEntry) {
  RegistryBackup keep(HKEY_CLASSES_ROOT, kProgId);
  const std::wstring prefix = L"Excel.Application.";
  // 126 characters with the terminator fill 254 of the 255 bytes read.
  const std::wstring longest = prefix + std::wstring(126 - prefix.size(), L'7');
  const std::wstring tooLong = longest + L"7";
  const struct {
    const char* name;
    Layout layout;
    std::wstring value;
    std::wstring version;
  } cases[] = {
      {"version 16", Layout::kValue, L"Excel.Application.16", L"16"},
      {"version 12", Layout::kValue, L"Excel.Application.12", L"12"},
      {"no dot: the whole value", Layout::kValue, L"Excel16", L"Excel16"},
      {"trailing dot", Layout::kValue, L"Excel.Application.", L""},
      {"not numeric, passed on", Layout::kValue, L"Excel.Application.x", L"x"},
      {"126 characters", Layout::kValue, longest,
       std::wstring(126 - prefix.size(), L'7')},
      {"127 characters: too long", Layout::kValue, tooLong, L""},
      {"stored without terminator", Layout::kUnterminated,
       L"Excel.Application.15", L"15"},
      {"empty value", Layout::kValue, L"", L""},
      {"no default value", Layout::kNoValue, L"", L""},
      {"no CurVer key", Layout::kNoCurVer, L"", L""},
      {"no ProgID", Layout::kNoKey, L"", L""},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(row.name);
    ASSERT_TRUE(Register(row.layout, row.value));
    EXPECT_EQ(GetExcelVersion(), row.version);
    // Read afresh each time: a second call gives the same text.
    EXPECT_EQ(GetExcelVersion(), row.version);
  }
}

// The handle value a newly opened key gets. Freed handle slots are reused
// lowest first, so a key left open in between changes it (the process's
// handle count is not kept under Wine).
HKEY NextKeyHandle() {
  HKEY key = nullptr;
  RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_READ, &key);
  RegCloseKey(key);
  return key;
}

TEST(ExcelVersionTest, LeavesNoKeyOpen) {
  RegistryBackup keep(HKEY_CLASSES_ROOT, kProgId);
  {
    // The probe must see a key left open, or this test proves nothing.
    const HKEY before = NextKeyHandle();
    HKEY leaked = nullptr;
    ASSERT_EQ(
        RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_READ, &leaked),
        ERROR_SUCCESS);
    ASSERT_NE(NextKeyHandle(), before);
    RegCloseKey(leaked);
    ASSERT_EQ(NextKeyHandle(), before);
  }
  const struct {
    const char* name;
    Layout layout;
    std::wstring value;
  } cases[] = {
      {"value read", Layout::kValue, L"Excel.Application.16"},
      {"value too long", Layout::kValue, std::wstring(200, L'1')},
      {"no value", Layout::kNoValue, L""},
      {"no CurVer", Layout::kNoCurVer, L""},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(row.name);
    ASSERT_TRUE(Register(row.layout, row.value));
    const HKEY before = NextKeyHandle();
    GetExcelVersion();
    EXPECT_EQ(NextKeyHandle(), before);
  }
}

}  // namespace
