#pragma once

#include <string>

/// The installed host's major version from HKCR "Excel.Application\CurVer"
/// (the text after its last "."), or "" when it cannot be read.
std::wstring GetExcelVersion();

/// Where GetExcelVersion reads it, for people.
extern const wchar_t kExcelVersionSource[];
