#include <windows.h>

#include <cstdio>
#include <cstring>

#include "platform/console.h"
#include "platform/install_paths.h"
#include "platform/product_version.h"
#include "runner/banner.h"
#include "runner/line_end.h"

namespace {

constexpr char kTitle[] = "Ulvexia (Ulvex) - Command Line Interface";
constexpr char kNotice[] = "Copyright (C) Quennet. All rights reserved.";

// The stream writer: the same fwrite on stdout that the usage text uses,
// so its output keeps order with printf.
void WriteText(const char* text) { fwrite(text, 1, strlen(text), stdout); }

}  // namespace

void PrintBanner() {
  WriteText(LineEnd);
  WriteText(kTitle);
  WriteText(LineEnd);
  WriteText(kNotice);
  WriteText(LineEnd);

  const ProductVersion version = ReadProductVersion(GetProductExePath());
  const int error = static_cast<int>(version.error);
  switch (version.failure) {
    case VersionFailure::None:
      printf("Version: %d.%d.%d%s%s", static_cast<int>(version.major),
             static_cast<int>(version.minor), static_cast<int>(version.build),
             LineEnd, LineEnd);
      break;
    case VersionFailure::SizeQuery:
      PrintWide(
          L"The last error associated with gettting version info size is: "
          L"%d\n",
          error);
      break;
    case VersionFailure::InfoRead:
      PrintWide(L"The last error associated with getting version info is: %d\n",
                error);
      break;
    case VersionFailure::ValueQuery:
      printf("Error in VerQueryValue: %d\n", error);
      break;
  }
}
