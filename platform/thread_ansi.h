// Narrow fixed texts of the program (the hand-off key path) to the wide
// text the registry calls take. Paths and environment values never pass
// through here: they are wide from the call that produced them.
#pragma once

#include <string>

/// Converts text with the thread's ANSI code page. False when the platform
/// cannot convert it (wide is then empty).
bool ThreadAnsiToWide(const std::string& text, std::wstring& wide);
