// The optional bound on a whole run, from the environment variable
// ULVEX_TIME_LIMIT: for unattended runs, where nobody can press Ctrl+C when
// the host stops answering.
#pragma once

#include <string>

/// The variable's name, as the messages spell it.
extern const char kTimeLimitVariable[];

/// The shortest and the longest limit accepted, in seconds: 1 s and 1000 h.
constexpr unsigned long kShortestTimeLimitSeconds = 1;
constexpr unsigned long kLongestTimeLimitSeconds = 1000ul * 60 * 60;

/// Reads a limit: a whole number of 1 to 7 significant digits, then
/// optionally one unit letter, s, m or h (either case); no unit means
/// minutes. Nothing else is allowed: no blanks, signs, decimals or further
/// letters. False for text that does not have this form, and for zero or a
/// limit outside kShortestTimeLimitSeconds..kLongestTimeLimitSeconds; seconds
/// is then left alone.
bool ParseTimeLimit(const wchar_t* text, unsigned long& seconds);

/// Text of the variable of at most this many characters is read; a longer
/// value is not a valid limit.
constexpr size_t kMaxTimeLimitChars = 63;

/// What the variable holds.
enum class TimeLimitSetting { Unset, Valid, Invalid };

struct TimeLimit {
  TimeLimitSetting setting = TimeLimitSetting::Unset;
  unsigned long seconds = 0;  ///< Valid only
  std::wstring text;          ///< the value as it stands (set or not valid)
};

/// Reads ULVEX_TIME_LIMIT from this process's environment (Windows only).
TimeLimit ReadTimeLimit();

/// The line (without its line end) that says that value is not a valid
/// time limit and how to write one.
std::wstring InvalidTimeLimitLine(const std::wstring& value);

/// A valid limit in words: whole hours as hours, else whole minutes as
/// minutes, else seconds ("2 hours", "90 minutes", "1 second").
std::string TimeLimitInWords(unsigned long seconds);
