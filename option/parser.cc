#include "option/parser.h"

#include <cstdint>
#include <cstring>
#include <limits>

namespace option {

namespace {

constexpr int32_t kMaxCount = std::numeric_limits<int32_t>::max();

// The ends of a slot's list are marked in the lowest address bit of the
// links; records are at least pointer-aligned, so the bit is always free.
constexpr uintptr_t kMarkBit = 1;

ParsedOption* Marked(ParsedOption* record) {
  return reinterpret_cast<ParsedOption*>(reinterpret_cast<uintptr_t>(record) |
                                         kMarkBit);
}

ParsedOption* Unmarked(ParsedOption* link) {
  return reinterpret_cast<ParsedOption*>(reinterpret_cast<uintptr_t>(link) &
                                         ~kMarkBit);
}

bool IsMarked(const ParsedOption* link) {
  return (reinterpret_cast<uintptr_t>(link) & kMarkBit) != 0;
}

bool IsPrefix(char c) { return c == '-' || c == '/'; }

// The table ends at the row whose shortLetters is null.
bool IsEndRow(const OptionSpec& row) { return row.shortLetters == nullptr; }

// Length of a name part: up to the first "=" or the end of the element.
size_t NameLength(const char* name) { return strcspn(name, "="); }

// The first row whose whole long name is the name part.
const OptionSpec* FindExactLong(const OptionSpec* table, const char* name) {
  const size_t length = NameLength(name);
  for (const OptionSpec* row = table; !IsEndRow(*row); ++row) {
    if (row->longName != nullptr && strlen(row->longName) == length &&
        strncmp(row->longName, name, length) == 0)
      return row;
  }
  return nullptr;
}

// The one row whose long name the name part abbreviates; two or more
// candidates make the abbreviation ambiguous, which counts as no match.
const OptionSpec* FindAbbreviatedLong(const OptionSpec* table, const char* name,
                                      int32_t minAbbreviation) {
  if (minAbbreviation <= 0) return nullptr;
  const size_t length = NameLength(name);
  if (length < static_cast<size_t>(minAbbreviation)) return nullptr;
  const OptionSpec* found = nullptr;
  for (const OptionSpec* row = table; !IsEndRow(*row); ++row) {
    if (row->longName == nullptr || strlen(row->longName) <= length ||
        strncmp(row->longName, name, length) != 0)
      continue;
    if (found != nullptr) return nullptr;
    found = row;
  }
  return found;
}

// The first row that has the letter among its letter forms.
const OptionSpec* FindLetter(const OptionSpec* table, char letter) {
  for (const OptionSpec* row = table; !IsEndRow(*row); ++row) {
    if (strchr(row->shortLetters, letter) != nullptr) return row;
  }
  return nullptr;
}

// The catch-all: the first row with neither letters nor a long name.
const OptionSpec* FindCatchAll(const OptionSpec* table) {
  for (const OptionSpec* row = table; !IsEndRow(*row); ++row) {
    if (row->shortLetters[0] == '\0' && row->longName != nullptr &&
        row->longName[0] == '\0')
      return row;
  }
  return nullptr;
}

// Elements from here up to the first null one (for a negative count).
int32_t CountUpToNull(const char** elements) {
  int32_t count = 0;
  while (count < kMaxCount && elements[count] != nullptr) ++count;
  return count;
}

// Elements left from here on, for either kind of count.
int32_t RestCount(int32_t count, const char** elements) {
  return count < 0 ? CountUpToNull(elements) : count;
}

// The value a switch may take from the element after its own.
const char* NextElementValue(int32_t count, const char** elements) {
  return (count > 1 || count < 0) ? elements[1] : nullptr;
}

enum class Outcome {
  kGoOn,        // the option was handed on; continue
  kEndCluster,  // the check accepted the value: the rest of a cluster goes
  kFail,        // the check rejected, or the receiver refused
};

// Checks the candidate and hand it on.
Outcome HandleMatch(const OptionSpec* row, const char* text, const char* value,
                    Parser::Action& action, bool printErrors) {
  ParsedOption record{};
  record.init(row, text, value);
  // A row without a check keeps its value, as acceptValue would.
  const int32_t verdict =
      row->argCheck != nullptr ? row->argCheck(record, printErrors) : Accepted;
  if (verdict == Rejected) return Outcome::kFail;
  if (verdict == NoValue || verdict == Dropped) record.value = nullptr;
  if (!action.handleOption(record)) return Outcome::kFail;
  return verdict == Accepted ? Outcome::kEndCluster : Outcome::kGoOn;
}

}  // namespace

void ParsedOption::init(const OptionSpec* newSpec, const char* newText,
                        const char* newValue) {
  nextLink = Marked(this);
  prevLink = Marked(this);
  spec = newSpec;
  text = newText;
  value = newValue;
  if (newText == nullptr) {
    nameLength = 0;
  } else if (IsPrefix(newText[0]) && newText[1] != '\0') {
    const size_t length = NameLength(newText);
    nameLength = length > static_cast<size_t>(kMaxCount)
                     ? kMaxCount
                     : static_cast<int32_t>(length);
  } else {
    nameLength = 1;
  }
}

bool scanArguments(const OptionSpec* table, int32_t count,
                   const char** elements, Parser::Action& action,
                   bool printErrors, int32_t minAbbreviation) {
  static const OptionSpec kNoRows[] = {
      {0, 0, nullptr, nullptr, nullptr, nullptr}};
  if (table == nullptr) table = kNoRows;
  if (elements == nullptr) count = 0;
  const OptionSpec* catchAll = FindCatchAll(table);

  while (count != 0) {
    const char* element = elements[0];
    if (element == nullptr) return action.handleRest(0, elements);
    if (!IsPrefix(element[0]) || element[1] == '\0')
      return action.handleRest(RestCount(count, elements), elements);
    if (IsPrefix(element[1]) && element[2] == '\0') {
      // The end marker: everything after it is an argument, not a switch.
      const int32_t after = count > 0 ? count - 1 : count;
      return action.handleRest(RestCount(after, elements + 1), elements + 1);
    }

    const bool longOnly = IsPrefix(element[1]);
    const char* name = element + (longOnly ? 2 : 1);
    const OptionSpec* row = FindExactLong(table, name);
    if (row == nullptr) row = FindAbbreviatedLong(table, name, minAbbreviation);

    if (row != nullptr || longOnly) {
      if (row == nullptr) row = catchAll;
      if (row != nullptr) {
        const char* equals = strchr(name, '=');
        const char* value =
            equals != nullptr ? equals + 1 : NextElementValue(count, elements);
        if (HandleMatch(row, element, value, action, printErrors) ==
            Outcome::kFail)
          return false;
      }
    } else {
      // A cluster of letters; the rest of it is the value of a letter whose
      // check keeps values, so normally only the first letter counts.
      for (const char* letter = name; *letter != '\0'; ++letter) {
        const OptionSpec* letterRow = FindLetter(table, *letter);
        if (letterRow == nullptr) letterRow = catchAll;
        if (letterRow == nullptr) continue;
        const char* value =
            letter[1] != '\0' ? letter + 1 : NextElementValue(count, elements);
        const Outcome outcome =
            HandleMatch(letterRow, letter, value, action, printErrors);
        if (outcome == Outcome::kFail) return false;
        if (outcome == Outcome::kEndCluster) break;
      }
    }

    // Exactly one element on, even when the value was the next element:
    // that element is scanned in its own right.
    ++elements;
    if (count > 0) --count;
  }
  return action.handleRest(0, elements);
}

class Stats::CountOptionsAction : public Parser::Action {
 public:
  explicit CountOptionsAction(int32_t* counter) : counter_(counter) {}

  bool handleOption(const ParsedOption&) override {
    if (*counter_ == kMaxCount) return false;
    ++*counter_;
    return true;
  }

  bool handleRest(int32_t, const char**) override { return true; }

 private:
  int32_t* counter_;
};

namespace {

// One more than the highest slot of the table (0 for an empty table): the
// slot array that Stats::tally sizes from the same table has these entries.
int64_t SlotBound(const OptionSpec* table) {
  int64_t bound = 0;
  if (table == nullptr) return bound;
  for (const OptionSpec* row = table; !IsEndRow(*row); ++row)
    if (row->slot >= bound) bound = static_cast<int64_t>(row->slot) + 1;
  // tally stops growing at the largest count; so does the bound.
  return bound > kMaxCount ? kMaxCount : bound;
}

}  // namespace

void Stats::tally(const OptionSpec* table, int32_t count, const char** elements,
                  int32_t minAbbreviation) {
  if (table != nullptr) {
    for (const OptionSpec* row = table; !IsEndRow(*row); ++row) {
      const int64_t needed = static_cast<int64_t>(row->slot) + 2;
      if (needed - 1 >= slotCapacity)
        slotCapacity =
            needed > kMaxCount ? kMaxCount : static_cast<int32_t>(needed);
    }
  }
  CountOptionsAction counter(&recordCapacity);
  scanArguments(table, count, elements, counter, false, minAbbreviation);
}

class Parser::StoreOptionAction : public Parser::Action {
 public:
  StoreOptionAction(Parser* parser, ParsedOption* slots, ParsedOption* records,
                    int32_t limit, int64_t slotBound)
      : parser_(parser),
        slots_(slots),
        records_(records),
        limit_(limit),
        slotBound_(slotBound) {}

  bool handleOption(const ParsedOption& record) override {
    int32_t& stored = parser_->storedCount;
    if (limit_ >= 0 && stored >= limit_) return true;
    if (stored == kMaxCount) return false;
    const int32_t slot = record.spec->slot;
    // NOTE: a row whose slot the table's own bound does not cover would
    // write outside the slot array; refuse it rather than corrupt memory.
    if (slot < 0 || slot >= slotBound_) return false;

    ParsedOption& added = records_[stored];
    added.init(record.spec, record.text, record.value);
    ParsedOption& head = slots_[slot];
    if (head.spec == nullptr) {
      head.init(record.spec, record.text, record.value);
    } else {
      ParsedOption* last = Unmarked(head.prevLink);
      last->nextLink = &added;
      added.prevLink = last;
      added.nextLink = Marked(&head);
      head.prevLink = Marked(&added);
    }
    ++stored;
    return true;
  }

  bool handleRest(int32_t count, const char** elements) override {
    if (count > 0) {
      parser_->restCount = count;
      parser_->restElements = elements;
    }
    return true;
  }

 private:
  Parser* parser_;
  ParsedOption* slots_;
  ParsedOption* records_;
  int32_t limit_;
  int64_t slotBound_;
};

void Parser::fill(const OptionSpec* table, int32_t count, const char** elements,
                  ParsedOption* slots, ParsedOption* records,
                  int32_t minAbbreviation, int32_t limit) {
  // Records of an earlier fill stay; new ones go after them. A limit also
  // bounds this walk, since a full array has no all-zero record to stop at.
  storedCount = 0;
  while ((limit < 0 || storedCount < limit) && storedCount < kMaxCount &&
         records[storedCount].spec != nullptr)
    ++storedCount;
  StoreOptionAction store(this, slots, records, limit, SlotBound(table));
  failed = !scanArguments(table, count, elements, store, true, minAbbreviation);
}

const ParsedOption* First(const ParsedOption& head) {
  return head.spec != nullptr ? &head : nullptr;
}

const ParsedOption* Last(const ParsedOption& head) {
  return head.spec != nullptr ? Unmarked(head.prevLink) : nullptr;
}

const ParsedOption* Next(const ParsedOption& record) {
  return IsMarked(record.nextLink) ? nullptr : record.nextLink;
}

const ParsedOption* Prev(const ParsedOption& record) {
  return IsMarked(record.prevLink) ? nullptr : record.prevLink;
}

int32_t Count(const ParsedOption& head) {
  int32_t count = 0;
  for (const ParsedOption* record = First(head);
       record != nullptr && count < kMaxCount; record = Next(*record))
    ++count;
  return count;
}

}  // namespace option
