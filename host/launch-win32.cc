// STUB: replaced by the real implementation.
#include "host/launch.h"
bool LaunchExcel(ExcelSession&) { return true; }
void ReleaseExcel(ExcelSession&) {}
