// Status codes of the automation layer in words, and the host's own
// explanation as one line, apart from COM so that they can be tried on
// their own.
#pragma once

#include <cstdint>
#include <string>

/// What status means for this run and the usual remedy, as one line
/// without its line end: the system's short meaning and the code's name,
/// then the advice. Empty for a code the table does not hold (the caller
/// then shows the system's own text for it).
std::string CodeInWords(uint32_t status);

/// text as one line: every run of blanks and control characters (line
/// ends, tabs) becomes one space, and none is left at either end.
std::wstring OneLine(const std::wstring& text);

/// The line (without its line end) that shows the explanation a host gave
/// with a failed call: "Excel said (<source>): <description>"; the
/// parenthesis is left out without a source, and "(no description)"
/// stands for a missing description. Empty when the host gave neither.
std::wstring HostSaidLine(const std::wstring& source,
                          const std::wstring& description);
