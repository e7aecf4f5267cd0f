// The two-pass command-line parser: a counting pass (Stats) sizes the two
// result arrays, a storing pass (Parser) fills them. Both run the same scan
// (scanArguments) and differ only in the receiver and in printErrors.
#pragma once

#include <cstdint>

#include "option/option_table.h"
#include "option/parsed_option.h"

namespace option {

class Parser {
 public:
  /// Receives what the scan recognises.
  class Action {
   public:
    virtual ~Action() = default;
    /// One parsed option; false stops the scan with failure.
    virtual bool handleOption(const ParsedOption& record) = 0;
    /// The leftover elements; the answer becomes the scan's result.
    virtual bool handleRest(int32_t count, const char** elements) = 0;
  };

  class StoreOptionAction;

  /// Stores the options of the elements into the two arrays. limit < 0
  /// means no limit on the record array.
  void fill(const OptionSpec* table, int32_t count, const char** elements,
            ParsedOption* slots, ParsedOption* records,
            int32_t minAbbreviation, int32_t limit);

  int32_t storedCount = 0;
  int32_t restCount = 0;
  const char** restElements = nullptr;
  bool failed = false;
};

class Stats {
 public:
  class CountOptionsAction;

  /// Sizes the arrays: slotCapacity from the table, recordCapacity from
  /// the options the scan sees (plus one spare all-zero record).
  void tally(const OptionSpec* table, int32_t count, const char** elements,
             int32_t minAbbreviation);

  int32_t recordCapacity = 1;
  int32_t slotCapacity = 1;
};

/// The shared scan. count < 0 means: up to the first null element.
bool scanArguments(const OptionSpec* table, int32_t count,
                   const char** elements, Parser::Action& action,
                   bool printErrors, int32_t minAbbreviation);

// Walking one slot's list of occurrences (head is the slot array entry).
const ParsedOption* First(const ParsedOption& head);
const ParsedOption* Last(const ParsedOption& head);
/// Next occurrence, or null after the last.
const ParsedOption* Next(const ParsedOption& record);
/// Previous occurrence, or null before the first.
const ParsedOption* Prev(const ParsedOption& record);
/// Number of occurrences in the list headed by head (0 for an empty slot).
int32_t Count(const ParsedOption& head);

}  // namespace option
