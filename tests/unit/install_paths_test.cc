#include "platform/install_paths.h"

#include <gtest/gtest.h>

namespace {

TEST(InstallPathsTest, CutsAtTheLastSeparator) {
  struct Row {
    const char* path;
    const char* folderPart;     // GetFolderPart
    const char* installFolder;  // CutInstallFolder
  };
  const Row rows[] = {
      {"C:\\Tools\\UlvexCmdLine.exe", "C:\\Tools", "C:\\Tools"},
      {"/opt/ulvex/UlvexCmdLine.exe", "/opt/ulvex", "/opt/ulvex"},
      {"C:\\Tools/bin\\UlvexCmdLine.exe", "C:\\Tools/bin", "C:\\Tools/bin"},
      {"C:\\Tools\\bin/UlvexCmdLine.exe", "C:\\Tools\\bin", "C:\\Tools\\bin"},
      {"C:\\Temp\\vbe\\*.exd", "C:\\Temp\\vbe", "C:\\Temp\\vbe"},
      {"C:\\Tools\\", "C:\\Tools", "C:\\Tools"},
      {"\\UlvexCmdLine.exe", "", ""},
      // Without a separator only the install folder keeps the text.
      {"UlvexCmdLine.exe", "", "UlvexCmdLine.exe"},
      {"*.exd", "", "*.exd"},
      {"", "", ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.path);
    EXPECT_EQ(row.folderPart, GetFolderPart(row.path));
    EXPECT_EQ(row.installFolder, CutInstallFolder(row.path));
  }
}

}  // namespace
