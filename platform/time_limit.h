// The optional bound on a whole run, from the environment variable
// ULVEX_TIME_LIMIT: for unattended runs, where nobody can press Ctrl+C when
// the host stops answering.
#pragma once

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
