#include "platform/install_paths.h"

namespace {

// Both separators count: the platform reports "\", but a path handed over
// by a script or another tool may use "/".
constexpr char kSeparators[] = "\\/";

}  // namespace

std::string GetFolderPart(const std::string& path) {
  const size_t cut = path.find_last_of(kSeparators);
  return cut == std::string::npos ? std::string() : path.substr(0, cut);
}

std::string CutInstallFolder(const std::string& modulePath) {
  const size_t cut = modulePath.find_last_of(kSeparators);
  return cut == std::string::npos ? modulePath : modulePath.substr(0, cut);
}
