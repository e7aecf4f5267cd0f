#include "diagnosis/error_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Each code an unattended run meets: the system's short meaning and the
// code's name, then what it means for the run; one line.
TEST(ErrorTextTest, CodesInWords) {
  const struct {
    uint32_t status;
    const char* begins;
    const char* says;
  } rows[] = {
      {0x80040154u, "Class not registered (REGDB_E_CLASSNOTREG): ",
       "Excel is not installed for this user"},
      {0x800401F3u, "Invalid class string (CO_E_CLASSSTRING): ",
       "Excel is not installed for this user"},
      {0x80080005u, "Server execution failed (CO_E_SERVER_EXEC_FAILURE): ",
       "another account to run it as"},
      {0x80080005u, "Server execution failed", "this run has no desktop"},
      {0x80070005u, "Access is denied (E_ACCESSDENIED): ",
       "DCOM launch and activation permissions"},
      {0x800706BAu, "The RPC server is unavailable (", "ended during the call"},
      {0x800706BEu, "The remote procedure call failed (", "ended during"},
      {0x800706BFu, "The remote procedure call failed and did", "ended during"},
      {0x80010007u, "The callee is not available and disap", "ended during"},
      {0x80010012u, "The callee is not available and disap", "ended during"},
      {0x80010108u, "The object invoked has disconnected", "ended during"},
      {0x80010001u, "Call was rejected by callee (RPC_E_CALL_REJECTED): ",
       "Excel stayed busy"},
      {0x80010001u, "Call was rejected", "asked again for 60 s"},
      {0x8001010Au, "The message filter indicated that the app", "stayed busy"},
      {0x80020006u,
       "Unknown name (DISP_E_UNKNOWNNAME): ", "not Excel, or too old an Excel"},
      {0x80020006u, "Unknown name", "Check which program the registration"},
      {0x80020009u, "Exception occurred (DISP_E_EXCEPTION): ",
       "what Excel said, when it said anything, follows."},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.begins);
    const std::string text = CodeInWords(row.status);
    EXPECT_EQ(text.rfind(row.begins, 0), 0u) << text;
    EXPECT_NE(text.find(row.says), std::string::npos) << text;
    EXPECT_EQ(text.find('\n'), std::string::npos);
  }
  // Codes outside the table get the system's text from the caller.
  for (uint32_t status : {0u, 0x80020005u, 0x80004005u, 0x00040154u})
    EXPECT_EQ(CodeInWords(status), "") << status;
}

TEST(ErrorTextTest, WhatTheHostSaid) {
  const struct {
    const wchar_t* source;
    const wchar_t* description;
    const wchar_t* line;
  } rows[] = {
      {L"StandInHost", L"Told to fail: Open",
       L"Excel said (StandInHost): Told to fail: Open"},
      {L"", L"No file", L"Excel said: No file"},
      {L"Microsoft Excel", L"",
       L"Excel said (Microsoft Excel): (no description)"},
      {L" \r\n", L"\t", L""},
      // Hosts give descriptions of several lines: they become one.
      {L"X", L"Sorry, we couldn't find it.\r\n\r\nIs it moved?\n",
       L"Excel said (X): Sorry, we couldn't find it. Is it moved?"},
      {L"\u0395\u03bb", L"\u6587\u4ef6 \u0141\u00f3d\u017a",
       L"Excel said (\u0395\u03bb): \u6587\u4ef6 \u0141\u00f3d\u017a"},
  };
  for (const auto& row : rows)
    EXPECT_EQ(HostSaidLine(row.source, row.description), row.line)
        << testing::PrintToString(std::wstring(row.line));
}

}  // namespace
