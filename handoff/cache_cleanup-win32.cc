// STUB: replaced by the real implementation.
#include "handoff/cache_cleanup.h"
std::string GetEnvString(const char*) { return {}; }
void DeleteMatchingFiles(const std::string&) {}
void DeleteOfficeCaches() {}
void PrepareWorkingFile() {}
