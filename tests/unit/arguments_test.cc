#include "option/arguments.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Arguments = std::vector<std::string>;

struct SplitCase {
  const char16_t* line;
  Arguments expected;
};

// The same lines as the system test that compares the split with the C
// runtime's argv, with the arguments written out.
const SplitCase kSplitCases[] = {
    {u"prog a b c", {"prog", "a", "b", "c"}},
    {u"prog \"a b\" c", {"prog", "a b", "c"}},
    {u"prog a\tb\t\tc", {"prog", "a", "b", "c"}},
    {u"prog   a   ", {"prog", "a"}},
    {u"prog", {"prog"}},
    {u"prog    ", {"prog"}},
    {u"", {""}},
    // Backslashes are plain characters unless a quote follows them.
    {u"prog a\\\\b c\\", {"prog", "a\\\\b", "c\\"}},
    {u"prog a\\\"b", {"prog", "a\"b"}},
    {u"prog a\\\\\"b c\"", {"prog", "a\\b c"}},
    {u"prog a\\\\\\\"b c", {"prog", "a\\\"b", "c"}},
    {u"prog \"a\\\\\" b", {"prog", "a\\", "b"}},
    {u"prog \\\\\\\\\"a b\"", {"prog", "\\\\a b"}},
    {u"prog \"a\\\" b\"", {"prog", "a\" b"}},
    {u"prog \"C:\\dir\\\\\" x", {"prog", "C:\\dir\\", "x"}},
    // Empty arguments.
    {u"prog \"\"", {"prog", ""}},
    {u"prog \"\" \"\"", {"prog", "", ""}},
    {u"prog a \"\" b", {"prog", "a", "", "b"}},
    {u"prog a \"", {"prog", "a", ""}},
    // Two quotes inside a quoted part: one quote, and the part ends.
    {u"prog \"a\"\"b\" c", {"prog", "a\"b c"}},
    {u"prog \"a\"\" b\"", {"prog", "a\"", "b"}},
    {u"prog \"\"\"a b\"\"\"", {"prog", "\"a", "b\""}},
    {u"prog a\"\"b", {"prog", "ab"}},
    {u"prog \"a b", {"prog", "a b"}},
    {u"prog a\"b c\"d e", {"prog", "ab cd", "e"}},
    // The program name: quoted up to the next quote, or up to a blank; no
    // backslash rules in it.
    {u"\"C:\\my dir\\prog.exe\" a", {"C:\\my dir\\prog.exe", "a"}},
    {u"\"C:\\x\\\"y z", {"C:\\x\\", "y", "z"}},
    {u"\"pro\"gram a", {"pro", "gram", "a"}},
    {u"pro\"gram a\" b", {"pro\"gram", "a b"}},
    {u"C:\\dir\\prog.exe\ta", {"C:\\dir\\prog.exe", "a"}},
    {u"\"prog", {"prog"}},
    {u"\"\" a", {"", "a"}},
    // No wildcard expansion.
    {u"prog *.exe ?", {"prog", "*.exe", "?"}},
};

TEST(ArgumentsTest, SplitsAsTheCRuntimeDoes) {
  for (const SplitCase& row : kSplitCases) {
    SCOPED_TRACE(Utf8FromUtf16(row.line));
    EXPECT_EQ(SplitCommandLine(row.line), row.expected);
  }
}

TEST(ArgumentsTest, EveryCharacterArrivesAsUtf8) {
  const struct {
    std::u16string line;
    Arguments expected;
  } cases[] = {
      // U+FF0F is no switch prefix: a plain argument.
      {u"prog \uFF0Ftaskid=7", {"prog", "\xEF\xBC\x8Ftaskid=7"}},
      {u"prog /taskid=\u0141\u00F3d\u017A",
       {"prog",
        "/taskid=\xC5\x81\xC3\xB3"
        "d\xC5\xBA"}},
      {u"prog /p1=\u0391\u03B8\u03AE\u03BD\u03B1 /p2=\u6771\u4EAC",
       {"prog", "/p1=\xCE\x91\xCE\xB8\xCE\xAE\xCE\xBD\xCE\xB1",
        "/p2=\xE6\x9D\xB1\xE4\xBA\xAC"}},
      // A pair of surrogates is one character; a lone one is U+FFFD.
      {u"prog \U0001F600 \xD83D x\xDE00y",
       {"prog", "\xF0\x9F\x98\x80", "\xEF\xBF\xBD", "x\xEF\xBF\xBDy"}},
      {u"\"C:\\\u00C4rger\\prog.exe\" \u00E9",
       {"C:\\\xC3\x84rger\\prog.exe", "\xC3\xA9"}},
      // The line ends at a NUL, as the C runtime reads it.
      {std::u16string(u"prog a\0b", 8), {"prog", "a"}},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(Utf8FromUtf16(row.line));
    EXPECT_EQ(SplitCommandLine(row.line), row.expected);
  }
}

TEST(ArgumentsTest, ElementsLeaveOutTheProgramName) {
  const Arguments arguments = {"prog", "/taskid=7", ""};
  const std::vector<const char*> elements = ElementsAfterProgramName(arguments);
  ASSERT_EQ(elements.size(), 2u);
  EXPECT_EQ(elements[0], arguments[1].c_str());
  EXPECT_EQ(elements[1], arguments[2].c_str());
  EXPECT_TRUE(ElementsAfterProgramName({"prog"}).empty());
}

}  // namespace
