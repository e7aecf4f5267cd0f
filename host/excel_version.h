#pragma once

#include <string>

/// The installed host's major version from HKCR "Excel.Application\CurVer"
/// (the text after its last "."), or "" when it cannot be read.
std::wstring GetExcelVersion();
