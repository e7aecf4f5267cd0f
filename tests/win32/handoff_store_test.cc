// The hand-off store against the registry: what the writers leave in the
// key, what the reader makes of any data the add-in may store.
#include "handoff/handoff_store.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/handoff_key.h"

namespace {

using Bytes = std::vector<unsigned char>;
using ulvex_test::HandoffData;
using ulvex_test::ReadHandoffData;

Bytes Utf16(const std::wstring& text, bool withNul) {
  Bytes bytes;
  for (wchar_t unit : text) {
    bytes.push_back(static_cast<unsigned char>(unit & 0xFF));
    bytes.push_back(static_cast<unsigned char>((unit >> 8) & 0xFF));
  }
  if (withNul) bytes.insert(bytes.end(), {0, 0});
  return bytes;
}

std::wstring ReadProgressThroughTheReader() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, ulvex_test::kHandoffKey, 0,
                    KEY_QUERY_VALUE | KEY_NOTIFY, &key) != ERROR_SUCCESS)
    return L"<key not opened>";
  const std::wstring text = GetStringRegKey(key);
  RegCloseKey(key);
  return text;
}

class HandoffStoreTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(ulvex_test::CreateHandoffKey()); }
  void TearDown() override { ulvex_test::CreateHandoffKey(); }
};

TEST_F(HandoffStoreTest, KeyPathIsTheNarrowConstantWidened) {
  EXPECT_STREQ(kHandoffKeyPath, "Software\\Quennet\\Ulvex");
  EXPECT_EQ(HandoffKeyPathW(), L"Software\\Quennet\\Ulvex");
}

TEST_F(HandoffStoreTest, WritersStoreTheCommandLineAndAnEmptyProgress) {
  ASSERT_TRUE(ulvex_test::WriteProgress(L"QUIT - an earlier run"));
  testing::internal::CaptureStdout();
  EXPECT_TRUE(HandOffCommandLine());
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

  const HandoffData commandLine = ReadHandoffData(L"CommandLine");
  ASSERT_TRUE(commandLine.found);
  EXPECT_EQ(commandLine.type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(commandLine.data, Utf16(GetCommandLineW(), true));

  const HandoffData progress = ReadHandoffData(L"Progress");
  ASSERT_TRUE(progress.found);
  EXPECT_EQ(progress.type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(progress.data, Bytes({0, 0}));  // the NUL alone
}

TEST_F(HandoffStoreTest, WritersReportAMissingKeyAndNeverCreateIt) {
  ASSERT_TRUE(ulvex_test::DeleteHandoffKey());
  testing::internal::CaptureStdout();
  EXPECT_FALSE(SetCommandLineRegKey());
  EXPECT_FALSE(ResetProgressRegKey());
  fflush(stdout);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Command line ERR: Failed to set Registry value : "
            "Software\\Quennet\\Ulvex\\CommandLine\n"
            "Progress ERR: Failed to set Ulvex Progress Registry value : "
            "Progress\n");
  EXPECT_FALSE(ulvex_test::HandoffKeyExists());
}

// A key that can be read but not written: Wine does not enforce a key's
// access rights, so the writes fail here through the seam.
class FailingWriter : public HandoffWriter {
 public:
  bool failCommandLine = false;
  bool failProgress = false;
  std::vector<std::wstring> writes;  // "name=text", in order

  bool WriteString(const wchar_t* name, const wchar_t* text) override {
    writes.push_back(std::wstring(name) + L"=" + text);
    const std::wstring value = name;
    return !(value == L"CommandLine" ? failCommandLine : failProgress);
  }
};

TEST_F(HandoffStoreTest, AFailedWriteIsReportedAndEndsTheHandOff) {
  const std::string commandLineMessage =
      "Command line ERR: Failed to set Registry value : "
      "Software\\Quennet\\Ulvex\\CommandLine\n";
  const std::string progressMessage =
      "Progress ERR: Failed to set Ulvex Progress Registry value : "
      "Progress\n";
  const struct {
    const char* name;
    bool failCommandLine;
    bool failProgress;
    std::string output;
    bool handedOff;
  } rows[] = {
      {"both written", false, false, "", true},
      {"CommandLine refused", true, false, commandLineMessage, false},
      {"Progress refused", false, true, progressMessage, false},
      {"both refused", true, true, commandLineMessage + progressMessage, false},
  };
  const std::vector<std::wstring> bothWrites = {
      std::wstring(L"CommandLine=") + GetCommandLineW(), L"Progress="};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    FailingWriter writer;
    writer.failCommandLine = row.failCommandLine;
    writer.failProgress = row.failProgress;
    testing::internal::CaptureStdout();
    const bool handedOff = HandOffCommandLine(writer);
    fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), row.output);
    EXPECT_EQ(handedOff, row.handedOff);
    // A refused first write never skips the second.
    EXPECT_EQ(writer.writes, bothWrites);

    // Each writer's own verdict.
    FailingWriter single;
    single.failCommandLine = row.failCommandLine;
    single.failProgress = row.failProgress;
    testing::internal::CaptureStdout();
    EXPECT_EQ(SetCommandLineRegKey(single), !row.failCommandLine);
    EXPECT_EQ(ResetProgressRegKey(single), !row.failProgress);
    fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), row.output);
  }
}

// The probe asks for every right a run needs at once. Wine does not
// enforce a key's access rights: a key that grants setting but not
// notifying is played by an opener that refuses what it does not grant.
REGSAM grantedRights = 0;
REGSAM askedRights = 0;
LSTATUS OpenWithGrantedRights(REGSAM access) {
  askedRights = access;
  return (access & ~grantedRights) != 0 ? ERROR_ACCESS_DENIED
                                        : OpenHandoffKeyOnly(access);
}

TEST_F(HandoffStoreTest, TheProbeAsksForEveryRightARunNeeds) {
  const struct {
    const char* name;
    REGSAM granted;
    LSTATUS status;
  } rows[] = {
      {"all a run needs", KEY_SET_VALUE | KEY_QUERY_VALUE | KEY_NOTIFY,
       ERROR_SUCCESS},
      {"setting but not notifying", KEY_SET_VALUE | KEY_QUERY_VALUE,
       ERROR_ACCESS_DENIED},
      {"reading and notifying but not setting", KEY_QUERY_VALUE | KEY_NOTIFY,
       ERROR_ACCESS_DENIED},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    grantedRights = row.granted;
    EXPECT_EQ(ProbeHandoffKey(OpenWithGrantedRights), row.status);
    EXPECT_EQ(askedRights, static_cast<REGSAM>(KEY_SET_VALUE | KEY_QUERY_VALUE |
                                               KEY_NOTIFY));
  }
  // The real key: opened, never created, nothing written.
  EXPECT_EQ(ProbeHandoffKey(), ERROR_SUCCESS);
  ASSERT_TRUE(ulvex_test::DeleteHandoffKey());
  EXPECT_EQ(ProbeHandoffKey(), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(ulvex_test::HandoffKeyExists());
}

TEST_F(HandoffStoreTest, ReaderTakesAnyStoredDataSafely) {
  const std::wstring text4095(4095, L'x');
  const struct {
    const char* name;
    DWORD type;
    Bytes data;
    std::wstring text;
    // A second safe answer, where platforms differ.
    const wchar_t* alsoText = nullptr;
  } rows[] = {
      {"ordinary text", REG_SZ, Utf16(L"Step one", true), L"Step one"},
      {"empty", REG_SZ, Utf16(L"", true), L""},
      {"no data at all", REG_SZ, {}, L""},
      {"no terminating NUL", REG_SZ, Utf16(L"NoNul", false), L"NoNul"},
      {"embedded NUL", REG_SZ, Utf16(std::wstring(L"ab\0cd", 5), true), L"ab"},
      {"odd byte count", REG_SZ, {'a', 0, 'b'}, L"a"},
      {"expandable, read as it stands", REG_EXPAND_SZ, Utf16(L"%TEMP%", true),
       L"%TEMP%"},
      // Only a string is a text, whatever its bytes spell.
      {"binary data", REG_BINARY, Utf16(L"QUIT", true),
       L"GetStringRegKey Error"},
      {"a string list", REG_MULTI_SZ, Utf16(std::wstring(L"QUIT\0", 5), true),
       L"GetStringRegKey Error"},
      {"a number", REG_DWORD, {'Q', 0, 'U', 0}, L"GetStringRegKey Error"},
      {"no type", REG_NONE, Utf16(L"QUIT", true), L"GetStringRegKey Error"},
      {"non-ASCII", REG_SZ, Utf16(L"\u00e9\u03a9\u4e2d", true),
       L"\u00e9\u03a9\u4e2d"},
      {"4,095 characters and the NUL", REG_SZ, Utf16(text4095, true), text4095},
      // NOTE: Windows returns a string that fills the buffer exactly as it
      // is; 64-bit Wine refuses it for want of room for a terminator.
      {"4,096 characters without a NUL", REG_SZ,
       Utf16(std::wstring(4096, L'y'), false), std::wstring(4096, L'y'),
       L"GetStringRegKey Error"},
      {"4,096 characters and the NUL", REG_SZ,
       Utf16(std::wstring(4096, L'y'), true), L"GetStringRegKey Error"},
      {"one byte too many", REG_BINARY, Bytes(8193, 'z'),
       L"GetStringRegKey Error"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ASSERT_TRUE(ulvex_test::WriteHandoffData(L"Progress", row.type, row.data));
    const std::wstring text = ReadProgressThroughTheReader();
    if (row.alsoText != nullptr && text == row.alsoText) continue;
    EXPECT_EQ(text, row.text);
  }
  ASSERT_TRUE(ulvex_test::DeleteHandoffValue(L"Progress"));
  EXPECT_EQ(ReadProgressThroughTheReader(), L"GetStringRegKey Error");
}

}  // namespace
