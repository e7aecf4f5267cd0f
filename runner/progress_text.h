// The progress protocol's decisions, apart from the registry and console.
#pragma once

#include <ctime>
#include <string>

/// The add-in's success text; the only final text that gives status 0.
extern const wchar_t kSuccessText[];

/// The text of the line printed when the host ends before the add-in has
/// written a text beginning with "QUIT" (which it never begins with).
extern const wchar_t kHostEndedText[];

/// True when the first four characters are exactly "QUIT".
bool IsQuitText(const std::wstring& text);

/// True when text is exactly the success text.
bool IsSuccessText(const std::wstring& text);

/// What one monitor cycle prints for the text it read.
enum class ProgressOutput {
  LineEndOnly,  ///< "DONE" after another text: a bare line end
  NewLine,      ///< a new text: line end, time stamp, ":" and the text
  Dot,          ///< unchanged, or changed to the empty text
};
ProgressOutput DecideProgressOutput(const std::wstring& current,
                                    const std::wstring& previous);

/// "\n%I:%M:%S" of the given local time.
std::string FormatTimeStamp(const std::tm& localTime);
