#include "platform/time_limit.h"

#include <gtest/gtest.h>

namespace {

TEST(TimeLimitTest, ReadsANumberWithAnOptionalUnit) {
  constexpr unsigned long kUnread = 12345;
  const struct {
    const wchar_t* text;
    bool valid;
    unsigned long seconds;
  } rows[] = {
      // A unit, or none for minutes.
      {L"90", true, 90 * 60},
      {L"45s", true, 45},
      {L"2h", true, 2 * 3600},
      {L"10m", true, 600},
      {L"6S", true, 6},
      {L"3M", true, 180},
      {L"1H", true, 3600},
      {L"007s", true, 7},
      // The ends of the range: 1 s to 1000 h.
      {L"1s", true, 1},
      {L"1", true, 60},
      {L"1000h", true, 3600000},
      {L"60000", true, 3600000},
      {L"3600000s", true, 3600000},
      {L"1001h", false, kUnread},
      {L"60001", false, kUnread},
      {L"3600001s", false, kUnread},
      {L"99999999999999999999", false, kUnread},
      {L"4294967296s", false, kUnread},
      // Zero.
      {L"0", false, kUnread},
      {L"0s", false, kUnread},
      {L"000h", false, kUnread},
      // Not a whole positive number with one unit letter.
      {L"", false, kUnread},
      {L"abc", false, kUnread},
      {L"-5", false, kUnread},
      {L"+5", false, kUnread},
      {L"1.5h", false, kUnread},
      {L"1,5h", false, kUnread},
      {L"10x", false, kUnread},
      {L"10d", false, kUnread},
      {L"10ms", false, kUnread},
      {L"10 s", false, kUnread},
      {L" 10", false, kUnread},
      {L"10 ", false, kUnread},
      {L"s", false, kUnread},
      {L"h2", false, kUnread},
      {L"1e3", false, kUnread},
      {L"0x10", false, kUnread},
      {L"\uff11\uff10", false, kUnread},  // fullwidth digits
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << "'" << row.text << "'");
    unsigned long seconds = kUnread;
    EXPECT_EQ(ParseTimeLimit(row.text, seconds), row.valid);
    EXPECT_EQ(seconds, row.seconds);
  }
  unsigned long seconds = kUnread;
  EXPECT_FALSE(ParseTimeLimit(nullptr, seconds));
  EXPECT_EQ(seconds, kUnread);
}

TEST(TimeLimitTest, WordsForALimitAndForTextThatIsNone) {
  const struct {
    unsigned long seconds;
    const char* words;
  } rows[] = {{7200, "2 hours"},     {3600, "1 hour"},   {5400, "90 minutes"},
              {60, "1 minute"},      {45, "45 seconds"}, {1, "1 second"},
              {3661, "3661 seconds"}};
  for (const auto& row : rows)
    EXPECT_EQ(TimeLimitInWords(row.seconds), row.words) << row.seconds;
  EXPECT_EQ(InvalidTimeLimitLine(L"1.5h"),
            L"ULVEX_TIME_LIMIT='1.5h' is not a valid time limit: give a whole "
            L"number of minutes, or a number followed by s, m or h (for "
            L"example 90, 45s or 2h).");
}

}  // namespace
