// Console output conventions shared by every part of the run. All output
// goes through C stdio (printf for formatted text, fwrite for the usage
// stream), so the two writers keep program order on standard output.
#pragma once

#include <cstddef>

/// Writes wide text to standard output, converted to the console's code
/// page (or the ANSI code page when output is redirected). Characters the
/// code page cannot show are replaced; the text is never cut short.
void WriteWideText(const wchar_t* text);

/// Writes narrow text of the ANSI code page: to a console through the
/// console's code page (as WriteWideText does), to a pipe or file as the
/// bytes they are.
void WriteAnsiText(const char* text, size_t length);

/// printf-style, wide format and arguments, written as WriteWideText does.
void PrintWide(const wchar_t* format, ...);

/// Pushes buffered standard output to its pipe, file or console now.
void FlushOutput();

/// True when a key press can be read from a console.
bool HasConsoleInput();

/// Waits for one key press, unbuffered and unechoed; returns at once when
/// there is no console to read one from.
void WaitForKeyPress();
