#include <windows.h>

#include <string>
#include <vector>

#include "platform/product_version.h"
#include "platform/system_library.h"

namespace {

// The version resource calls, taken from the system folder's version.dll at
// run time: through the import table the loader would look for that DLL in
// the program's own folder first.
struct VersionFunctions {
  decltype(&GetFileVersionInfoSizeW) getSize = nullptr;
  decltype(&GetFileVersionInfoW) getInfo = nullptr;
  decltype(&VerQueryValueW) queryValue = nullptr;
};

// False, with the platform's last error set, when they cannot be had.
bool LoadVersionFunctions(VersionFunctions& functions) {
  const HMODULE module = LoadSystemLibrary(L"version.dll");
  return module != nullptr &&
         ResolveFunction(module, "GetFileVersionInfoSizeW",
                         functions.getSize) &&
         ResolveFunction(module, "GetFileVersionInfoW", functions.getInfo) &&
         ResolveFunction(module, "VerQueryValueW", functions.queryValue);
}

ProductVersion Failed(VersionFailure failure, DWORD error) {
  ProductVersion version;
  version.failure = failure;
  version.error = error;
  return version;
}

}  // namespace

ProductVersion ReadProductVersion(const std::wstring& path) {
  if (path.size() > kMaxVersionPathChars)
    return Failed(VersionFailure::SizeQuery, ERROR_FILENAME_EXCED_RANGE);
  VersionFunctions functions;
  if (!LoadVersionFunctions(functions))
    return Failed(VersionFailure::SizeQuery, GetLastError());
  DWORD unusedHandle = 0;
  const DWORD size = functions.getSize(path.c_str(), &unusedHandle);
  if (size == 0) return Failed(VersionFailure::SizeQuery, GetLastError());
  std::vector<BYTE> block(size);
  if (!functions.getInfo(path.c_str(), 0, size, block.data()))
    return Failed(VersionFailure::InfoRead, GetLastError());

  void* root = nullptr;
  UINT rootLength = 0;
  if (!functions.queryValue(block.data(), L"\\", &root, &rootLength))
    return Failed(VersionFailure::ValueQuery, GetLastError());
  // NOTE: a resource without fixed file information can still answer the
  // root query, with a shorter value; never read past what it gave.
  if (root == nullptr || rootLength < sizeof(VS_FIXEDFILEINFO))
    return Failed(VersionFailure::ValueQuery, ERROR_INVALID_DATA);
  const auto* info = static_cast<const VS_FIXEDFILEINFO*>(root);
  ProductVersion version;
  version.major = HIWORD(info->dwFileVersionMS);
  version.minor = LOWORD(info->dwFileVersionMS);
  version.build = HIWORD(info->dwFileVersionLS);
  return version;
}
