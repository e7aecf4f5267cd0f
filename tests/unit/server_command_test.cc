#include "host/server_command.h"

#include <gtest/gtest.h>

#include <string>

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

}  // namespace
