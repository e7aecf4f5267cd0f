// The program's whole command-line vocabulary: one static table that drives
// the scan, the argument checks and the usage screen.
#pragma once

#include <cstdint>

namespace option {

struct ParsedOption;

/// What an argument check decides about the value candidate of a switch.
enum ArgVerdict : int32_t {
  NoValue = 0,   ///< value cleared, cluster scanning continues
  Accepted = 1,  ///< value kept, rest of a letter cluster not scanned
  Dropped = 2,   ///< same as NoValue
  Rejected = 3,  ///< scan stops with failure
};

/// An argument check: looks at the candidate record and decides.
/// printErrors is false in the counting pass and true in the storing pass.
using CheckArg = ArgVerdict (*)(const ParsedOption& candidate,
                                bool printErrors);

/// One row of the option table. Field order is part of the contract.
struct OptionSpec {
  int32_t slot;
  int32_t kind;  // 0 in every row; never read
  const char* shortLetters;
  const char* longName;
  CheckArg argCheck;
  const char* helpText;
};

// Slots under which parsed switches are found.
constexpr int32_t SlotNone = 0;
constexpr int32_t SlotTaskId = 1;
constexpr int32_t SlotParameter = 2;
constexpr int32_t SlotHelp = 5;
constexpr int32_t SlotAuto = 6;
constexpr int32_t SlotHtml = 7;
constexpr int32_t SlotDataLoad = 8;
constexpr int32_t SlotValidate = 9;
constexpr int32_t SlotSend = 10;
constexpr int32_t SlotQuitOk = 11;

/// Where a piece of an argument check's message goes.
enum class MessageStream { Output, Error };

/// Writes one piece of a message (UTF-8 text, as the arguments are) to its
/// stream and flushes it.
using MessageWriter = void (*)(MessageStream stream, const char* text);

/// Sets the writer of the argument checks' messages; null restores the
/// plain one, which writes the bytes as they are through C stdio.
void SetMessageWriter(MessageWriter writer);

/// Rejects every candidate; prints "Unknown option '<text>'" when asked.
ArgVerdict rejectUnknown(const ParsedOption& candidate, bool printErrors);
/// Accepts whatever value candidate the scan offers.
ArgVerdict acceptValue(const ParsedOption& candidate, bool printErrors);
/// Accepts a non-null value (an empty one included); otherwise rejects and
/// prints "Option '<text>' requires an argument" when asked.
ArgVerdict requireValue(const ParsedOption& candidate, bool printErrors);

/// A switch without a value: a value given after "=" is rejected and
/// "Option '<text>' does not take a value" printed when asked; a value
/// candidate from the next element is left to be scanned on its own.
ArgVerdict rejectValue(const ParsedOption& candidate, bool printErrors);

/// 41 real rows followed by the all-zero end row.
extern const OptionSpec OptionTable[];
constexpr int kOptionTableRows = 42;  // end row included

}  // namespace option
