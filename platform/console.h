// Console output conventions shared by every part of the run. Plain ASCII
// text goes through C stdio (printf, fwrite). Text that may hold any
// character goes through the writers below: to a console whole, through
// WriteConsoleW; to a pipe or a file as bytes of the ANSI code page, each
// character the code page lacks as "?".
#pragma once

#include <cstddef>

/// Writes wide text to standard output: to a console as it is, to a pipe or
/// file in the ANSI code page (characters it lacks become "?", never a
/// look-alike). Buffered standard output goes first, so order is kept.
void WriteWideText(const wchar_t* text);

/// Writes UTF-8 text to standard output, as WriteWideText does.
void WriteUtf8Text(const char* text, size_t length);

/// Writes UTF-8 text to standard error, as WriteWideText does to standard
/// output, and flushes it.
void WriteUtf8Error(const char* text, size_t length);

/// printf-style, wide format and arguments, written as WriteWideText does.
void PrintWide(const wchar_t* format, ...);

/// Pushes buffered standard output to its pipe, file or console now.
void FlushOutput();

/// True when a key press can be read from a console.
bool HasConsoleInput();

/// Waits for one key press, unbuffered and unechoed; returns at once when
/// there is no console to read one from.
void WaitForKeyPress();

/// Makes exhausted memory end the program in order: "Out of memory" on
/// standard output, after what was buffered, and status 1, rather than an
/// abort. Nothing in either program handles it on its own.
void EndOnOutOfMemory();
