// Follows the add-in's "Progress" value until it begins with "QUIT".
#pragma once

#include <string>

/// Prints each new progress text time-stamped (a dot otherwise) until the
/// text begins with "QUIT". Returns false after printing its failure
/// message; true with the final text in finalText.
bool MonitorProgress(std::wstring& finalText);
