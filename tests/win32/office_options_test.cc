#include "host/office_options.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/registry_backup.h"

namespace {

using ulvex_test::CreateRegistryKey;
using ulvex_test::DeleteRegistryTree;
using ulvex_test::ReadRegistryDword;
using ulvex_test::RegistryBackup;
using ulvex_test::RegistryKeyExists;
using ulvex_test::WriteRegistryValue;

constexpr wchar_t kOffice[] = L"Software\\Microsoft\\Office";
constexpr wchar_t kGeneralValue[] = L"ReportAddinCustomUIErrors";
constexpr wchar_t kToolbarValue[] = L"QuickAccessToolbarStyle";

std::wstring GeneralKey(const std::wstring& version) {
  return std::wstring(kOffice) + L"\\" + version + L".0\\Common\\General";
}
std::wstring ToolbarKey(const std::wstring& version) {
  return std::wstring(kOffice) + L"\\" + version +
         L".0\\Common\\Toolbars\\Excel";
}

// Registers the host's current version; none when curVer is empty.
bool RegisterCurVer(const std::wstring& curVer) {
  if (!DeleteRegistryTree(HKEY_CLASSES_ROOT, L"Excel.Application"))
    return false;
  if (curVer.empty()) return true;
  return WriteRegistryValue(HKEY_CLASSES_ROOT, L"Excel.Application\\CurVer",
                            nullptr, REG_SZ, curVer.c_str(),
                            static_cast<DWORD>((curVer.size() + 1) * 2));
}

// Creates the key, with the value set to 7 when withValue says so.
bool PrepareKey(const std::wstring& path, const wchar_t* value,
                bool withValue) {
  if (!withValue) return CreateRegistryKey(HKEY_CURRENT_USER, path);
  const DWORD seven = 7;
  return WriteRegistryValue(HKEY_CURRENT_USER, path, value, REG_DWORD, &seven,
                            sizeof seven);
}

// What a value holds afterwards: "missing", or its number.
std::string ValueState(const std::wstring& path, const wchar_t* name) {
  const auto value = ReadRegistryDword(HKEY_CURRENT_USER, path, name);
  return value.found ? std::to_string(value.value) : "missing";
}

TEST(OfficeOptionsTest, ValuesAndMessagesPerVersionAndKeys) {
  RegistryBackup keepHost(HKEY_CLASSES_ROOT, L"Excel.Application");
  RegistryBackup keepOffice(HKEY_CURRENT_USER, kOffice);
  const std::string openFailed =
      "Could not open Quick access toolbar Registry entry\n";
  const struct {
    const char* name;
    const wchar_t* curVer;   // empty: no host registered
    const wchar_t* version;  // the key paths' version
    bool general, toolbar;   // which keys exist before
    bool result;
    std::string output;
    const char* generalAfter;
    const char* toolbarAfter;
  } cases[] = {
      {"version 11: nothing to do", L"Excel.Application.11", L"11", true, true,
       true, "", "7", "7"},
      {"no host: nothing to do", L"", L"0", true, true, true, "", "7", "7"},
      {"non-numeric version: nothing to do", L"Excel.Application.x", L"x", true,
       true, true, "", "7", "7"},
      {"version 12 takes part", L"Excel.Application.12", L"12", true, true,
       true, "", "0", "0"},
      {"version 16", L"Excel.Application.16", L"16", true, true, true, "", "0",
       "0"},
      {"version 16, no General key", L"Excel.Application.16", L"16", false,
       true, false, "", "missing", "7"},
      {"version 16, no Toolbars key", L"Excel.Application.16", L"16", true,
       false, false, openFailed, "0", "missing"},
      {"version 16, neither key", L"Excel.Application.16", L"16", false, false,
       false, "", "missing", "missing"},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(row.name);
    ASSERT_TRUE(DeleteRegistryTree(HKEY_CURRENT_USER, kOffice));
    ASSERT_TRUE(RegisterCurVer(row.curVer));
    if (row.general)
      ASSERT_TRUE(PrepareKey(GeneralKey(row.version), kGeneralValue, true));
    if (row.toolbar)
      ASSERT_TRUE(PrepareKey(ToolbarKey(row.version), kToolbarValue, true));

    testing::internal::CaptureStdout();
    const bool result = SetOfficeOptions();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), row.output);
    EXPECT_EQ(result, row.result);
    EXPECT_EQ(ValueState(GeneralKey(row.version), kGeneralValue),
              row.generalAfter);
    EXPECT_EQ(ValueState(ToolbarKey(row.version), kToolbarValue),
              row.toolbarAfter);
    // Keys are never created.
    EXPECT_EQ(RegistryKeyExists(HKEY_CURRENT_USER, GeneralKey(row.version)),
              row.general);
    EXPECT_EQ(RegistryKeyExists(HKEY_CURRENT_USER, ToolbarKey(row.version)),
              row.toolbar);
    if (!row.general && !row.toolbar)
      EXPECT_FALSE(RegistryKeyExists(HKEY_CURRENT_USER, kOffice));
  }
}

TEST(OfficeOptionsTest, ValuesAlreadyZeroAreWrittenAgainSilently) {
  RegistryBackup keepHost(HKEY_CLASSES_ROOT, L"Excel.Application");
  RegistryBackup keepOffice(HKEY_CURRENT_USER, kOffice);
  ASSERT_TRUE(RegisterCurVer(L"Excel.Application.16"));
  const DWORD zero = 0;
  ASSERT_TRUE(WriteRegistryValue(HKEY_CURRENT_USER, GeneralKey(L"16"),
                                 kGeneralValue, REG_DWORD, &zero, 4));
  ASSERT_TRUE(WriteRegistryValue(HKEY_CURRENT_USER, ToolbarKey(L"16"),
                                 kToolbarValue, REG_DWORD, &zero, 4));
  for (int run = 0; run < 2; ++run) {
    SCOPED_TRACE(run);
    testing::internal::CaptureStdout();
    EXPECT_TRUE(SetOfficeOptions());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(ValueState(GeneralKey(L"16"), kGeneralValue), "0");
    EXPECT_EQ(ValueState(ToolbarKey(L"16"), kToolbarValue), "0");
  }
}

}  // namespace
