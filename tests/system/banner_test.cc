#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "tests/support/install_folder.h"
#include "tests/support/run_program.h"

namespace {

using ulvex_test::Lines;
using ulvex_test::BinFolder;
using ulvex_test::InstallFolder;
using ulvex_test::Narrow;
using ulvex_test::RunProgram;


// Path segments under a folder of baseLength characters that make the
// whole path length characters long (at least "p").
std::wstring Subfolder(size_t baseLength, size_t length) {
  std::wstring sub = L"p";
  while (baseLength + 1 + sub.size() + 201 < length)
    sub += L"\\" + std::wstring(150, L'd');
  const size_t current = baseLength + 1 + sub.size();
  if (current + 1 < length)
    sub += L"\\" + std::wstring(length - current - 1, L'e');
  return sub;
}

// What a run with switches but no task identifier prints: the banner, with
// the version line or the size query's error line, then the hint lines.
std::string Expected(const std::string& end, int sizeError) {
  const std::string version =
      sizeError == 0
          ? "Version: 2.3.7" + end + end
          : "The last error associated with gettting version info size is: " +
                std::to_string(sizeError) + "\n";
  return end + "Ulvexia (Ulvex) - Command Line Interface" + end +
         "Copyright (C) Quennet. All rights reserved." + end + version + end +
         "Ulvex TaskID was not specified" + end + end +
         "Use /h parameter to display Ulvex command line help." + end;
}

TEST(BannerTest, ShowsTheProductFileVersion) {
  struct Row {
    const char* label;
    std::wstring program;      // file name of the copy of the program
    size_t productPathLength;  // 0: no padding of the folder
    bool withProduct;          // Ulvex_32.exe beside the program
    bool html;
    int sizeError;  // 0: the version line is shown
  };
  const Row rows[] = {
      {"plain", L"UlvexCmdLine.exe", 0, true, false, 0},
      {"html", L"UlvexCmdLine.exe", 0, true, true, 0},
      {"no product, plain", L"UlvexCmdLine.exe", 0, false, false,
       ERROR_FILE_NOT_FOUND},
      {"no product, html", L"UlvexCmdLine.exe", 0, false, true,
       ERROR_FILE_NOT_FOUND},
      // Module path of 259 characters and product path of 255: both fill
      // their buffers (260 and 256) with the NUL.
      {"product path of 255", L"UlvexCmdLine.exe", 255, true, false, 0},
      // A renamed program: the module path fits, the product path does not.
      {"product path of 256", L"U.exe", 256, true, false,
       ERROR_FILENAME_EXCED_RANGE},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    InstallFolder install(L"banner");
    const std::wstring sub =
        Subfolder(install.path().size(),
                  row.productPathLength == 0 ? 0 : row.productPathLength - 13);
    const std::wstring folder = install.path() + L"\\" + sub;
    if (row.productPathLength != 0)
      ASSERT_EQ(row.productPathLength, (folder + L"\\Ulvex_32.exe").size());
    ASSERT_TRUE(install.WriteFile(sub + L"\\placeholder", ""));
    ASSERT_TRUE(CopyFileW((BinFolder() + L"\\UlvexCmdLine.exe").c_str(),
                          (folder + L"\\" + row.program).c_str(), FALSE));
    if (row.withProduct)
      ASSERT_TRUE(CopyFileW((BinFolder() + L"\\VersionFixture.exe").c_str(),
                            (folder + L"\\Ulvex_32.exe").c_str(), FALSE));

    const auto run = RunProgram(L"\"" + folder + L"\\" + row.program +
                                L"\" /auto" + (row.html ? L" /html" : L""));
    ASSERT_TRUE(run.started);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(Expected(row.html ? "<br>" : "\n", row.sizeError),
              Lines(run.out));
    EXPECT_EQ("", run.err);
    EXPECT_EQ(1u, run.exitCode);
  }
}

TEST(BannerTest, ParseErrorPrintsNoBanner) {
  InstallFolder install(L"noban");
  ASSERT_TRUE(install.AddProgram());
  ASSERT_TRUE(install.AddProductExe());
  const auto run = RunProgram(install.QuotedProgram() + L" /x");
  ASSERT_TRUE(run.started);
  EXPECT_EQ(std::string::npos, run.out.find("Ulvexia"));
  EXPECT_EQ(std::string::npos, run.out.find("Version"));
  EXPECT_EQ(1u, run.exitCode);
}

}  // namespace
