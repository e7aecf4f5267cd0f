// One parsed switch, as the scan hands it on and the result arrays hold it.
#pragma once

#include <cstdint>

#include "option/option_table.h"

namespace option {

/// One parsed option. An all-zero record is the empty value (null spec).
/// Occurrences of one slot form a doubly linked ring whose ends are marked
/// by the lowest address bit: the last occurrence's nextLink points back to
/// the head (marked), the head's prevLink points to the last (marked).
struct ParsedOption {
  ParsedOption* nextLink;
  ParsedOption* prevLink;
  const OptionSpec* spec;
  const char* text;   ///< where the option's name starts, inside argv
  const char* value;  ///< the value inside argv, or null
  int32_t nameLength;

  /// Sets spec, text and value, makes the record a one-element list and
  /// computes nameLength.
  void init(const OptionSpec* newSpec, const char* newText,
            const char* newValue);
};

}  // namespace option
