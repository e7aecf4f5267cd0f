// The call log: one UTF-8 line per call the host receives or step the
// scripted add-in takes, appended and flushed line by line so that a test
// can read it while the host runs.
#pragma once

#include <windows.h>
// Needs <windows.h> first.
#include <oleauto.h>

#include <string>

namespace standin {

/// Sets the log file (empty: no log). Call before any thread logs.
void SetLogPath(const std::wstring& path);

/// Appends one line (a line feed is added). Safe from any thread.
void LogLine(const std::string& line);

/// UTF-8 of wide text, with control characters written as \xNN so that
/// one entry stays one line.
std::string LogText(const wchar_t* text, size_t length);
std::string LogText(const std::wstring& text);

/// "VT_I4 1", "VT_BSTR C:\x", "VT_EMPTY", ...: a variant's type and value.
std::string DescribeVariant(const VARIANT& value);

/// "0x80020009"
std::string HexStatus(long status);

}  // namespace standin
