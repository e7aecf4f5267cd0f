// Turning the raw data of the "Progress" value into text, apart from the
// registry so that any byte sequence can be tried on it.
#pragma once

#include <cstddef>
#include <string>

/// The UTF-16LE text in data, up to its first NUL code unit or the end of
/// the data, whichever comes first. A trailing odd byte (half a code unit)
/// is ignored. Reads exactly byteCount bytes at most; data may be null when
/// byteCount is 0.
std::wstring ProgressTextFromData(const unsigned char* data, size_t byteCount);
