// The host's version text and the decisions taken on it, apart from the
// registry.
#pragma once

#include <cstddef>
#include <string>

/// Wide characters of the buffer that receives the "CurVer" value.
constexpr size_t kCurVerBufferChars = 256;
/// Bytes the registry may write into it: the value with its terminator
/// must fit (at most 126 characters); a longer value is a failed read.
constexpr size_t kCurVerReadBytes = 255;

/// The text of a string value the registry returned in byteCount bytes of
/// data: up to its first NUL, or all whole characters read when it was
/// stored without one (an odd last byte is no character).
std::wstring StringValueText(const wchar_t* data, size_t byteCount);

/// The characters after the last "." of a current-version entry
/// ("Excel.Application.16" gives "16"); the whole entry when it has no dot.
std::wstring VersionAfterLastDot(const std::wstring& curVer);

/// The launch sets the host's file validation mode above version 12.
bool SetsFileValidation(int versionNumber);

/// The Office options are written for version 12 and up.
bool SetsOfficeOptions(int versionNumber);
