// The echo of a validated command line: what the program understood.
#pragma once

#include <cstdint>
#include <string>

#include "option/parsed_option.h"

/// The echo block: the header line, one "Argument #n is ..." line per
/// stored record and one "Non-option argument #n is ..." line per leftover
/// element, each ending with lineEnd.
std::string FormatEcho(const option::ParsedOption* records, int32_t storedCount,
                       int32_t restCount, const char* const* restElements,
                       const char* lineEnd);

/// Prints FormatEcho with the run's LineEnd.
void EchoOptions(const option::ParsedOption* records, int32_t storedCount,
                 int32_t restCount, const char* const* restElements);
