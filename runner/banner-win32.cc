#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/install_paths.h"
#include "runner/banner.h"
#include "platform/console.h"
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

// Converts the product path into path; false (the error line printed) when
// it cannot.
bool GetVersionFilePath(wchar_t (&path)[kVersionPathCapacity]) {
  const std::string narrowPath = GetProductExePath();
  if (MultiByteToWideChar(CP_ACP, 0, narrowPath.c_str(), -1, path,
                          kVersionPathCapacity) != 0)
    return true;
  // A path too long for the buffer is reported as the file calls report a
  // path beyond their limit: the file name is too long.
  const DWORD error = GetLastError();
  PrintSizeQueryError(
      error == ERROR_INSUFFICIENT_BUFFER ? ERROR_FILENAME_EXCED_RANGE : error);
  return false;
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

  DWORD unusedHandle = 0;
  const DWORD size = GetFileVersionInfoSizeW(path, &unusedHandle);
  if (size == 0) {
    PrintSizeQueryError(GetLastError());
    return;
  }
  std::vector<BYTE> block(size);
  if (!GetFileVersionInfoW(path, 0, size, block.data())) {
    PrintWide(L"The last error associated with getting version info is: %d\n",
              static_cast<int>(GetLastError()));
    return;
  }

  void* root = nullptr;
  UINT rootLength = 0;
  if (!VerQueryValueW(block.data(), L"\\", &root, &rootLength)) {
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
