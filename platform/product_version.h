// The file version of the product executable beside the program, as the
// banner shows it ("Version: 2.3.7") and the installation check reports it.
#pragma once

#include <cstdint>
#include <string>

/// The step of the version read that failed.
enum class VersionFailure {
  None,        ///< the version was read
  SizeQuery,   ///< the path is too long, version.dll cannot be had, or the
               ///< size of the version information cannot be read
  InfoRead,    ///< the version information cannot be read
  ValueQuery,  ///< the fixed file information cannot be found in it
};

struct ProductVersion {
  VersionFailure failure = VersionFailure::None;
  uint32_t error = 0;  ///< the platform's error code of the failed step
  unsigned major = 0;
  unsigned minor = 0;
  unsigned build = 0;
};

/// The longest product path read, in characters, its NUL excluded.
constexpr size_t kMaxVersionPathChars = 255;

/// Reads the fixed file version of the file at path (Windows only), through
/// the system folder's version.dll. A path longer than kMaxVersionPathChars
/// fails as the file calls fail beyond their limit (a file name too long).
ProductVersion ReadProductVersion(const std::wstring& path);

/// "major.minor.build", as the banner shows a version.
std::string VersionNumberText(const ProductVersion& version);
