// The program's arguments, taken from its wide command line and split by the
// rules the C runtime (msvcrt.dll) applies when it makes argv, as UTF-8
// text: every character the caller typed reaches the parser and the echo.
#pragma once

#include <string>
#include <vector>

#include "option/option_table.h"

/// Splits a command line into its arguments, the program name first (there
/// is always one, empty for an empty line). The line ends at its end or at
/// its first NUL. The rules:
/// - the program name: from a leading quote to the next quote, or else up
///   to the first space or tab; backslashes are plain characters in it;
/// - then arguments are separated by spaces and tabs outside quotes;
/// - 2n backslashes and a quote give n backslashes, and the quote opens or
///   closes a quoted part; 2n+1 backslashes and a quote give n backslashes
///   and a literal quote; other backslashes are plain characters;
/// - two quotes inside a quoted part give one literal quote and close the
///   quoted part;
/// - a quoted part makes an argument even when empty ("" is an empty
///   argument), and one left open runs to the end of the line.
/// An unpaired surrogate becomes U+FFFD.
std::vector<std::string> SplitCommandLine(const std::u16string& line);

/// UTF-16 text as UTF-8, an unpaired surrogate as U+FFFD.
std::string Utf8FromUtf16(const std::u16string& text);

/// Pointers to the arguments after the program name, in order, as the
/// option parser takes them; valid while arguments lives unchanged.
std::vector<const char*> ElementsAfterProgramName(
    const std::vector<std::string>& arguments);

/// The arguments of this process, from GetCommandLineW.
std::vector<std::string> ReadArguments();

/// Writes one piece of a parse-error message (UTF-8) as the console
/// conventions want it: to a console whole, to a pipe or file in the ANSI
/// code page. For option::SetMessageWriter.
void WriteParseMessage(option::MessageStream stream, const char* text);
