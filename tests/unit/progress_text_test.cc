#include "runner/progress_text.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "handoff/progress_data.h"

namespace {

TEST(ProgressTextTest, QuitTextIsTheFourCapitalLettersAtTheStart) {
  const struct {
    const wchar_t* text;
    bool quit;
  } rows[] = {
      {L"", false},      {L"Q", false},     {L"QUI", false},
      {L"QUIT", true},   {L"QUITx", true},  {L"QUIT - Task FAILED", true},
      {L"quit", false},  {L"Quit", false},  {L"qUIT", false},
      {L" QUIT", false}, {L"xQUIT", false}, {L"QUI T", false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << "\"" << row.text << "\"");
    EXPECT_EQ(IsQuitText(row.text), row.quit);
  }
}

TEST(ProgressTextTest, OnlyTheExactSuccessTextSucceeds) {
  const std::wstring success = L"QUIT - Task SUCCEEDED, process exit code 0";
  EXPECT_EQ(success, kSuccessText);
  const struct {
    std::wstring text;
    bool success;
  } rows[] = {
      {success, true},
      {success + L"x", false},
      {success + L" ", false},
      {success + L"\n", false},
      {success.substr(0, success.size() - 1), false},
      {L"QUIT - Task SUCCEEDED, process exit code 1", false},
      {L"QUIT - task SUCCEEDED, process exit code 0", false},
      {L" " + success, false},
      {L"QUIT", false},
      {L"", false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << "\"" << row.text << "\"");
    EXPECT_EQ(IsSuccessText(row.text), row.success);
    // Every text that succeeds also ends the wait.
    if (row.success) EXPECT_TRUE(IsQuitText(row.text));
  }
}

TEST(ProgressTextTest, EachCyclePrintsByTheFirstRowThatApplies) {
  using Out = ProgressOutput;
  const struct {
    const wchar_t* current;
    const wchar_t* previous;
    Out output;
  } rows[] = {
      {L"", L"", Out::Dot},                    // nothing written yet
      {L"Step 1", L"", Out::NewLine},          // the first message
      {L"Step 1", L"Step 1", Out::Dot},        // unchanged
      {L"Step 2", L"Step 1", Out::NewLine},    // a new message
      {L"", L"Step 1", Out::Dot},              // emptied after a message
      {L"DONE", L"Step 1", Out::LineEndOnly},  // ends the current line
      {L"DONE", L"", Out::LineEndOnly},
      {L"DONE", L"DONE", Out::Dot},        // stays "DONE"
      {L"done", L"Step 1", Out::NewLine},  // case-sensitive
      {L"DONE ", L"Step 1", Out::NewLine},
      {L"QUIT", L"DONE", Out::NewLine},  // the final text is printed
      {L"GetStringRegKey Error", L"Step 1", Out::NewLine},
      {L"GetStringRegKey Error", L"GetStringRegKey Error", Out::Dot},
      {L"step 1", L"Step 1", Out::NewLine},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << "\"" << row.current << "\" after \""
                                    << row.previous << "\"");
    EXPECT_EQ(DecideProgressOutput(row.current, row.previous), row.output);
  }
}

TEST(ProgressTextTest, TimeStampIsANewlineAndTheTwelveHourClock) {
  const struct {
    int hour, minute, second;
    const char* stamp;
  } rows[] = {
      {0, 5, 9, "\n12:05:09"},    {1, 0, 0, "\n01:00:00"},
      {11, 59, 59, "\n11:59:59"}, {12, 0, 0, "\n12:00:00"},
      {13, 7, 30, "\n01:07:30"},  {23, 59, 1, "\n11:59:01"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.stamp + 1);
    std::tm time{};
    time.tm_year = 124;
    time.tm_mon = 2;
    time.tm_mday = 14;
    time.tm_hour = row.hour;
    time.tm_min = row.minute;
    time.tm_sec = row.second;
    EXPECT_EQ(FormatTimeStamp(time), row.stamp);
  }
}

using Bytes = std::vector<unsigned char>;

Bytes Utf16Bytes(const std::u16string& text) {
  Bytes bytes;
  for (char16_t unit : text) {
    bytes.push_back(static_cast<unsigned char>(unit & 0xFF));
    bytes.push_back(static_cast<unsigned char>(unit >> 8));
  }
  return bytes;
}

Bytes Append(Bytes bytes, std::initializer_list<unsigned char> more) {
  bytes.insert(bytes.end(), more);
  return bytes;
}

TEST(ProgressTextTest, RegistryDataBecomesTextUpToTheFirstNulOrTheEnd) {
  const struct {
    const char* name;
    Bytes data;
    std::wstring text;
  } rows[] = {
      {"empty", {}, L""},
      {"the NUL alone", {0, 0}, L""},
      {"terminated", Append(Utf16Bytes(u"Step 1"), {0, 0}), L"Step 1"},
      {"no NUL", Utf16Bytes(u"Step 1"), L"Step 1"},
      {"embedded NUL", Utf16Bytes(std::u16string(u"ab\0cd", 5)), L"ab"},
      {"odd count, last byte dropped", Append(Utf16Bytes(u"ab"), {'c'}), L"ab"},
      {"one byte", {'a'}, L""},
      {"NUL split across units",  // 0x0100 and 0x0001 are not NUL
       {0x00, 0x01, 0x01, 0x00},
       std::wstring{wchar_t{0x100}, wchar_t{0x1}}},
      {"non-ASCII", Utf16Bytes(u"\u00e9\u03a9\u20ac"), L"\u00e9\u03a9\u20ac"},
      {"surrogate pair kept as two units", Utf16Bytes(u"\xd83d\xde00"),
       std::wstring{wchar_t{0xd83d}, wchar_t{0xde00}}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(ProgressTextFromData(row.data.data(), row.data.size()), row.text);
  }
  EXPECT_EQ(ProgressTextFromData(nullptr, 0), L"");
}

TEST(ProgressTextTest, FullReadBufferIsReadWhole) {
  // 4,095 characters and the NUL fill the 8,192-byte read exactly; without
  // the NUL all 4,096 are text.
  std::u16string text(4095, u'x');
  text[0] = u'A';
  text[4094] = u'Z';
  const Bytes data = Append(Utf16Bytes(text), {0, 0});
  ASSERT_EQ(data.size(), 8192u);
  const std::wstring read = ProgressTextFromData(data.data(), data.size());
  EXPECT_EQ(read.size(), 4095u);
  EXPECT_EQ(read.front(), L'A');
  EXPECT_EQ(read.back(), L'Z');

  const Bytes unterminated = Utf16Bytes(std::u16string(4096, u'y'));
  EXPECT_EQ(ProgressTextFromData(unterminated.data(), unterminated.size()),
            std::wstring(4096, L'y'));
}

}  // namespace
