// STUB: replaced by the real implementation.
#include "runner/monitor.h"
bool MonitorProgress(std::wstring&) { return false; }
