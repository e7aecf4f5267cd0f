#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/console.h"
#include "platform/install_paths.h"
#include "platform/system_library.h"
#include "runner/banner.h"
#include "runner/line_end.h"

namespace {

constexpr char kTitle[] = "Ulvexia (Ulvex) - Command Line Interface";
constexpr char kNotice[] = "Copyright (C) Quennet. All rights reserved.";

// The product executable's path as wide text, terminating NUL included.
constexpr int kVersionPathCapacity = 256;

// The stream writer: the same fwrite on stdout that the usage text uses,
// so its output keeps order with printf.
void WriteText(const char* text) { fwrite(text, 1, strlen(text), stdout); }

void PrintSizeQueryError(DWORD code) {
  PrintWide(
      L"The last error associated with gettting version info size is: %d\n",
      static_cast<int>(code));
}

// The product executable's path in path; false (the error line printed)
// when it does not fit, as the file calls report a path beyond their
// limit: the file name is too long.
bool GetVersionFilePath(wchar_t (&path)[kVersionPathCapacity]) {
  const std::wstring productPath = GetProductExePath();
  if (productPath.size() < kVersionPathCapacity) {
    productPath.copy(path, productPath.size());
    path[productPath.size()] = L'\0';
    return true;
  }
  PrintSizeQueryError(ERROR_FILENAME_EXCED_RANGE);
  return false;
}

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

}  // namespace

void PrintBanner() {
  WriteText(LineEnd);
  WriteText(kTitle);
  WriteText(LineEnd);
  WriteText(kNotice);
  WriteText(LineEnd);

  wchar_t path[kVersionPathCapacity];
  if (!GetVersionFilePath(path)) return;

  VersionFunctions version;
  if (!LoadVersionFunctions(version)) {
    PrintSizeQueryError(GetLastError());
    return;
  }
  DWORD unusedHandle = 0;
  const DWORD size = version.getSize(path, &unusedHandle);
  if (size == 0) {
    PrintSizeQueryError(GetLastError());
    return;
  }
  std::vector<BYTE> block(size);
  if (!version.getInfo(path, 0, size, block.data())) {
    PrintWide(L"The last error associated with getting version info is: %d\n",
              static_cast<int>(GetLastError()));
    return;
  }

  void* root = nullptr;
  UINT rootLength = 0;
  if (!version.queryValue(block.data(), L"\\", &root, &rootLength)) {
    printf("Error in VerQueryValue: %d\n", static_cast<int>(GetLastError()));
    return;
  }
  // NOTE: a resource without fixed file information can still answer the
  // root query, with a shorter value; never read past what it gave.
  if (root == nullptr || rootLength < sizeof(VS_FIXEDFILEINFO)) {
    printf("Error in VerQueryValue: %d\n",
           static_cast<int>(ERROR_INVALID_DATA));
    return;
  }
  const auto* info = static_cast<const VS_FIXEDFILEINFO*>(root);
  printf("Version: %d.%d.%d%s%s", HIWORD(info->dwFileVersionMS),
         LOWORD(info->dwFileVersionMS), HIWORD(info->dwFileVersionLS), LineEnd,
         LineEnd);
}
