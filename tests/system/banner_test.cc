#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "tests/support/install_folder.h"
#include "tests/support/run_program.h"

namespace {

using ulvex_test::BinFolder;
using ulvex_test::InstallFolder;
using ulvex_test::Lines;
using ulvex_test::Narrow;
using ulvex_test::RunProgram;

// Path segments under a folder of baseLength characters that make the
// whole path length characters long (at least start).
std::wstring Subfolder(size_t baseLength, size_t length,
                       const std::wstring& start) {
  std::wstring sub = start;
  while (baseLength + 1 + sub.size() + 201 < length)
    sub += L"\\" + std::wstring(150, L'd');
  const size_t current = baseLength + 1 + sub.size();
  if (current + 1 < length)
    sub += L"\\" + std::wstring(length - current - 1, L'e');
  return sub;
}

// Tells the loader to take a version.dll from the program's own folder
// before the system's, as Windows' default search order would, for the
// program of that file name while it lives. NOTE: Wine's own DLLs win
// otherwise, and WINEDLLOVERRIDES (version=n,b) set in a child's Windows
// environment does not reach its loader; this is its per-program form.
class PreferDllBesideProgram {
 public:
  explicit PreferDllBesideProgram(const std::wstring& program) {
    if (program.empty()) return;
    key_ = L"Software\\Wine\\AppDefaults\\" + program;
    const wchar_t kNativeFirst[] = L"native,builtin";
    RegSetKeyValueW(HKEY_CURRENT_USER, (key_ + L"\\DllOverrides").c_str(),
                    L"version", REG_SZ, kNativeFirst, sizeof kNativeFirst);
  }
  ~PreferDllBesideProgram() {
    if (!key_.empty()) RegDeleteTreeW(HKEY_CURRENT_USER, key_.c_str());
  }

 private:
  std::wstring key_;
};

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
    const wchar_t* folderName = L"p";
    // A version.dll beside the program, which the loader is told to prefer
    // to the system's own (Windows' search order without a remedy).
    bool plantedDll = false;
  };
  // Letters that no ANSI code page holds together, and spaces.
  const wchar_t* const kAnyScript =
      L"\u0395\u03bb\u03bb\u03ac\u03b4\u03b1 Pr\u00fcfung \u6d4b\u8bd5";
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
      {"folder named in any script", L"UlvexCmdLine.exe", 0, true, false, 0,
       kAnyScript},
      {"product path of 255 in any script", L"UlvexCmdLine.exe", 255, true,
       false, 0, kAnyScript},
      {"planted version.dll is not loaded", L"UlvexCmdLine.exe", 0, true, false,
       0, L"p", true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    InstallFolder install(L"banner");
    const std::wstring sub =
        Subfolder(install.path().size(),
                  row.productPathLength == 0 ? 0 : row.productPathLength - 13,
                  row.folderName);
    const std::wstring folder = install.path() + L"\\" + sub;
    if (row.productPathLength != 0)
      ASSERT_EQ(row.productPathLength, (folder + L"\\Ulvex_32.exe").size());
    ASSERT_TRUE(install.WriteFile(sub + L"\\placeholder", ""));
    ASSERT_TRUE(CopyFileW((BinFolder() + L"\\UlvexCmdLine.exe").c_str(),
                          (folder + L"\\" + row.program).c_str(), FALSE));
    if (row.withProduct)
      ASSERT_TRUE(CopyFileW((BinFolder() + L"\\VersionFixture.exe").c_str(),
                            (folder + L"\\Ulvex_32.exe").c_str(), FALSE));

    PreferDllBesideProgram prefer(row.plantedDll ? row.program : L"");
    if (row.plantedDll)
      ASSERT_TRUE(CopyFileW((BinFolder() + L"\\planted\\version.dll").c_str(),
                            (folder + L"\\version.dll").c_str(), FALSE));

    const auto run = RunProgram(L"\"" + folder + L"\\" + row.program +
                                L"\" /auto" + (row.html ? L" /html" : L""));
    ASSERT_TRUE(run.started);
    EXPECT_EQ(ulvex_test::FileAttributes(folder + L"\\planted-dll-loaded"),
              INVALID_FILE_ATTRIBUTES);
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

// The two programs of the release and the description each carries.
struct ShippedProgram {
  const wchar_t* name;
  const wchar_t* description;
};
const ShippedProgram kShippedPrograms[] = {
    {L"UlvexCmdLine", L"Ulvex command line interface"},
    {L"UlvexCheck", L"Ulvex installation check"},
};

// Each program's own resources, read back from the built program: its
// version information carries the project's version and its names.
void ExpectVersionInformation(const ShippedProgram& shipped) {
  const std::wstring program = BinFolder() + L"\\" + shipped.name + L".exe";
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(program.c_str(), &ignored);
  ASSERT_NE(0u, size) << GetLastError();
  std::vector<char> info(size);
  ASSERT_TRUE(GetFileVersionInfoW(program.c_str(), 0, size, info.data()));

  // The CMake project's version, in the four parts of a file version.
  const WORD version[] = {ULVEX_FILE_VERSION};
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(info.data(), L"\\",
                             reinterpret_cast<void**>(&fixed), &length));
  const DWORD high = MAKELONG(version[1], version[0]);
  const DWORD low = MAKELONG(version[3], version[2]);
  struct FixedRow {
    const char* label;
    DWORD actual;
    DWORD expected;
  };
  const FixedRow fixedRows[] = {
      {"file version, high", fixed->dwFileVersionMS, high},
      {"file version, low", fixed->dwFileVersionLS, low},
      {"product version, high", fixed->dwProductVersionMS, high},
      {"product version, low", fixed->dwProductVersionLS, low},
      {"operating system", fixed->dwFileOS, VOS_NT_WINDOWS32},
      {"file type", fixed->dwFileType, VFT_APP},
  };
  for (const FixedRow& row : fixedRows) {
    SCOPED_TRACE(row.label);
    EXPECT_EQ(row.expected, row.actual);
  }

  const std::wstring dotted =
      std::to_wstring(version[0]) + L"." + std::to_wstring(version[1]) + L"." +
      std::to_wstring(version[2]) + L"." + std::to_wstring(version[3]);
  struct StringRow {
    const wchar_t* name;
    std::wstring value;
  };
  const StringRow stringRows[] = {
      {L"CompanyName", L"Quennet"},
      {L"FileDescription", shipped.description},
      {L"FileVersion", dotted},
      {L"InternalName", shipped.name},
      {L"LegalCopyright", L"Copyright (C) Quennet. All rights reserved."},
      {L"OriginalFilename", std::wstring(shipped.name) + L".exe"},
      {L"ProductName", L"Ulvex"},
      {L"ProductVersion", dotted},
  };
  for (const StringRow& row : stringRows) {
    SCOPED_TRACE(Narrow(row.name));
    const std::wstring path =
        std::wstring(L"\\StringFileInfo\\040904B0\\") + row.name;
    wchar_t* value = nullptr;
    ASSERT_TRUE(VerQueryValueW(info.data(), path.c_str(),
                               reinterpret_cast<void**>(&value), &length));
    EXPECT_EQ(Narrow(row.value), Narrow(value));
  }
}

TEST(ProgramResourcesTest, VersionInformation) {
  for (const ShippedProgram& shipped : kShippedPrograms) {
    SCOPED_TRACE(Narrow(shipped.name));
    ExpectVersionInformation(shipped);
  }
}

// NOTE: resource enumeration callbacks are stdcall, which a lambda does not
// convert to with GCC.
BOOL CALLBACK CountLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD, LONG_PTR count) {
  ++*reinterpret_cast<int*>(count);
  return TRUE;
}

// Its application manifest, resource 1: runs the program as the caller
// (which also keeps Windows from virtualizing its file and registry writes)
// on every Windows from 7 to 11, and leaves the narrow texts in the ANSI
// code page.
void ExpectManifest(const ShippedProgram& shipped) {
  using UniqueModule =
      std::unique_ptr<std::remove_pointer_t<HMODULE>, decltype(&FreeLibrary)>;
  const UniqueModule program(
      LoadLibraryExW((BinFolder() + L"\\" + shipped.name + L".exe").c_str(),
                     nullptr, LOAD_LIBRARY_AS_DATAFILE),
      &FreeLibrary);
  ASSERT_NE(nullptr, program.get()) << GetLastError();

  // A toolchain's default manifest, or the linker's own, would be a second.
  int languages = 0;
  EnumResourceLanguagesW(program.get(), RT_MANIFEST, MAKEINTRESOURCEW(1),
                         CountLanguage, reinterpret_cast<LONG_PTR>(&languages));
  EXPECT_EQ(1, languages);
  const HRSRC found =
      FindResourceW(program.get(), MAKEINTRESOURCEW(1), RT_MANIFEST);
  ASSERT_NE(nullptr, found);
  const HGLOBAL loaded = LoadResource(program.get(), found);
  ASSERT_NE(nullptr, loaded);
  const std::string manifest(static_cast<const char*>(LockResource(loaded)),
                             SizeofResource(program.get(), found));

  struct Row {
    const char* label;
    const char* text;
    bool present;
  };
  const Row rows[] = {
      {"runs as the caller", "level=\"asInvoker\"", true},
      {"no access to other programs' windows", "uiAccess=\"false\"", true},
      {"Windows 7", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", true},
      {"Windows 8", "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", true},
      {"Windows 8.1", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}", true},
      {"Windows 10 and 11", "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}", true},
      {"code page left to the system", "activeCodePage", false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    EXPECT_EQ(row.present, manifest.find(row.text) != std::string::npos)
        << manifest;
  }
}

TEST(ProgramResourcesTest, Manifest) {
  for (const ShippedProgram& shipped : kShippedPrograms) {
    SCOPED_TRACE(Narrow(shipped.name));
    ExpectManifest(shipped);
  }
}

}  // namespace
