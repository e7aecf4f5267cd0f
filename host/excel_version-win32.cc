// STUB: replaced by the real implementation.
#include "host/excel_version.h"
std::wstring GetExcelVersion() { return {}; }
