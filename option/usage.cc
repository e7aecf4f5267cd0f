// STUB: replaced by the real implementation.
#include "option/usage.h"
namespace option {
void writeUsage(PrintUsageImplementation::IStringWriter&, const OptionSpec*, int32_t) {}
void writeUsage(PrintUsageImplementation::IStringWriter& w, int32_t c) { writeUsage(w, OptionTable, c); }
bool isDoubleWidth(uint32_t) { return false; }
}
