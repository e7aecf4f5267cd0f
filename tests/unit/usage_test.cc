#include "option/usage.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "tests/support/expected_usage.h"

namespace {

using option::OptionSpec;
using option::PrintUsageImplementation;
using ulvex_test::kUsageAt10000;
using ulvex_test::kUsageAt20;
using ulvex_test::kUsageAt40;
using ulvex_test::kUsageAt80;
using ulvex_test::Spaces;

// Keeps every emit apart, so tests can check how the text was handed over.
class RecordingWriter : public PrintUsageImplementation::IStringWriter {
 public:
  void emit(const char* text, size_t byteCount) override {
    emits.emplace_back(text, byteCount);
  }
  std::string text() const {
    std::string all;
    for (const std::string& piece : emits) all += piece;
    return all;
  }
  std::vector<std::string> emits;
};

std::string Usage(const OptionSpec* table, int32_t columns) {
  RecordingWriter writer;
  option::writeUsage(writer, table, columns);
  return writer.text();
}

std::string ProgramUsage(int32_t columns) {
  RecordingWriter writer;
  option::writeUsage(writer, columns);
  return writer.text();
}

// A made-up table: one row per help text; nullptr makes a separator row
// (no help text) between two tables. The end row is added.
class Table {
 public:
  Table(std::initializer_list<const char*> helpTexts) {
    for (const char* helpText : helpTexts)
      rows_.push_back({0, 0, "", "", option::acceptValue, helpText});
    rows_.push_back({0, 0, nullptr, nullptr, nullptr, nullptr});
  }
  const OptionSpec* get() const { return rows_.data(); }

 private:
  std::vector<OptionSpec> rows_;
};

TEST(UsageTest, ProgramTableAtEveryWidthClass) {
  const struct {
    int32_t columns;
    const std::string* expected;
  } cases[] = {
      {80, &kUsageAt80},           {0, &kUsageAt80},
      {-5, &kUsageAt80},           {INT32_MIN, &kUsageAt80},
      {40, &kUsageAt40},           {20, &kUsageAt20},
      {10000, &kUsageAt10000},     {10001, &kUsageAt10000},
      {INT32_MAX, &kUsageAt10000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.columns);
    EXPECT_EQ(ProgramUsage(c.columns), *c.expected);
  }
}

TEST(UsageTest, SpacesAndLineBreaksAreSingleByteEmitsAndPiecesWhole) {
  const Table table{"ab\tcd", "abcd\tef gh"};
  RecordingWriter writer;
  option::writeUsage(writer, table.get(), 8);
  // Column 1 starts at 4 and wraps at 4 columns.
  const std::vector<std::string> expected = {"ab",   " ",  " ",  "cd", "\n",
                                             "abcd", "ef", "\n", " ",  " ",
                                             " ",    " ",  "gh", "\n"};
  EXPECT_EQ(writer.emits, expected);
}

TEST(UsageTest, MadeUpTables) {
  const struct {
    const char* name;
    Table table;
    int32_t columns;
    std::string expected;
  } cases[] = {
      {"cell lines start new output lines at their tab stop",
       {"  -b  \tBeta\vx\vy", "  --verbose-x  \tV"},
       80,
       "  -b  " + Spaces(9) + "Beta\n" + Spaces(15) + "x\n" + Spaces(15) +
           "y\n" + "  --verbose-x  V\n"},
      {"a cell line in an earlier column",
       {"a\vbb\tX", "cccc\tY"},
       80,
       "a   X\nbb  \nccccY\n"},
      {"three columns, no gap between them, last one wrapped",
       {"a \tbb \tone two three", "aaa \tb \tfour", "plain row"},
       14,
       "a   bb one two\n" + Spaces(7) + "three\naaa b  four\nplain row\n"},
      {"the continuation of a wrapped cell line comes before the next line",
       {"  -b  \tBeta gamma delta\vx"},
       20,
       "  -b  Beta gamma\n" + Spaces(6) + "delta\n" + Spaces(6) + "x\n"},
      {"more than fifteen lines of one cell",
       {"> \t01 02 03 04 05 06 07 08 09 10 11 12 13 14 15 16 17 18 19 20"},
       5,
       "> 01\n  02\n  03\n  04\n  05\n  06\n  07\n  08\n  09\n  10\n  11\n"
       "  12\n  13\n  14\n  15\n  16\n  17\n  18\n  19\n  20\n"},
      {"words longer than the width are cut",
       {"abcdefghijkl mn"},
       5,
       "abcde\nfghij\nkl mn\n"},
      {"a width of 1 wraps at 2", {"abc"}, 1, "ab\nc\n"},
      {"tabs and cell lines without text",
       {"", "\t", "\v", "x\n\ny"},
       80,
       "\n\n\n\nx\n\ny\n"},
      {"columns beyond the eighth are dropped",
       {"0\t1\t2\t3\t4\t5\t6\t7\t8\t9"},
       80,
       "01234567\n"},
      {"each table is measured on its own",
       {"a\tX", "abcdef\tY", nullptr, nullptr, "ab\tZ", "abc\tW"},
       80,
       "a     X\nabcdefY\nab Z\nabcW\n"},
      {"a piece too wide for its column pushes the next one down",
       {"abcdefghijkl\tX", "ab\tY"},
       10,
       "abcdefghijkl\n  X\nabY\n"},
      {"a row without tabs does not widen the first column",
       {"a long row without tabs", "a\tb"},
       80,
       "a long row without tabs\nab\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Usage(c.table.get(), c.columns), c.expected);
  }
}

TEST(UsageTest, OnlyTwentyThreeRowsOfATableArePrinted) {
  // 25 rows: the last two are measured but not printed; the next table
  // prints in full.
  const Table table{"r01",   "r02",    "r03",   "r04",     "r05",
                    "r06",   "r07",    "r08",   "r09",     "r10",
                    "r11",   "r12",    "r13",   "r14",     "r15",
                    "r16",   "r17",    "r18",   "r19",     "r20",
                    "r21",   "r22",    "r\t23", "skipped", "wide column\tx",
                    nullptr, "next\n", "table"};
  std::string expected;
  for (int row = 1; row <= 22; ++row) {
    expected += row < 10 ? "r0" : "r";
    expected += std::to_string(row) + "\n";
  }
  expected += "r" + Spaces(10) + "23\nnext\n\ntable\n";
  EXPECT_EQ(Usage(table.get(), 80), expected);
}

TEST(UsageTest, NothingToPrint) {
  const Table noRows{};
  const Table onlySeparators{nullptr, nullptr};
  EXPECT_EQ(Usage(noRows.get(), 80), "");
  EXPECT_EQ(Usage(onlySeparators.get(), 80), "");
  EXPECT_EQ(Usage(nullptr, 80), "");
}

TEST(UsageTest, DoubleWidthText) {
  // U+65E5 U+672C U+8A9E U+30C6 U+30AD U+30B9 U+30C8: two columns each.
  const char* kJapanese =
      "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\xE3\x83\x86\xE3\x82\xAD\xE3\x82"
      "\xB9\xE3\x83\x88";
  const struct {
    const char* name;
    Table table;
    int32_t columns;
    std::string expected;
  } cases[] = {
      {"never split, never past the width",
       {kJapanese},
       5,
       "\xE6\x97\xA5\xE6\x9C\xAC\n\xE8\xAA\x9E\xE3\x83\x86\n"
       "\xE3\x82\xAD\xE3\x82\xB9\n\xE3\x83\x88\n"},
      {"a double-width character may end at the width",
       {kJapanese},
       4,
       "\xE6\x97\xA5\xE6\x9C\xAC\n\xE8\xAA\x9E\xE3\x83\x86\n"
       "\xE3\x82\xAD\xE3\x82\xB9\n\xE3\x83\x88\n"},
      {"broken at a space between wide characters",
       {"\xE6\x97\xA5 \xE6\x9C\xAC\xE8\xAA\x9E"},
       6,
       "\xE6\x97\xA5\n\xE6\x9C\xAC\xE8\xAA\x9E\n"},
      {"columns measured in screen columns, not bytes",
       {"\xE6\x97\xA5\xE6\x9C\xAC  \tA", "ab\tB"},
       80,
       "\xE6\x97\xA5\xE6\x9C\xAC  A\nab    B\n"},
      {"four-byte character from U+1B000 up is wide",
       {"\xF0\x9F\x98\x80\tA", "x\tB"},
       80,
       "\xF0\x9F\x98\x80"
       "A\nx B\n"},
      {"U+303F is narrow",
       {"\xE3\x80\xBF\tA", "x\tB"},
       80,
       "\xE3\x80\xBF"
       "A\nxB\n"},
      {"U+1100 is wide",
       {"\xE1\x84\x80\tA", "x\tB"},
       80,
       "\xE1\x84\x80"
       "A\nx B\n"},
      {"two-byte characters are narrow",
       {"\xC3\xA9\xC3\xA9\tA", "x\tB"},
       80,
       "\xC3\xA9\xC3\xA9"
       "A\nx B\n"},
      {"stray and truncated bytes count one column each",
       {"\x80\xC1\xC3"
        "A\tB",
        "x\tC"},
       80,
       "\x80\xC1\xC3"
       "AB\nx   C\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Usage(c.table.get(), c.columns), c.expected);
  }
}

TEST(UsageTest, IsDoubleWidthRanges) {
  const struct {
    uint32_t first;
    uint32_t last;
  } ranges[] = {
      {0x1100, 0x115F}, {0x2329, 0x232A}, {0x2E80, 0xA4C6},
      {0xA960, 0xA97C}, {0xAC00, 0xD7FB}, {0xF900, 0xFAFF},
      {0xFE10, 0xFE6B}, {0xFF01, 0xFF60}, {0xFFE0, 0xFFE6},
  };
  for (const auto& range : ranges) {
    SCOPED_TRACE(testing::Message() << std::hex << range.first);
    EXPECT_FALSE(option::isDoubleWidth(range.first - 1));
    EXPECT_TRUE(option::isDoubleWidth(range.first));
    EXPECT_TRUE(option::isDoubleWidth(range.last));
    EXPECT_FALSE(option::isDoubleWidth(range.last + 1));
  }
  const struct {
    uint32_t codePoint;
    bool wide;
  } points[] = {
      {0x0, false},     {0x41, false},      {0x303E, true},  {0x303F, false},
      {0x3040, true},   {0x1AFFF, false},   {0x1B000, true}, {0x1F600, true},
      {0x10FFFF, true}, {0xFFFFFFFF, true},
  };
  for (const auto& point : points) {
    SCOPED_TRACE(testing::Message() << std::hex << point.codePoint);
    EXPECT_EQ(option::isDoubleWidth(point.codePoint), point.wide);
  }
}

TEST(UsageTest, StreamWriterHandsTheWholeRunOver) {
  struct Call {
    std::string bytes;
    size_t size = 0;
    size_t count = 0;
    int* stream = nullptr;
  };
  static Call call;
  auto function = [](const void* data, size_t size, size_t count,
                     int* stream) -> size_t {
    call.bytes.assign(static_cast<const char*>(data), size * count);
    call.size = size;
    call.count = count;
    call.stream = stream;
    return 0;
  };
  int stream = 0;
  using Function = size_t (*)(const void*, size_t, size_t, int*);
  PrintUsageImplementation::StreamWriter<Function, int*> writer(function,
                                                                &stream);
  writer.emit("abcdef", 4);
  EXPECT_EQ(call.bytes, "abcd");
  EXPECT_EQ(call.size, 4u);
  EXPECT_EQ(call.count, 1u);
  EXPECT_EQ(call.stream, &stream);
}

}  // namespace
