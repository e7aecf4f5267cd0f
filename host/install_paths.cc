// STUB: replaced by the real implementation.
#include "host/install_paths.h"
std::string GetFolderPart(const std::string&) { return {}; }
std::string CutInstallFolder(const std::string& p) { return p; }
