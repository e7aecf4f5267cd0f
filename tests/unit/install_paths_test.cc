#include "platform/install_paths.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(InstallPathsTest, CutsAtTheLastSeparator) {
  struct Row {
    const wchar_t* path;
    const wchar_t* folderPart;     // GetFolderPart
    const wchar_t* installFolder;  // CutInstallFolder
  };
  const Row rows[] = {
      {L"C:\\Tools\\UlvexCmdLine.exe", L"C:\\Tools", L"C:\\Tools"},
      {L"/opt/ulvex/UlvexCmdLine.exe", L"/opt/ulvex", L"/opt/ulvex"},
      {L"C:\\Tools/bin\\UlvexCmdLine.exe", L"C:\\Tools/bin", L"C:\\Tools/bin"},
      {L"C:\\Tools\\bin/UlvexCmdLine.exe", L"C:\\Tools\\bin",
       L"C:\\Tools\\bin"},
      {L"C:\\Temp\\vbe\\*.exd", L"C:\\Temp\\vbe", L"C:\\Temp\\vbe"},
      {L"C:\\Tools\\", L"C:\\Tools", L"C:\\Tools"},
      {L"\\UlvexCmdLine.exe", L"", L""},
      // Letters of any script are cut like any other.
      {L"C:\\\u0395\u03bb\u03bb\u03ac\u03b4\u03b1 "
       L"\u6d4b\u8bd5\\UlvexCmdLine.exe",
       L"C:\\\u0395\u03bb\u03bb\u03ac\u03b4\u03b1 \u6d4b\u8bd5",
       L"C:\\\u0395\u03bb\u03bb\u03ac\u03b4\u03b1 \u6d4b\u8bd5"},
      // Without a separator only the install folder keeps the text.
      {L"UlvexCmdLine.exe", L"", L"UlvexCmdLine.exe"},
      {L"*.exd", L"", L"*.exd"},
      {L"", L"", L""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << std::wstring(row.path));
    EXPECT_EQ(row.folderPart, GetFolderPart(row.path));
    EXPECT_EQ(row.installFolder, CutInstallFolder(row.path));
  }
}

}  // namespace
