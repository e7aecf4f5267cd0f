// A registry string value's raw data as text, apart from the registry, so
// that any byte sequence can be tried on it (the sanitizer build does).
#pragma once

#include <cstddef>
#include <string>

/// The UTF-16LE text in data, up to its first NUL code unit or the data's
/// end, whichever comes first: the registry does not promise a stored NUL.
/// A trailing odd byte is ignored, as COM ignores it when it reads a
/// class's values (a LocalServer32 with a stray byte still starts its
/// server). Reads at most byteCount bytes; data may be null when byteCount
/// is 0 (false, with text empty, when it is null for more).
bool RegistryTextFromData(const unsigned char* data, size_t byteCount,
                          std::wstring& text);
