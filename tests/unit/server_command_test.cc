#include "ownership/server_command.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "ownership/registry_text.h"

namespace {

TEST(ServerCommandTest, TheProgramIsTheQuotedPathOrThePathUpToItsExe) {
  const struct {
    const wchar_t* commandLine;
    const wchar_t* image;
  } cases[] = {
      {L"\"C:\\Program Files\\X\\EXCEL.EXE\" /automation -Embedding",
       L"C:\\Program Files\\X\\EXCEL.EXE"},
      {L"\"C:\\Program Files\\X\\EXCEL.EXE\"",
       L"C:\\Program Files\\X\\EXCEL.EXE"},
      {L"  \"C:\\X\\EXCEL.EXE \"  /automation", L"C:\\X\\EXCEL.EXE"},
      // Unquoted, with spaces in the path and arguments after it.
      {L"C:\\Program Files\\X\\EXCEL.EXE /automation",
       L"C:\\Program Files\\X\\EXCEL.EXE"},
      {L"C:\\PROGRA~1\\X\\EXCEL.EXE\t/automation",
       L"C:\\PROGRA~1\\X\\EXCEL.EXE"},
      {L"C:\\Program Files\\X\\excel.Exe", L"C:\\Program Files\\X\\excel.Exe"},
      // ".exe" that does not end a word is part of a folder's name.
      {L"C:\\a.exe.d\\b.exe\\EXCEL.EXE -x", L"C:\\a.exe.d\\b.exe\\EXCEL.EXE"},
      // Without ".exe": up to the first blank.
      {L"C:\\X\\host.com /automation", L"C:\\X\\host.com"},
      {L"%ProgramFiles%\\X\\EXCEL.EXE", L"%ProgramFiles%\\X\\EXCEL.EXE"},
      {L"", L""},
      {L"   ", L""},
      {L"\"C:\\X\\EXCEL.EXE /automation", L""},  // never closed
      {L"\"\" C:\\X\\EXCEL.EXE", L""},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(testing::Message()
                 << "command line " << std::wstring(row.commandLine));
    EXPECT_EQ(ServerImagePath(row.commandLine), row.image);
  }
}

// The system's launcher of a view's kind expands the program folders to
// that view's; a name whose new form is not defined stays as it is.
TEST(ServerCommandTest, ProgramFoldersAreNamedAsTheViewsLauncherNamesThem) {
  auto defined = [](const std::wstring& name) {
    return name != L"CommonProgramFiles(x86)";
  };
  const struct {
    const wchar_t* text;
    bool view64;
    const wchar_t* renamed;
  } cases[] = {
      {L"\"%ProgramFiles%\\X\\EXCEL.EXE\" /automation", true,
       L"\"%ProgramW6432%\\X\\EXCEL.EXE\" /automation"},
      {L"%programfiles%\\X\\EXCEL.EXE", false,
       L"%ProgramFiles(x86)%\\X\\EXCEL.EXE"},
      {L"%CommonProgramFiles%\\X.exe %ProgramFiles%", true,
       L"%CommonProgramW6432%\\X.exe %ProgramW6432%"},
      {L"%CommonProgramFiles%\\X.exe", false, L"%CommonProgramFiles%\\X.exe"},
      {L"%SystemRoot%\\X.exe %ProgramFilesX% 100%", true,
       L"%SystemRoot%\\X.exe %ProgramFilesX% 100%"},
      {L"C:\\X\\%ProgramFiles", true, L"C:\\X\\%ProgramFiles"},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(testing::Message() << "text " << std::wstring(row.text));
    EXPECT_EQ(ViewFolderVariables(row.text, row.view64, defined), row.renamed);
  }
}

TEST(ServerCommandTest, TheNativeSystemFolderIsReachedThroughItsAlias) {
  const std::wstring system = L"C:\\Windows\\System32";
  const std::wstring alias = L"C:\\Windows\\Sysnative";
  const struct {
    const wchar_t* path;
    const wchar_t* reached;
  } cases[] = {
      {L"C:\\WINDOWS\\system32\\x.exe", L"C:\\Windows\\Sysnative\\x.exe"},
      {L"c:/windows/system32/sub/x.exe", L"C:\\Windows\\Sysnative/sub/x.exe"},
      {L"C:\\Windows\\System32x\\x.exe", L"C:\\Windows\\System32x\\x.exe"},
      {L"C:\\Windows\\System32", L"C:\\Windows\\System32"},
      {L"D:\\Windows\\System32\\x.exe", L"D:\\Windows\\System32\\x.exe"},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(testing::Message() << "path " << std::wstring(row.path));
    EXPECT_EQ(PathThroughAlias(row.path, system + L"\\", alias), row.reached);
  }
  EXPECT_EQ(PathThroughAlias(L"C:\\x.exe", L"", alias), L"C:\\x.exe");
}

// Each value lies in a buffer of exactly its size, so that the sanitizer
// build sees a read past its end.
TEST(ServerCommandTest, RegistryTextStopsAtItsNulOrItsEnd) {
  const struct {
    const char* name;
    std::vector<unsigned char> data;
    bool read;
    std::wstring text;
  } cases[] = {
      {"terminated", {'A', 0, 'B', 0, 0, 0}, true, L"AB"},
      {"unterminated", {'A', 0, 'B', 0x01}, true, L"A\u0142"},
      {"text after its NUL", {'A', 0, 0, 0, 'B', 0}, true, L"A"},
      {"empty", {}, true, L""},
      // A stray byte after the last code unit is left unread, as COM does.
      {"odd, unterminated", {'A', 0, 'B', 0, 'C'}, true, L"AB"},
      {"odd, terminated", {'A', 0, 0, 0, 'C'}, true, L"A"},
      {"odd, one byte", {'A'}, true, L""},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(row.name);
    std::unique_ptr<unsigned char[]> exact(
        new unsigned char[row.data.size() + (row.data.empty() ? 1 : 0)]);
    std::copy(row.data.begin(), row.data.end(), exact.get());
    std::wstring text = L"stale";
    EXPECT_EQ(RegistryTextFromData(row.data.empty() ? nullptr : exact.get(),
                                   row.data.size(), text),
              row.read);
    EXPECT_EQ(text, row.text);
  }
}

}  // namespace
