// A registry string value's raw data as text, apart from the registry, so
// that any byte sequence can be tried on it (the sanitizer build does).
#pragma once

#include <cstddef>
#include <string>

/// The UTF-16LE text in data, up to its first NUL code unit or the data's
/// end, whichever comes first: the registry does not promise a stored NUL.
/// False, with text empty, for an odd byteCount: half a character is no
/// text a writer of strings stores. Reads at most byteCount bytes; data may
/// be null when byteCount is 0.
bool RegistryTextFromData(const unsigned char* data, size_t byteCount,
                          std::wstring& text);
