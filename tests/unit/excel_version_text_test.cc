#include "host/excel_version_text.h"

#include <gtest/gtest.h>

#include <string>

#include "host/office_options_text.h"

namespace {

TEST(ExcelVersionTextTest, VersionIsTheTextAfterTheLastDot) {
  const struct {
    const wchar_t* curVer;
    const wchar_t* version;
  } cases[] = {
      {L"Excel.Application.16", L"16"},
      {L"Excel.Application.12", L"12"},
      {L"Excel.Application.16.1", L"1"},
      {L"16", L"16"},  // no dot: the whole value
      {L"Excel.Application.", L""},
      {L"", L""},
      {L".", L""},
      {L"Excel.Application.x7", L"x7"},  // never checked for digits
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(testing::Message() << "curVer " << std::wstring(row.curVer));
    EXPECT_EQ(VersionAfterLastDot(row.curVer), row.version);
  }
}

TEST(ExcelVersionTextTest, StringValueEndsAtNulOrAtTheBytesRead) {
  // "Excel.12" followed by garbage that must never be taken as text.
  const wchar_t data[] = {L'E', L'x', L'.', L'1', L'2', L'\0', L'9', L'9'};
  const struct {
    const char* name;
    size_t bytes;
    const wchar_t* text;
  } cases[] = {
      {"terminated", 6 * sizeof(wchar_t), L"Ex.12"},
      {"terminator not counted", 5 * sizeof(wchar_t), L"Ex.12"},
      {"stored without terminator, cut short", 4 * sizeof(wchar_t), L"Ex.1"},
      {"odd byte count drops the half character", 4 * sizeof(wchar_t) + 1,
       L"Ex.1"},
      {"nothing read", 0, L""},
      {"bytes past the terminator", sizeof data, L"Ex.12"},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(StringValueText(data, row.bytes), row.text);
  }
}

TEST(ExcelVersionTextTest, VersionThresholds) {
  const struct {
    int version;
    bool fileValidation;
    bool officeOptions;
  } cases[] = {
      {0, false, false}, {11, false, false}, {12, false, true},
      {13, true, true},  {16, true, true},   {-16, false, false},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(testing::Message() << "version " << row.version);
    EXPECT_EQ(SetsFileValidation(row.version), row.fileValidation);
    EXPECT_EQ(SetsOfficeOptions(row.version), row.officeOptions);
  }
}

TEST(OfficeOptionsTextTest, KeyPathsCarryTheVersionUnchanged) {
  const struct {
    const wchar_t* version;
    const wchar_t* general;
    const wchar_t* toolbar;
  } cases[] = {
      {L"16", L"Software\\Microsoft\\Office\\16.0\\Common\\General\\",
       L"Software\\Microsoft\\Office\\16.0\\Common\\Toolbars\\Excel\\"},
      {L"12", L"Software\\Microsoft\\Office\\12.0\\Common\\General\\",
       L"Software\\Microsoft\\Office\\12.0\\Common\\Toolbars\\Excel\\"},
      {L"15x", L"Software\\Microsoft\\Office\\15x.0\\Common\\General\\",
       L"Software\\Microsoft\\Office\\15x.0\\Common\\Toolbars\\Excel\\"},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(testing::Message() << "version " << std::wstring(row.version));
    EXPECT_EQ(OfficeGeneralKeyPath(row.version), row.general);
    EXPECT_EQ(OfficeToolbarKeyPath(row.version), row.toolbar);
  }
}

}  // namespace
