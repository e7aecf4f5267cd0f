// STUB: replaced by the real implementation.
#include "host/office_options.h"
bool SetOfficeOptions() { return true; }
