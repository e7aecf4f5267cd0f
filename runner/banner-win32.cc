// STUB: replaced by the real implementation.
#include "runner/banner.h"
void PrintBanner() {}
