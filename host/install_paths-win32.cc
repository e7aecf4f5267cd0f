// STUB: replaced by the real implementation.
#include "host/install_paths.h"
std::string GetInstallFolder() { return {}; }
std::string GetProductExePath() { return {}; }
std::string GetAddinWorkbookPath() { return {}; }
std::string GetWorkingFilePath() { return {}; }
