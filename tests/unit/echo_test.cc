#include "runner/echo.h"

#include <gtest/gtest.h>

#include "option/option_table.h"

namespace {

using option::OptionTable;
using option::ParsedOption;

// Rows of OptionTable by their position (see the table's definition).
const option::OptionSpec* Row(int index) { return &OptionTable[index]; }

ParsedOption Record(int row, const char* value) {
  ParsedOption record{};
  record.init(Row(row), "x", value);
  return record;
}

TEST(EchoTest, EveryEchoLineInPlainAndHtmlMode) {
  const ParsedOption records[] = {
      Record(3, "7"),        Record(10, "x"),     Record(11, nullptr),
      Record(4, nullptr),    Record(5, nullptr),  Record(6, nullptr),
      Record(7, nullptr),    Record(8, nullptr),  Record(9, nullptr),
      Record(4, nullptr),
  };
  const char* rest[] = {"one", "two words"};
  const std::string lines =
      "Argument #0 is -TaskID set to '7'|"
      "Argument #1 is -Task Parameter with optional argument 'x'|"
      "Argument #2 is -Task Parameter without the optional argument|"
      "Argument #3 is -Auto enabled|"
      "Argument #4 is -HTML output enabled|"
      "Argument #5 is -Load data enabled|"
      "Argument #6 is -Validate data enabled|"
      "Argument #7 is -Send data enabled|"
      "Argument #8 is -Quit on completion or failure enabled|"
      "Argument #9 is -Auto enabled|"
      "Non-option argument #0 is one|"
      "Non-option argument #1 is two words|";
  for (const char* lineEnd : {"\n", "<br>"}) {
    SCOPED_TRACE(lineEnd);
    std::string expected = std::string(lineEnd) +
                           "Parameters validated, loading Ulvex with commands :" +
                           lineEnd;
    for (char c : lines) {
      if (c == '|') expected += lineEnd;
      else expected += c;
    }
    EXPECT_EQ(FormatEcho(records, 10, 2, rest, lineEnd), expected);
  }
}

TEST(EchoTest, NothingStoredPrintsOnlyTheHeader) {
  EXPECT_EQ(FormatEcho(nullptr, 0, 0, nullptr, "\n"),
            "\nParameters validated, loading Ulvex with commands :\n");
}

}  // namespace
