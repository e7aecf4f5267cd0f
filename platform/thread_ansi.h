// ANSI text (file paths, environment values) to the wide text that the
// wide file and COM calls take.
#pragma once

#include <string>

/// Converts text with the thread's ANSI code page. False when the platform
/// cannot convert it (wide is then empty).
bool ThreadAnsiToWide(const std::string& text, std::wstring& wide);
