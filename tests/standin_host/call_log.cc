#include "tests/standin_host/call_log.h"

#include <cstdio>

namespace standin {

namespace {

SRWLOCK logLock = SRWLOCK_INIT;
std::wstring logPath;

#define STANDIN_TYPE(type) \
  { type, #type }
const struct {
  VARTYPE type;
  const char* name;
} kTypeNames[] = {
    STANDIN_TYPE(VT_EMPTY),   STANDIN_TYPE(VT_NULL),
    STANDIN_TYPE(VT_I1),      STANDIN_TYPE(VT_I2),
    STANDIN_TYPE(VT_I4),      STANDIN_TYPE(VT_I8),
    STANDIN_TYPE(VT_UI1),     STANDIN_TYPE(VT_UI2),
    STANDIN_TYPE(VT_UI4),     STANDIN_TYPE(VT_UI8),
    STANDIN_TYPE(VT_INT),     STANDIN_TYPE(VT_UINT),
    STANDIN_TYPE(VT_R4),      STANDIN_TYPE(VT_R8),
    STANDIN_TYPE(VT_CY),      STANDIN_TYPE(VT_DATE),
    STANDIN_TYPE(VT_BSTR),    STANDIN_TYPE(VT_DISPATCH),
    STANDIN_TYPE(VT_UNKNOWN), STANDIN_TYPE(VT_ERROR),
    STANDIN_TYPE(VT_BOOL),    STANDIN_TYPE(VT_VARIANT),
    STANDIN_TYPE(VT_DECIMAL),
};
#undef STANDIN_TYPE

std::string TypeName(VARTYPE type) {
  for (const auto& entry : kTypeNames)
    if (entry.type == type) return entry.name;
  return "VT_" + std::to_string(type);
}

template <typename T>
T At(const void* data) {
  return *static_cast<const T*>(data);
}

// The value behind data, which points at a value of the base type; empty
// for types whose value is not shown.
std::string ValueText(VARTYPE type, const void* data) {
  char buffer[64] = "";
  switch (type) {
    case VT_I1:
      return std::to_string(At<signed char>(data));
    case VT_UI1:
      return std::to_string(At<unsigned char>(data));
    case VT_I2:
    case VT_BOOL:
      return std::to_string(At<SHORT>(data));
    case VT_UI2:
      return std::to_string(At<USHORT>(data));
    case VT_I4:
    case VT_INT:
      return std::to_string(At<LONG>(data));
    case VT_UI4:
    case VT_UINT:
      return std::to_string(At<ULONG>(data));
    case VT_I8:
      return std::to_string(At<LONGLONG>(data));
    case VT_UI8:
      return std::to_string(At<ULONGLONG>(data));
    case VT_R4:
      snprintf(buffer, sizeof buffer, "%g", At<float>(data));
      return buffer;
    case VT_R8:
    case VT_DATE:
      snprintf(buffer, sizeof buffer, "%g", At<double>(data));
      return buffer;
    case VT_ERROR:
      return HexStatus(At<SCODE>(data));
    case VT_BSTR: {
      const BSTR text = At<BSTR>(data);
      return text == nullptr ? std::string()
                             : LogText(text, SysStringLen(text));
    }
    case VT_DISPATCH:
    case VT_UNKNOWN:
      return At<IUnknown*>(data) == nullptr ? "(null)" : "(object)";
    default:
      return std::string();
  }
}

}  // namespace

void SetLogPath(const std::wstring& path) { logPath = path; }

void LogLine(const std::string& line) {
  if (logPath.empty()) return;
  const std::string entry = line + "\n";
  AcquireSRWLockExclusive(&logLock);
  // Opened per line: nothing stays buffered, and a test may remove or
  // replace the file between runs.
  HANDLE file =
      CreateFileW(logPath.c_str(), FILE_APPEND_DATA,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    WriteFile(file, entry.data(), static_cast<DWORD>(entry.size()), &written,
              nullptr);
    CloseHandle(file);
  }
  ReleaseSRWLockExclusive(&logLock);
}

std::string LogText(const wchar_t* text, size_t length) {
  std::string out;
  size_t start = 0;
  auto flush = [&](size_t end) {
    if (end == start) return;
    const int count = static_cast<int>(end - start);
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text + start, count,
                                          nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return;
    const size_t at = out.size();
    out.resize(at + static_cast<size_t>(bytes));
    WideCharToMultiByte(CP_UTF8, 0, text + start, count, &out[at], bytes,
                        nullptr, nullptr);
  };
  for (size_t i = 0; i < length; ++i) {
    if (text[i] >= 0x20 && text[i] != 0x7f) continue;
    flush(i);
    char escape[8];
    snprintf(escape, sizeof escape, "\\x%02X", static_cast<unsigned>(text[i]));
    out += escape;
    start = i + 1;
  }
  flush(length);
  return out;
}

std::string LogText(const std::wstring& text) {
  return LogText(text.data(), text.size());
}

std::string DescribeVariant(const VARIANT& value) {
  const VARTYPE base = value.vt & VT_TYPEMASK;
  std::string text;
  if (value.vt & VT_BYREF) text += "VT_BYREF|";
  if (value.vt & VT_ARRAY) text += "VT_ARRAY|";
  text += TypeName(base);
  if (value.vt & VT_ARRAY) return text;
  // Every member of the union starts at the same address: for a by-value
  // variant the value itself, for a by-reference one the pointer to it.
  const void* data = &value.lVal;
  if (value.vt & VT_BYREF) data = value.byref;
  if (data == nullptr) return text + " (null)";
  const std::string shown = ValueText(base, data);
  return shown.empty() && base != VT_BSTR ? text : text + " " + shown;
}

std::string HexStatus(long status) {
  char buffer[16];
  snprintf(buffer, sizeof buffer, "0x%08lx",
           static_cast<unsigned long>(status));
  return buffer;
}

}  // namespace standin
