// The monitor's cycle on a scripted platform: failures Wine cannot provoke
// (a failing wait or close), the add-in's writes placed exactly between two
// steps of a cycle, the host's end and an interruption at a chosen wait, and
// the registrations the loop makes (Windows adds a wait for every one).
#include "runner/monitor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cwchar>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "runner/line_end.h"
#include "runner/progress_text.h"

namespace {

const wchar_t kSuccess[] = L"QUIT - Task SUCCEEDED, process exit code 0";

// ASCII text as the console shows it.
std::string Ascii(const wchar_t* text) {
  return std::string(text, text + wcslen(text));
}

// The registry key, its one-shot notifications and the manual-reset event,
// as Windows behaves, with the add-in's writes under the test's control.
// Every registration adds a wait until the next change fires them all; a
// registration does not clear the event here: the monitor must.
class FakeSystem : public MonitorSystem {
 public:
  static constexpr int kMostWaits = 100000;

  // Failures to give; 0 (or true) means the call works.
  LSTATUS openStatus = ERROR_SUCCESS;
  DWORD eventError = 0;  // CreateChangeEvent fails with this last error
  int failNotifyAt = 0;  // the nth registration fails...
  LSTATUS notifyStatus = ERROR_SUCCESS;  // ...with this status
  int failWaitAt = 0;                    // the nth wait fails
  DWORD waitError = 0;
  LSTATUS closeKeyStatus = ERROR_SUCCESS;
  bool closeEventWorks = true;
  int hostEndsAtWait = 0;   // the host's process ends during the nth wait
  int interruptAtWait = 0;  // the run is interrupted during the nth wait

  /// Called after each call with its name and how often it has been made.
  std::function<void(const std::string& call, int count)> after;

  std::wstring value;
  std::vector<std::string> calls;  // in order
  std::vector<WaitOutcome> waitResults;
  std::vector<DWORD> waitTimes;  // the time each wait was given
  int openHandles = 0;
  int pendingRegistrations = 0;
  int registrationsWhilePending = 0;  // the leak Windows would keep

  /// The add-in writes "Progress": the pending registrations signal.
  void Write(const std::wstring& text) {
    value = text;
    if (pendingRegistrations > 0) signalled_ = true;
    pendingRegistrations = 0;
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
    if (pendingRegistrations > 0) ++registrationsWhilePending;
    ++pendingRegistrations;
    After("notify", count);
    return ERROR_SUCCESS;
  }
  void ResetChangeEvent(HANDLE) override {
    signalled_ = false;
    After("reset", Record("reset"));
  }
  WaitOutcome Wait(HANDLE, HANDLE host, DWORD milliseconds) override {
    const int count = Record("wait");
    waitTimes.push_back(milliseconds);
    if (count == failWaitAt) return WaitOutcome::Failed;
    // A loop that never ends would otherwise fill the memory.
    if (count > kMostWaits) {
      ADD_FAILURE() << "the monitor never ended";
      Write(L"QUIT - the test gave up");
    }
    // The add-in's write during the wait ends it early.
    After("wait", count);
    WaitOutcome result =
        signalled_ ? WaitOutcome::KeyChanged : WaitOutcome::TimedOut;
    if (host != nullptr && count >= hostEndsAtWait && hostEndsAtWait != 0)
      result = WaitOutcome::HostEnded;
    if (count == interruptAtWait) result = WaitOutcome::Interrupted;
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
  bool signalled_ = false;
};

struct Result {
  bool ok;  // the wait ended with a final text
  MonitorOutcome outcome;
  std::wstring finalText;
  std::string out;
};

// Opens the watch and follows the add-in, with a host to watch or none.
Result Monitor(FakeSystem& system, bool watchHost = false) {
  Result result;
  testing::internal::CaptureStdout();
  {
    ProgressWatch watch(system);
    result.outcome =
        watch.Open() ? watch.Follow(watchHost ? reinterpret_cast<HANDLE>(0x300)
                                              : nullptr,
                                    result.finalText)
                     : MonitorOutcome::Failed;
  }
  fflush(stdout);
  result.out = testing::internal::GetCapturedStdout();
  result.ok = result.outcome == MonitorOutcome::Finished;
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
         s.after = WritesAtWaits(s, {L"Step one"});
       },
       "Loading Application\n\n01:04:05:Step one"
       "Error in RegNotifyChangeKeyValue (1018).\n"},
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
  const std::vector<WaitOutcome> expected = {
      WaitOutcome::KeyChanged, WaitOutcome::TimedOut, WaitOutcome::TimedOut,
      WaitOutcome::KeyChanged, WaitOutcome::TimedOut, WaitOutcome::KeyChanged};
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
      {"read",
       2},  // right after the cycle's read (the first read is at set-up)
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
    ASSERT_GE(system.waitTimes.size(), 2u);
    EXPECT_EQ(system.waitTimes[1], 0u);
    EXPECT_EQ(system.registrationsWhilePending, 0);
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
  ASSERT_GE(system.waitTimes.size(), 1u);
  EXPECT_EQ(system.waitTimes[0], 0u);
}

TEST_F(MonitorTest, NoRegistrationIsMadeWhileOneIsPending) {
  // Writes per wait; each inner list is written at once (a burst).
  std::vector<std::vector<const wchar_t*>> idleHour(3600);
  idleHour.push_back({L"QUIT"});
  const struct {
    const char* name;
    std::vector<std::vector<const wchar_t*>> writes;
    int registrations;  // made in all, the first one included
  } rows[] = {
      {"an idle hour of time-outs", idleHour, 2},
      {"bursts within one wait",
       {{L"a", L"b", L"c"}, {}, {L"d", L"e"}, {L"f"}, {}, {L"QUIT"}},
       5},
      {"idle between messages",
       {{L"a"}, {}, {}, {}, {L"b"}, {}, {}, {L"QUIT"}},
       4},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    FakeSystem system;
    system.after = [&system, &row](const std::string& call, int count) {
      if (call != "wait" || count > static_cast<int>(row.writes.size())) return;
      for (const wchar_t* text : row.writes[count - 1]) system.Write(text);
    };
    const Result result = Monitor(system);
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(system.registrationsWhilePending, 0);
    EXPECT_EQ(std::count(system.calls.begin(), system.calls.end(), "notify"),
              row.registrations);
    for (DWORD time : system.waitTimes)
      EXPECT_TRUE(time == 1000u || time == 0u);
  }
}

TEST_F(MonitorTest, HostEndAndInterruptionEndTheWait) {
  const std::string loading = "Loading Application";
  const std::string hostEnded =
      "\n\n01:04:05:Excel ended before the Ulvex Task reported its end";
  const struct {
    const char* name;
    bool watchHost;
    int hostEndsAtWait;
    int interruptAtWait;
    std::vector<const wchar_t*> writes;  // at the nth wait
    MonitorOutcome outcome;
    std::string out;
  } rows[] = {
      {"host ends without any text",
       true,
       1,
       0,
       {},
       MonitorOutcome::HostEnded,
       loading + "." + hostEnded},
      {"host ends after a message",
       true,
       3,
       0,
       {L"Step one"},
       MonitorOutcome::HostEnded,
       loading + "\n\n01:04:05:Step one.." + hostEnded},
      {"host ends right after the success text",
       true,
       2,
       0,
       {nullptr, kSuccess},
       MonitorOutcome::Finished,
       loading + ".\n\n01:04:05:" + Ascii(kSuccess)},
      {"host ends right after another QUIT text",
       true,
       1,
       0,
       {L"QUIT - no"},
       MonitorOutcome::Finished,
       loading + "\n\n01:04:05:QUIT - no"},
      {"no host to watch: its end is not seen",
       false,
       1,
       0,
       {nullptr, L"QUIT"},
       MonitorOutcome::Finished,
       loading + ".\n\n01:04:05:QUIT"},
      {"interrupted while waiting",
       true,
       0,
       2,
       {L"Step one"},
       MonitorOutcome::Interrupted,
       loading + "\n\n01:04:05:Step one"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    FakeSystem system;
    system.hostEndsAtWait = row.hostEndsAtWait;
    system.interruptAtWait = row.interruptAtWait;
    system.after = WritesAtWaits(system, row.writes);
    const Result result = Monitor(system, row.watchHost);
    EXPECT_EQ(result.outcome, row.outcome);
    EXPECT_EQ(result.out, row.out);
    if (row.outcome == MonitorOutcome::Finished)
      EXPECT_EQ(result.finalText.substr(0, 4), L"QUIT");
    EXPECT_EQ(system.openHandles, 0);
  }
  // The host's line never reads as the add-in's end.
  EXPECT_FALSE(IsQuitText(kHostEndedText));
}

}  // namespace
