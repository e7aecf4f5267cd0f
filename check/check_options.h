// The installation check's own switches: a table for the program's option
// parser, and its help screen.
#pragma once

#include <cstdint>

#include "option/option_table.h"

namespace check {

constexpr int32_t SlotHelp = 1;
constexpr int32_t SlotJson = 2;
constexpr int32_t SlotNoHost = 3;

/// The help text's head, /h, /json, /nohost, and the all-zero end row.
extern const option::OptionSpec CheckOptionTable[];

/// What the command line asks for.
struct CheckSwitches {
  bool failed = false;  ///< a switch error; its message is printed
  bool help = false;
  bool json = false;
  bool noHost = false;
};

/// Parses the arguments after the program's name with the option parser;
/// an unknown switch, a value given to a switch, or any other argument
/// prints the option parser's message and sets failed.
CheckSwitches ParseCheckSwitches(int32_t count, const char** elements);

}  // namespace check
