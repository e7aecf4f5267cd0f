#include "platform/product_version.h"

#include <string>

std::string VersionNumberText(const ProductVersion& version) {
  return std::to_string(version.major) + "." + std::to_string(version.minor) +
         "." + std::to_string(version.build);
}
