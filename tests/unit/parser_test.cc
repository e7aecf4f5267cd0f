#include "option/parser.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "option/option_table.h"

namespace {

using option::OptionSpec;
using option::OptionTable;
using option::ParsedOption;

constexpr int32_t kMaxCount = 2147483647;

struct Output {
  std::string out;
  std::string err;
};

// Runs f with stdout and stderr captured separately.
template <typename Function>
Output Captured(Function f) {
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  f();
  fflush(stdout);
  fflush(stderr);
  Output output;
  output.out = testing::internal::GetCapturedStdout();
  output.err = testing::internal::GetCapturedStderr();
  return output;
}

// Both passes over args, the way the program runs them. Links point into
// the vectors' buffers, which a move keeps in place.
struct TwoPassRun {
  std::vector<const char*> args;
  option::Stats stats;
  option::Parser parser;
  std::vector<ParsedOption> slots;
  std::vector<ParsedOption> records;
  Output counting;
  Output storing;
};

TwoPassRun RunBothPasses(std::vector<const char*> args,
                         const OptionSpec* table = OptionTable,
                         int32_t minAbbreviation = 1) {
  TwoPassRun run;
  run.args = std::move(args);
  const int32_t count = static_cast<int32_t>(run.args.size());
  const char** elements = count > 0 ? run.args.data() : nullptr;
  run.counting = Captured(
      [&] { run.stats.tally(table, count, elements, minAbbreviation); });
  run.slots.assign(run.stats.slotCapacity, ParsedOption{});
  run.records.assign(run.stats.recordCapacity, ParsedOption{});
  run.storing = Captured([&] {
    run.parser.fill(table, count, elements, run.slots.data(),
                    run.records.data(), minAbbreviation, -1);
  });
  return run;
}

// "slot text 'value'" or "slot text null".
std::string Describe(const ParsedOption& record) {
  std::string text = std::to_string(record.spec->slot) + " " + record.text;
  if (record.value == nullptr) return text + " null";
  return text + " '" + record.value + "'";
}

std::vector<std::string> StoredRecords(const TwoPassRun& run) {
  std::vector<std::string> described;
  for (int32_t i = 0; i < run.parser.storedCount; ++i)
    described.push_back(Describe(run.records[i]));
  return described;
}

std::vector<std::string> RestElements(const TwoPassRun& run) {
  std::vector<std::string> rest;
  for (int32_t i = 0; i < run.parser.restCount; ++i)
    rest.push_back(run.parser.restElements[i]);
  return rest;
}

ParsedOption* Marked(const ParsedOption* record) {
  return reinterpret_cast<ParsedOption*>(reinterpret_cast<uintptr_t>(record) |
                                         1);
}

// Whatever the command line, every slot's list must hold exactly the
// stored records of that slot in command-line order: the head a copy of
// the first, the others the record-array entries themselves.
void ExpectSlotListsMatchRecords(const TwoPassRun& run) {
  for (size_t slot = 0; slot < run.slots.size(); ++slot) {
    SCOPED_TRACE("slot " + std::to_string(slot));
    std::vector<const ParsedOption*> expected;
    for (int32_t i = 0; i < run.parser.storedCount; ++i)
      if (run.records[i].spec->slot == static_cast<int32_t>(slot))
        expected.push_back(&run.records[i]);
    const ParsedOption& head = run.slots[slot];
    ASSERT_EQ(option::Count(head), static_cast<int32_t>(expected.size()));
    if (expected.empty()) {
      EXPECT_EQ(head.spec, nullptr);
      EXPECT_EQ(option::First(head), nullptr);
      EXPECT_EQ(option::Last(head), nullptr);
      continue;
    }
    const ParsedOption* walked = option::First(head);
    EXPECT_EQ(walked, &head);
    EXPECT_EQ(Describe(head), Describe(*expected[0]));
    // The first occurrence in the record array is linked to nothing.
    EXPECT_EQ(expected[0]->nextLink, Marked(expected[0]));
    EXPECT_EQ(expected[0]->prevLink, Marked(expected[0]));
    for (size_t i = 1; i < expected.size(); ++i) {
      const ParsedOption* next = option::Next(*walked);
      EXPECT_EQ(next, expected[i]);
      if (next == nullptr) return;
      EXPECT_EQ(option::Prev(*next), walked);
      walked = next;
    }
    EXPECT_EQ(option::Next(*walked), nullptr);
    EXPECT_EQ(option::Last(head), walked);
    EXPECT_EQ(option::Prev(head), nullptr);
  }
}

struct ScanCase {
  std::vector<const char*> args;
  std::vector<std::string> records;  // Describe() of each stored record
  std::vector<std::string> rest;
  bool failed;
  const char* out;  // the storing pass's stdout
  const char* err;  // and its stderr
};

constexpr const char* kUnknown = "Unknown option ''\n";
constexpr const char* kMissing = "Option '' requires an argument\n";

void RunScanCases(const std::vector<ScanCase>& cases) {
  for (const ScanCase& row : cases) {
    std::string name;
    for (const char* arg : row.args) name += std::string("[") + arg + "]";
    SCOPED_TRACE(name.empty() ? "(no elements)" : name);
    const TwoPassRun run = RunBothPasses(row.args);
    EXPECT_EQ(StoredRecords(run), row.records);
    EXPECT_EQ(RestElements(run), row.rest);
    EXPECT_EQ(run.parser.failed, row.failed);
    EXPECT_EQ(run.storing.out, row.out);
    EXPECT_EQ(run.storing.err, row.err);
    // The counting pass is silent and sees exactly what the storing pass
    // stores, leaving one spare all-zero record.
    EXPECT_EQ(run.counting.out, "");
    EXPECT_EQ(run.counting.err, "");
    EXPECT_EQ(run.stats.recordCapacity, run.parser.storedCount + 1);
    EXPECT_EQ(run.stats.slotCapacity, 13);
    EXPECT_EQ(run.records[run.parser.storedCount].spec, nullptr);
    if (row.rest.empty()) EXPECT_EQ(run.parser.restElements, nullptr);
    ExpectSlotListsMatchRecords(run);
  }
}

TEST(ParserScanTest, LetterForms) {
  RunScanCases({
      // h is ambiguous as an abbreviation (help, html): taken as a letter.
      {{"/h"}, {"5 h null"}, {}, false, "", ""},
      {{"-h"}, {"5 h null"}, {}, false, "", ""},
      {{"/a"}, {"6 /a null"}, {}, false, "", ""},
      {{"/ax"}, {"6 ax 'x'"}, {}, false, "", ""},
      {{"/tx"}, {"1 tx 'x'"}, {}, false, "", ""},
      // The first letter keeps the rest of the cluster as its value.
      {{"/dv"}, {"8 dv 'v'"}, {}, false, "", ""},
      {{"/1=x"}, {"2 1=x '=x'"}, {}, false, "", ""},
      {{"/10"}, {"2 10 '0'"}, {}, false, "", ""},
      {{"/0"}, {"2 0 null"}, {}, false, "", ""},
      {{"/9"}, {"2 9 null"}, {}, false, "", ""},
      {{"/q", "x"}, {"11 /q 'x'"}, {"x"}, false, "", ""},
      {{"/qa"}, {"11 qa 'a'"}, {}, false, "", ""},
      {{"/x"}, {}, {}, true, "x", kUnknown},
      {{"/xyz"}, {}, {}, true, "xyz", kUnknown},
      {{"/P1"}, {}, {}, true, "P1", kUnknown},
      {{"/Auto"}, {}, {}, true, "Auto", kUnknown},
      {{"/p31"}, {}, {}, true, "p31", kUnknown},
      // p abbreviates p1 to p30 alike, and p is no letter form.
      {{"/p"}, {}, {}, true, "p", kUnknown},
  });
}

TEST(ParserScanTest, LongFormsAndAbbreviations) {
  RunScanCases({
      {{"/he"}, {"5 /he null"}, {}, false, "", ""},
      {{"/hel"}, {"5 /hel null"}, {}, false, "", ""},
      {{"/help"}, {"5 /help null"}, {}, false, "", ""},
      {{"/ht"}, {"7 /ht null"}, {}, false, "", ""},
      {{"/html"}, {"7 /html null"}, {}, false, "", ""},
      {{"/taskid=ABC"}, {"1 /taskid=ABC 'ABC'"}, {}, false, "", ""},
      {{"-taskid=ABC"}, {"1 -taskid=ABC 'ABC'"}, {}, false, "", ""},
      {{"--taskid=ABC"}, {"1 --taskid=ABC 'ABC'"}, {}, false, "", ""},
      {{"//taskid=ABC"}, {"1 //taskid=ABC 'ABC'"}, {}, false, "", ""},
      {{"-/taskid=ABC"}, {"1 -/taskid=ABC 'ABC'"}, {}, false, "", ""},
      {{"/taskid="}, {"1 /taskid= ''"}, {}, false, "", ""},
      {{"/tas=5"}, {"1 /tas=5 '5'"}, {}, false, "", ""},
      {{"/t=5"}, {"1 /t=5 '5'"}, {}, false, "", ""},
      // Exact names win over being a prefix of longer ones (p10 to p19).
      {{"/p1"}, {"2 /p1 null"}, {}, false, "", ""},
      {{"/p3"}, {"2 /p3 null"}, {}, false, "", ""},
      {{"/p30=z"}, {"2 /p30=z 'z'"}, {}, false, "", ""},
      {{"/p1=x"}, {"2 /p1=x 'x'"}, {}, false, "", ""},
      {{"/p1="}, {"2 /p1= ''"}, {}, false, "", ""},
      {{"/p1=a=b"}, {"2 /p1=a=b 'a=b'"}, {}, false, "", ""},
      {{"/auto=on"}, {"6 /auto=on 'on'"}, {}, false, "", ""},
      // Two prefixes allow long names only: --a is no letter cluster.
      {{"--a"}, {"6 --a null"}, {}, false, "", ""},
      {{"--ax"}, {}, {}, true, "--ax", kUnknown},
      {{"--h"}, {}, {}, true, "--h", kUnknown},
      {{"---"}, {}, {}, true, "---", kUnknown},
      {{"/taskid"}, {}, {}, true, "/taskid", kMissing},
      {{"/t"}, {}, {}, true, "/t", kMissing},
      {{"/tas"}, {}, {}, true, "/tas", kMissing},
      {{"/=x"}, {}, {}, true, "/=x", kUnknown},
      {{"--=x"}, {}, {}, true, "--=x", kUnknown},
  });
}

TEST(ParserScanTest, ValuesFromTheNextElement) {
  RunScanCases({
      // ABC is taken as the value, then scanned again as the first leftover.
      {{"/taskid", "ABC", "/auto"},
       {"1 /taskid 'ABC'"},
       {"ABC", "/auto"},
       false,
       "",
       ""},
      {{"/taskid", "/auto"},
       {"1 /taskid '/auto'", "6 /auto null"},
       {},
       false,
       "",
       ""},
      {{"/p1", "/p2", "/p3"},
       {"2 /p1 '/p2'", "2 /p2 '/p3'", "2 /p3 null"},
       {},
       false,
       "",
       ""},
      {{"/tas", "X"}, {"1 /tas 'X'"}, {"X"}, false, "", ""},
      {{"/t", "7"}, {"1 /t '7'"}, {"7"}, false, "", ""},
      {{"/auto", "x", "/html"}, {"6 /auto 'x'"}, {"x", "/html"}, false, "", ""},
      {{"/h", "/taskid=1"},
       {"5 h '/taskid=1'", "1 /taskid=1 '1'"},
       {},
       false,
       "",
       ""},
      {{"/taskid=7", "/auto", "/auto"},
       {"1 /taskid=7 '7'", "6 /auto '/auto'", "6 /auto null"},
       {},
       false,
       "",
       ""},
      {{"/p1=a", "/p1=b"}, {"2 /p1=a 'a'", "2 /p1=b 'b'"}, {}, false, "", ""},
      // A failure keeps what was stored before it and leaves no leftovers.
      {{"/auto", "/x", "rest"}, {"6 /auto '/x'"}, {}, true, "x", kUnknown},
      {{"/taskid=1", "/tas"}, {"1 /taskid=1 '1'"}, {}, true, "/tas", kMissing},
  });
}

TEST(ParserScanTest, LeftoverElements) {
  RunScanCases({
      {{}, {}, {}, false, "", ""},
      {{"--", "/auto"}, {}, {"/auto"}, false, "", ""},
      {{"-/", "/auto"}, {}, {"/auto"}, false, "", ""},
      {{"/-", "a", "b"}, {}, {"a", "b"}, false, "", ""},
      {{"//"}, {}, {}, false, "", ""},
      {{"/auto=1", "--"}, {"6 /auto=1 '1'"}, {}, false, "", ""},
      // Only the first end marker is one; the second is an argument.
      {{"--", "--"}, {}, {"--"}, false, "", ""},
      {{"-"}, {}, {"-"}, false, "", ""},
      {{"/"}, {}, {"/"}, false, "", ""},
      {{"-", "/auto"}, {}, {"-", "/auto"}, false, "", ""},
      {{"abc", "/auto"}, {}, {"abc", "/auto"}, false, "", ""},
      {{"", "/auto"}, {}, {"", "/auto"}, false, "", ""},
      {{"/auto=1", "x", "/x"}, {"6 /auto=1 '1'"}, {"x", "/x"}, false, "", ""},
  });
}

// A null element ends the scan; a negative count means "up to the first
// null element".
TEST(ParserScanTest, CountsAndNullElements) {
  struct Case {
    const char* name;
    std::vector<const char*> elements;
    int32_t count;
    std::vector<std::string> records;
    std::vector<std::string> rest;
  };
  const std::vector<Case> cases = {
      {"negative, leftovers",
       {"/taskid", "ABC", "/auto", nullptr},
       -1,
       {"1 /taskid 'ABC'"},
       {"ABC", "/auto"}},
      {"negative, last switch has no value",
       {"/p1", nullptr},
       -5,
       {"2 /p1 null"},
       {}},
      {"negative, end marker",
       {"/auto=1", "--", "a", "b", nullptr},
       -1,
       {"6 /auto=1 '1'"},
       {"a", "b"}},
      {"negative, nothing", {nullptr}, -1, {}, {}},
      {"null inside a positive count",
       {"/auto", nullptr, "x"},
       3,
       {"6 /auto null"},
       {}},
      {"count shorter than the vector",
       {"/auto", "/html", "y"},
       1,
       {"6 /auto null"},
       {}},
      {"count two, value from the next",
       {"/auto", "x", "y"},
       2,
       {"6 /auto 'x'"},
       {"x"}},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.name);
    std::vector<const char*> elements = row.elements;
    option::Stats stats;
    stats.tally(OptionTable, row.count, elements.data(), 1);
    std::vector<ParsedOption> slots(stats.slotCapacity);
    std::vector<ParsedOption> records(stats.recordCapacity);
    option::Parser parser;
    parser.fill(OptionTable, row.count, elements.data(), slots.data(),
                records.data(), 1, -1);
    EXPECT_FALSE(parser.failed);
    std::vector<std::string> stored;
    for (int32_t i = 0; i < parser.storedCount; ++i)
      stored.push_back(Describe(records[i]));
    EXPECT_EQ(stored, row.records);
    EXPECT_EQ(stats.recordCapacity, parser.storedCount + 1);
    std::vector<std::string> rest;
    for (int32_t i = 0; i < parser.restCount; ++i)
      rest.push_back(parser.restElements[i]);
    EXPECT_EQ(rest, row.rest);
  }

  // No vector at all: whatever the count, nothing is scanned.
  option::Stats stats;
  stats.tally(OptionTable, 5, nullptr, 1);
  EXPECT_EQ(stats.recordCapacity, 1);
  ParsedOption slots[13] = {};
  ParsedOption records[1] = {};
  option::Parser parser;
  parser.fill(OptionTable, 5, nullptr, slots, records, 1, -1);
  EXPECT_FALSE(parser.failed);
  EXPECT_EQ(parser.storedCount, 0);
  EXPECT_EQ(parser.restCount, 0);
}

TEST(ParserScanTest, MinAbbreviation) {
  struct Case {
    const char* arg;
    int32_t minAbbreviation;
    const char* record;
  };
  const Case cases[] = {
      {"/he", 0, "5 he 'e'"},        // abbreviations off: letters only
      {"/help", 0, "5 /help null"},  // exact names still count
      {"/ta", 3, "1 ta 'a'"},       {"/tas=1", 3, "1 /tas=1 '1'"},
      {"/hel", 3, "5 /hel null"},   {"/auto", 4, "6 /auto null"},
      {"/aut", 4, "6 aut 'ut'"},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(std::string(row.arg) + " min " +
                 std::to_string(row.minAbbreviation));
    const TwoPassRun run =
        RunBothPasses({row.arg}, OptionTable, row.minAbbreviation);
    ASSERT_EQ(run.parser.storedCount, 1);
    EXPECT_EQ(Describe(run.records[0]), row.record);
  }
}

// Checks with the verdicts the program's own table never gives.
option::ArgVerdict GiveNoValue(const ParsedOption&, bool) {
  return option::NoValue;
}
option::ArgVerdict GiveDropped(const ParsedOption&, bool) {
  return option::Dropped;
}
option::ArgVerdict GiveOther(const ParsedOption&, bool) {
  return static_cast<option::ArgVerdict>(7);
}

const OptionSpec kVerdictTable[] = {
    {0, 0, "", "", option::rejectUnknown, ""},
    {1, 0, "n", "none", GiveNoValue, ""},
    {2, 0, "d", "drop", GiveDropped, ""},
    {3, 0, "o", "other", GiveOther, ""},
    {4, 0, "k", "keep", option::acceptValue, ""},
    {0, 0, nullptr, nullptr, nullptr, nullptr},
};

// No catch-all row: unmatched names are skipped.
const OptionSpec kNoCatchAllTable[] = {
    {4, 0, "k", "keep", option::acceptValue, ""},
    {0, 0, nullptr, nullptr, nullptr, nullptr},
};

TEST(ParserScanTest, VerdictsAndCatchAll) {
  struct Case {
    const OptionSpec* table;
    std::vector<const char*> args;
    std::vector<std::string> records;
    std::vector<std::string> rest;
  };
  const std::vector<Case> cases = {
      // NoValue and Dropped clear the value and go on through the cluster;
      // another verdict keeps it and goes on; Accepted ends the cluster.
      {kVerdictTable,
       {"/ndok"},
       {"1 ndok null", "2 dok null", "3 ok 'k'", "4 k null"},
       {}},
      {kVerdictTable, {"/kn"}, {"4 kn 'n'"}, {}},
      {kVerdictTable, {"/nk", "x"}, {"1 nk null", "4 k 'x'"}, {"x"}},
      {kVerdictTable, {"/none=v"}, {"1 /none=v null"}, {}},
      {kVerdictTable, {"/drop=v"}, {"2 /drop=v null"}, {}},
      {kVerdictTable, {"/other=v"}, {"3 /other=v 'v'"}, {}},
      {kVerdictTable, {"/ok", "x"}, {"3 ok 'k'", "4 k 'x'"}, {"x"}},
      {kNoCatchAllTable, {"/zk"}, {"4 k null"}, {}},
      {kNoCatchAllTable, {"--zz", "/k"}, {"4 /k null"}, {}},
      {kNoCatchAllTable, {"/zz", "rest"}, {}, {"rest"}},
  };
  for (const Case& row : cases) {
    std::string name;
    for (const char* arg : row.args) name += std::string("[") + arg + "]";
    SCOPED_TRACE(name);
    const TwoPassRun run = RunBothPasses(row.args, row.table);
    EXPECT_FALSE(run.parser.failed);
    EXPECT_EQ(StoredRecords(run), row.records);
    EXPECT_EQ(RestElements(run), row.rest);
    EXPECT_EQ(run.stats.recordCapacity, run.parser.storedCount + 1);
    ExpectSlotListsMatchRecords(run);
  }
}

// A receiver that records the scan's calls and answers as told.
class RecordingAction : public option::Parser::Action {
 public:
  RecordingAction(bool optionAnswer, bool restAnswer)
      : optionAnswer_(optionAnswer), restAnswer_(restAnswer) {}
  bool handleOption(const ParsedOption& record) override {
    options.push_back(Describe(record));
    return optionAnswer_;
  }
  bool handleRest(int32_t count, const char** elements) override {
    ++restCalls;
    restCount = count;
    restElements = elements;
    return restAnswer_;
  }
  std::vector<std::string> options;
  int restCalls = 0;
  int32_t restCount = -1;
  const char** restElements = nullptr;

 private:
  bool optionAnswer_;
  bool restAnswer_;
};

TEST(ParserScanTest, ReceiverAnswersDecideTheResult) {
  const char* args[] = {"/auto=1", "/html=1", "x"};
  {
    SCOPED_TRACE("handleRest's answer is the result");
    RecordingAction action(true, false);
    EXPECT_FALSE(option::scanArguments(OptionTable, 3, args, action, true, 1));
    EXPECT_EQ(action.options.size(), 2u);
    EXPECT_EQ(action.restCalls, 1);
    EXPECT_EQ(action.restCount, 1);
    EXPECT_EQ(action.restElements, args + 2);
  }
  {
    SCOPED_TRACE("a refused option stops the scan");
    RecordingAction action(false, true);
    EXPECT_FALSE(option::scanArguments(OptionTable, 3, args, action, true, 1));
    EXPECT_EQ(action.options.size(), 1u);
    EXPECT_EQ(action.restCalls, 0);
  }
  {
    SCOPED_TRACE("running out of elements hands on an empty rest");
    RecordingAction action(true, true);
    EXPECT_TRUE(option::scanArguments(OptionTable, 2, args, action, true, 1));
    EXPECT_EQ(action.restCount, 0);
  }
  {
    SCOPED_TRACE("a rejected option is not handed on");
    const char* unknown[] = {"/x"};
    RecordingAction action(true, true);
    Output output = Captured([&] {
      EXPECT_FALSE(
          option::scanArguments(OptionTable, 1, unknown, action, false, 1));
    });
    EXPECT_TRUE(action.options.empty());
    EXPECT_EQ(action.restCalls, 0);
    EXPECT_EQ(output.out + output.err, "");
  }
}

TEST(ParsedOptionTest, InitMarksLinksAndMeasuresTheName) {
  struct Case {
    const char* text;
    int32_t nameLength;
  };
  const Case cases[] = {
      {nullptr, 0}, {"/taskid=ABC", 7}, {"--taskid=ABC", 8}, {"/taskid", 7},
      {"/a", 2},    {"//", 2},          {"/=x", 1},          {"/", 1},
      {"-", 1},     {"h", 1},           {"ax", 1},           {"1=x", 1},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.text ? row.text : "(null)");
    ParsedOption record{};
    record.init(&OptionTable[3], row.text, "v");
    EXPECT_EQ(record.nameLength, row.nameLength);
    EXPECT_EQ(record.spec, &OptionTable[3]);
    EXPECT_EQ(record.text, row.text);
    EXPECT_STREQ(record.value, "v");
    EXPECT_EQ(record.nextLink, Marked(&record));
    EXPECT_EQ(record.prevLink, Marked(&record));
    EXPECT_EQ(option::Count(record), 1);
    EXPECT_EQ(option::Next(record), nullptr);
    EXPECT_EQ(option::Prev(record), nullptr);
  }
}

TEST(ParserSlotListTest, HeadIsACopyAndLaterOccurrencesAreLinked) {
  const TwoPassRun run =
      RunBothPasses({"/p1=a", "/auto", "--p2=b", "/3", "/taskid=7"});
  ASSERT_FALSE(run.parser.failed);
  ASSERT_EQ(run.parser.storedCount, 5);
  // /auto took --p2=b as its value, and --p2=b was then scanned itself;
  // likewise the letter 3 took /taskid=7.
  const ParsedOption& head = run.slots[option::SlotParameter];
  const ParsedOption* first = &run.records[0];
  const ParsedOption* second = &run.records[2];
  const ParsedOption* third = &run.records[3];
  EXPECT_NE(&head, first);
  EXPECT_EQ(head.spec, first->spec);
  EXPECT_EQ(head.text, first->text);
  EXPECT_EQ(head.value, first->value);
  EXPECT_EQ(head.nameLength, 3);

  EXPECT_EQ(head.nextLink, second);
  EXPECT_EQ(second->prevLink, &head);
  EXPECT_EQ(second->nextLink, third);
  EXPECT_EQ(third->prevLink, second);
  EXPECT_EQ(third->nextLink, Marked(&head));
  EXPECT_EQ(head.prevLink, Marked(third));

  EXPECT_EQ(option::Count(head), 3);
  EXPECT_EQ(option::Last(head), third);
  EXPECT_EQ(option::Prev(*third), second);
  EXPECT_EQ(option::Prev(*second), &head);
  EXPECT_STREQ(option::Next(head)->value, "b");
  EXPECT_STREQ(option::Last(head)->text, "3");

  // A slot seen once is a one-element list in both arrays.
  const ParsedOption& auto_ = run.slots[option::SlotAuto];
  EXPECT_EQ(auto_.nextLink, Marked(&auto_));
  EXPECT_EQ(auto_.prevLink, Marked(&auto_));
  EXPECT_EQ(option::Last(auto_), &auto_);
  EXPECT_EQ(option::Count(run.slots[option::SlotHelp]), 0);
  EXPECT_EQ(option::First(run.slots[option::SlotHelp]), nullptr);
  // The all-zero record is an empty value for the walkers too.
  EXPECT_EQ(option::Next(run.records[5]), nullptr);
  EXPECT_EQ(option::Prev(run.records[5]), nullptr);
}

TEST(ParserCapacityTest, SlotAndRecordCapacities) {
  option::Stats stats;
  EXPECT_EQ(stats.slotCapacity, 1);
  EXPECT_EQ(stats.recordCapacity, 1);
  stats.tally(OptionTable, 0, nullptr, 1);
  EXPECT_EQ(stats.slotCapacity, 13);
  EXPECT_EQ(stats.recordCapacity, 1);

  const OptionSpec sparse[] = {
      {-4, 0, "", "", option::rejectUnknown, ""},
      {20, 0, "a", "", option::acceptValue, ""},
      {3, 0, "b", "", option::acceptValue, ""},
      {0, 0, nullptr, nullptr, nullptr, nullptr},
  };
  option::Stats sparseStats;
  sparseStats.tally(sparse, 0, nullptr, 1);
  EXPECT_EQ(sparseStats.slotCapacity, 22);

  // The counter stops at the largest count rather than overflowing.
  const char* args[] = {"/auto=1", "/html=1", "/send=1"};
  option::Stats nearFull;
  nearFull.recordCapacity = kMaxCount - 1;
  nearFull.tally(OptionTable, 3, args, 1);
  EXPECT_EQ(nearFull.recordCapacity, kMaxCount);
}

TEST(ParserStoreTest, LimitDropsRecordsAndRefillAppends) {
  const char* args[] = {"/auto=1", "/html=1", "/send=1", "/p1=x"};
  struct Case {
    int32_t limit;
    int32_t stored;
  };
  for (const Case row : {Case{0, 0}, Case{2, 2}, Case{4, 4}, Case{9, 4}}) {
    SCOPED_TRACE("limit " + std::to_string(row.limit));
    ParsedOption slots[13] = {};
    ParsedOption records[5] = {};
    option::Parser parser;
    parser.fill(OptionTable, 4, args, slots, records, 1, row.limit);
    EXPECT_FALSE(parser.failed);
    EXPECT_EQ(parser.storedCount, row.stored);
    for (int i = row.stored; i < 5; ++i) EXPECT_EQ(records[i].spec, nullptr);
    EXPECT_EQ(slots[option::SlotSend].spec != nullptr, row.stored >= 3);
  }

  // A second fill counts the records already there and appends to the
  // slot lists; a limit also bounds that count on a full array.
  ParsedOption slots[13] = {};
  ParsedOption records[3] = {};
  option::Parser first;
  first.fill(OptionTable, 1, args + 3, slots, records, 1, -1);
  const char* more[] = {"/p2=y"};
  option::Parser second;
  second.fill(OptionTable, 1, more, slots, records, 1, -1);
  EXPECT_EQ(second.storedCount, 2);
  EXPECT_EQ(option::Count(slots[option::SlotParameter]), 2);
  EXPECT_STREQ(option::Last(slots[option::SlotParameter])->value, "y");
  option::Parser full;
  full.fill(OptionTable, 1, more, slots, records, 1, 2);
  EXPECT_EQ(full.storedCount, 2);
  EXPECT_EQ(records[2].spec, nullptr);
}

TEST(ParserStoreTest, RowOutsideTheSlotArrayIsRefused) {
  const OptionSpec negative[] = {
      {-1, 0, "n", "neg", option::acceptValue, ""},
      {0, 0, nullptr, nullptr, nullptr, nullptr},
  };
  const char* args[] = {"/neg"};
  ParsedOption guard[2] = {};
  ParsedOption records[2] = {};
  option::Parser parser;
  parser.fill(negative, 1, args, guard + 1, records, 1, -1);
  EXPECT_TRUE(parser.failed);
  EXPECT_EQ(parser.storedCount, 0);
  EXPECT_EQ(guard[0].spec, nullptr);
}

// The checks print only in the storing pass, and split their message: the
// quoted text on stdout, the pieces around it on stderr.
TEST(ParserMessagesTest, PassesAndStreams) {
  struct Case {
    const char* arg;
    const char* out;
    const char* err;
  };
  const Case cases[] = {
      {"/x", "x", "Unknown option ''\n"},
      {"/taskid", "/taskid", "Option '' requires an argument\n"},
      {"-t", "-t", "Option '' requires an argument\n"},
      {"//=x", "//=x", "Unknown option ''\n"},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.arg);
    const char* args[] = {row.arg};
    RecordingAction silent(true, true);
    const Output counting = Captured(
        [&] { option::scanArguments(OptionTable, 1, args, silent, false, 1); });
    EXPECT_EQ(counting.out, "");
    EXPECT_EQ(counting.err, "");
    RecordingAction loud(true, true);
    const Output storing = Captured(
        [&] { option::scanArguments(OptionTable, 1, args, loud, true, 1); });
    EXPECT_EQ(storing.out, row.out);
    EXPECT_EQ(storing.err, row.err);
  }
}

}  // namespace
