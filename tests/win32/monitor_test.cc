// The monitor's cycle on a scripted platform: failures Wine cannot provoke
// (a failing wait or close) and the add-in's writes placed exactly between
// two steps of a cycle.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "runner/line_end.h"
#include "runner/monitor_system.h"

namespace {

const wchar_t kSuccess[] = L"QUIT - Task SUCCEEDED, process exit code 0";

// The registry key, its one-shot notification and the manual-reset event,
// as the platform behaves, with the add-in's writes under the test's
// control. A registration does not clear the event here: the monitor must.
class FakeSystem : public MonitorSystem {
 public:
  // Failures to give; 0 (or true) means the call works.
  LSTATUS openStatus = ERROR_SUCCESS;
  DWORD eventError = 0;  // CreateChangeEvent fails with this last error
  int failNotifyAt = 0;  // the nth registration fails...
  LSTATUS notifyStatus = ERROR_SUCCESS;  // ...with this status
  int failWaitAt = 0;                    // the nth wait fails
  DWORD waitError = 0;
  LSTATUS closeKeyStatus = ERROR_SUCCESS;
  bool closeEventWorks = true;

  /// Called after each call with its name and how often it has been made.
  std::function<void(const std::string& call, int count)> after;

  std::wstring value;
  std::vector<std::string> calls;  // in order
  std::vector<DWORD> waitResults;  // WAIT_OBJECT_0 or WAIT_TIMEOUT
  int openHandles = 0;

  /// The add-in writes "Progress": a pending registration signals.
  void Write(const std::wstring& text) {
    value = text;
    if (armed_) signalled_ = true;
    armed_ = false;
  }

  LSTATUS OpenKey(HKEY* key) override {
    Record("open");
    if (openStatus != ERROR_SUCCESS) return openStatus;
    *key = reinterpret_cast<HKEY>(0x100);
    ++openHandles;
    return ERROR_SUCCESS;
  }
  HANDLE CreateChangeEvent() override {
    Record("event");
    if (eventError != 0) return nullptr;
    ++openHandles;
    return reinterpret_cast<HANDLE>(0x200);
  }
  DWORD LastError() override {
    return eventError != 0 ? eventError : waitError;
  }
  LSTATUS NotifyChange(HKEY, HANDLE) override {
    const int count = Record("notify");
    if (count == failNotifyAt) return notifyStatus;
    armed_ = true;
    After("notify", count);
    return ERROR_SUCCESS;
  }
  void ResetChangeEvent(HANDLE) override {
    signalled_ = false;
    After("reset", Record("reset"));
  }
  void SetChangeEvent(HANDLE) override {
    signalled_ = true;
    After("set", Record("set"));
  }
  DWORD Wait(HANDLE, DWORD milliseconds) override {
    const int count = Record("wait");
    EXPECT_EQ(milliseconds, 1000u);
    if (count == failWaitAt) return WAIT_FAILED;
    // The add-in's write during the wait ends it early.
    After("wait", count);
    const DWORD result = signalled_ ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
    waitResults.push_back(result);
    return result;
  }
  std::wstring ReadProgress(HKEY) override {
    const std::wstring text = value;
    After("read", Record("read"));
    return text;
  }
  LSTATUS CloseKey(HKEY) override {
    Record("closekey");
    --openHandles;
    return closeKeyStatus;
  }
  bool CloseEvent(HANDLE) override {
    Record("closeevent");
    --openHandles;
    return closeEventWorks;
  }
  std::tm LocalTimeNow() override {
    std::tm time{};
    time.tm_year = 124;
    time.tm_mday = 1;
    time.tm_hour = 13;
    time.tm_min = 4;
    time.tm_sec = 5;
    return time;
  }

 private:
  int Record(const std::string& call) {
    calls.push_back(call);
    return ++counts_[call];
  }
  void After(const std::string& call, int count) {
    if (after) after(call, count);
  }

  std::map<std::string, int> counts_;
  bool armed_ = false;
  bool signalled_ = false;
};

struct Result {
  bool ok;
  std::wstring finalText;
  std::string out;
};

Result Monitor(FakeSystem& system) {
  Result result;
  testing::internal::CaptureStdout();
  result.ok = MonitorProgressOn(system, result.finalText);
  fflush(stdout);
  result.out = testing::internal::GetCapturedStdout();
  return result;
}

// Writes texts[n] when the nth wait begins (an empty entry writes nothing).
std::function<void(const std::string&, int)> WritesAtWaits(
    FakeSystem& system, std::vector<const wchar_t*> texts) {
  return [&system, texts](const std::string& call, int count) {
    if (call == "wait" && count >= 1 &&
        count <= static_cast<int>(texts.size()) && texts[count - 1] != nullptr)
      system.Write(texts[count - 1]);
  };
}

class MonitorTest : public testing::Test {
 protected:
  void SetUp() override { SetLineEnd(false); }
  void TearDown() override { SetLineEnd(false); }
};

TEST_F(MonitorTest, PrintsEachCycleAndEndsAtTheQuitText) {
  FakeSystem system;
  system.after = WritesAtWaits(
      system, {L"Step one", nullptr, L"DONE", nullptr, L"Caf\u00e9", kSuccess});
  const Result result = Monitor(system);
  EXPECT_TRUE(result.ok);
  EXPECT_EQ(result.finalText, kSuccess);
  EXPECT_EQ(result.out,
            "Loading Application"
            "\n\n01:04:05:Step one"
            "."
            "\n"
            "."
            "\n\n01:04:05:Caf\xe9"
            "\n\n01:04:05:QUIT - Task SUCCEEDED, process exit code 0");
  EXPECT_EQ(system.openHandles, 0);
  EXPECT_EQ(system.calls.back(), "closeevent");
}

TEST_F(MonitorTest, HtmlModeChangesOnlyTheLineEnds) {
  SetLineEnd(true);
  FakeSystem system;
  system.after = WritesAtWaits(system, {L"Step one", L"DONE", L"QUIT"});
  const Result result = Monitor(system);
  EXPECT_TRUE(result.ok);
  EXPECT_EQ(
      result.out,
      "Loading Application<br>\n01:04:05:Step one<br><br>\n01:04:05:QUIT");
}

TEST_F(MonitorTest, EachFailureIsPrintedAndEndsTheWait) {
  const struct {
    const char* name;
    std::function<void(FakeSystem&)> arrange;
    const char* out;
  } rows[] = {
      {"key cannot be opened",
       [](FakeSystem& s) { s.openStatus = ERROR_FILE_NOT_FOUND; },
       "Error in RegOpenKeyEx (2).\n"},
      {"event cannot be created",
       [](FakeSystem& s) { s.eventError = ERROR_NOT_ENOUGH_MEMORY; },
       "Error in CreateEvent (8).\n"},
      {"first registration fails",
       [](FakeSystem& s) {
         s.failNotifyAt = 1;
         s.notifyStatus = ERROR_ACCESS_DENIED;
       },
       "Error in RegNotifyChangeKeyValue (5).\n"},
      {"a later registration fails",
       [](FakeSystem& s) {
         s.failNotifyAt = 2;
         s.notifyStatus = ERROR_KEY_DELETED;
       },
       "Loading Application.Error in RegNotifyChangeKeyValue (1018).\n"},
      {"the wait fails",
       [](FakeSystem& s) {
         s.failWaitAt = 2;
         s.waitError = ERROR_INVALID_HANDLE;
       },
       "Loading Application.Error in WaitForSingleObject (6).\n"},
      {"the key cannot be closed",
       [](FakeSystem& s) {
         s.value = L"QUIT";
         s.closeKeyStatus = ERROR_INVALID_HANDLE;
       },
       "Loading Application\n\n01:04:05:QUIT"
       "Error in RegCloseKey (6).\n"},
      {"the event cannot be closed",
       [](FakeSystem& s) {
         s.value = L"QUIT";
         s.closeEventWorks = false;
       },
       "Loading Application\n\n01:04:05:QUITError in CloseHandle.\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    FakeSystem system;
    row.arrange(system);
    const Result result = Monitor(system);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.out, row.out);
    // Whatever was opened has been closed on the way out.
    EXPECT_EQ(system.openHandles, 0);
  }
}

TEST_F(MonitorTest, EventIsClearedBeforeEveryRegistrationSoTheLoopNeverSpins) {
  FakeSystem system;
  system.after = WritesAtWaits(
      system, {L"one", nullptr, nullptr, L"two", nullptr, L"QUIT"});
  const Result result = Monitor(system);
  ASSERT_TRUE(result.ok);
  // A wait ends early only for a write; the other waits run to their end.
  const std::vector<DWORD> expected = {WAIT_OBJECT_0, WAIT_TIMEOUT,
                                       WAIT_TIMEOUT,  WAIT_OBJECT_0,
                                       WAIT_TIMEOUT,  WAIT_OBJECT_0};
  EXPECT_EQ(system.waitResults, expected);
  for (size_t i = 1; i < system.calls.size(); ++i)
    if (system.calls[i] == "notify" && i > 2)
      EXPECT_EQ(system.calls[i - 1], "reset") << "call " << i;
}

TEST_F(MonitorTest, TextWrittenBetweenReadAndRegistrationIsPrintedAtOnce) {
  // Where in the cycle after the read of "one" the add-in writes "two".
  const struct {
    const char* call;
    int count;
  } moments[] = {
      {"read", 2},    // right after the cycle's read (the first read is at set-up)
      {"reset", 1},   // after the event is cleared, before registering
      {"notify", 2},  // right after registering again
  };
  for (const auto& moment : moments) {
    SCOPED_TRACE(moment.call);
    FakeSystem system;
    bool wroteTwo = false;
    system.after = [&](const std::string& call, int count) {
      if (call == "wait" && count == 1) system.Write(L"one");
      if (call == moment.call && count == moment.count && !wroteTwo) {
        system.Write(L"two");
        wroteTwo = true;
      }
      if (call == "wait" && count == 3) system.Write(L"QUIT");
    };
    const Result result = Monitor(system);
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(result.out,
              "Loading Application\n\n01:04:05:one\n\n01:04:05:two"
              "\n\n01:04:05:QUIT");
    // The wait after "one" ended at once instead of running its full time.
    ASSERT_GE(system.waitResults.size(), 2u);
    EXPECT_EQ(system.waitResults[1], static_cast<DWORD>(WAIT_OBJECT_0));
  }
}

TEST_F(MonitorTest, TextWrittenBeforeTheFirstRegistrationIsPrintedAtOnce) {
  FakeSystem system;
  system.value = L"early";  // written between the launch and the set-up
  system.after = WritesAtWaits(system, {nullptr, L"QUIT"});
  const Result result = Monitor(system);
  ASSERT_TRUE(result.ok);
  EXPECT_EQ(result.out,
            "Loading Application\n\n01:04:05:early\n\n01:04:05:QUIT");
  ASSERT_GE(system.waitResults.size(), 1u);
  EXPECT_EQ(system.waitResults[0], static_cast<DWORD>(WAIT_OBJECT_0));
}

}  // namespace
