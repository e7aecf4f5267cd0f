#include <cstdio>

#include "handoff/handoff_store.h"
#include "platform/console.h"
#include "platform/system_api.h"
#include "runner/interrupt.h"
#include "runner/line_end.h"
#include "runner/monitor.h"
#include "runner/monitor_system.h"
#include "runner/progress_text.h"

namespace {

// The longest wait of one cycle; a change of the key ends it earlier.
constexpr DWORD kCycleMilliseconds = 1000;

// The whole subtree, and every kind of change: names, attributes, data and
// security (0xF).
constexpr DWORD kNotifyFilter =
    REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_ATTRIBUTES |
    REG_NOTIFY_CHANGE_LAST_SET | REG_NOTIFY_CHANGE_SECURITY;

// Lets whatever the thread's windows and its COM apartment were sent be
// handled, so that the apartment stays responsive while the run waits.
void PumpMessages() {
  const ulvex::SystemApi& system = ulvex::System();
  MSG message;
  while (system.PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    system.TranslateMessage(&message);
    system.DispatchMessageW(&message);
  }
}

class Win32System : public MonitorSystem {
 public:
  LSTATUS OpenKey(HKEY* key) override {
    const std::wstring path = HandoffKeyPathW();
    return RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0,
                         KEY_QUERY_VALUE | KEY_NOTIFY, key);
  }
  HANDLE CreateChangeEvent() override {
    return CreateEventW(nullptr, TRUE, FALSE, nullptr);
  }
  DWORD LastError() override { return GetLastError(); }
  LSTATUS NotifyChange(HKEY key, HANDLE event) override {
    return RegNotifyChangeKeyValue(key, TRUE, kNotifyFilter, event, TRUE);
  }
  void ResetChangeEvent(HANDLE event) override { ResetEvent(event); }

  WaitOutcome Wait(HANDLE event, HANDLE host, DWORD milliseconds) override {
    // The first signalled handle in this order wins: an interruption before
    // the host's end, the host's end before a change (its last text is read
    // either way).
    HANDLE handles[3];
    WaitOutcome outcomes[3];
    DWORD count = 0;
    if (InterruptEvent() != nullptr) {
      handles[count] = InterruptEvent();
      outcomes[count++] = WaitOutcome::Interrupted;
    }
    if (host != nullptr) {
      handles[count] = host;
      outcomes[count++] = WaitOutcome::HostEnded;
    }
    handles[count] = event;
    outcomes[count++] = WaitOutcome::KeyChanged;

    const ULONGLONG deadline = GetTickCount64() + milliseconds;
    for (;;) {
      const ULONGLONG now = GetTickCount64();
      const DWORD left =
          now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
      // NOTE: MWMO_INPUTAVAILABLE also wakes for messages that were already
      // in the queue when the wait began.
      const DWORD woken = ulvex::System().MsgWaitForMultipleObjectsEx(
          count, handles, left, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
      if (woken < WAIT_OBJECT_0 + count) return outcomes[woken - WAIT_OBJECT_0];
      if (woken == WAIT_TIMEOUT) return WaitOutcome::TimedOut;
      if (woken != WAIT_OBJECT_0 + count) return WaitOutcome::Failed;
      PumpMessages();
    }
  }

  std::wstring ReadProgress(HKEY key) override { return GetStringRegKey(key); }
  LSTATUS CloseKey(HKEY key) override { return RegCloseKey(key); }
  bool CloseEvent(HANDLE event) override { return CloseHandle(event) != 0; }
  std::tm LocalTimeNow() override {
    const std::time_t now = std::time(nullptr);
    // One thread prints: localtime's shared result is copied at once.
    const std::tm* local = std::localtime(&now);
    return local != nullptr ? *local : std::tm{};
  }
};

// Every piece is flushed as soon as it is printed, so that progress
// reaches a pipe or a log file while the task runs.
void PrintNarrow(const char* text) {
  fputs(text, stdout);
  FlushOutput();
}

void PrintProgressLine(const std::wstring& text, MonitorSystem& system) {
  printf("%s%s:", LineEnd, FormatTimeStamp(system.LocalTimeNow()).c_str());
  // Converted whole, with characters the code page lacks replaced;
  // printf("%ls") would stop at the first one above U+00FF.
  WriteWideText(text.c_str());
  FlushOutput();
}

void PrintProgress(const std::wstring& current, const std::wstring& previous,
                   MonitorSystem& system) {
  switch (DecideProgressOutput(current, previous)) {
    case ProgressOutput::LineEndOnly:
      PrintNarrow(LineEnd);
      break;
    case ProgressOutput::NewLine:
      PrintProgressLine(current, system);
      break;
    case ProgressOutput::Dot:
      PrintNarrow(".");
      break;
  }
}

}  // namespace

MonitorSystem& Win32MonitorSystem() {
  static Win32System system;
  return system;
}

ProgressWatch::~ProgressWatch() {
  if (event_ != nullptr) system_.CloseEvent(event_);
  if (key_ != nullptr) system_.CloseKey(key_);
}

bool ProgressWatch::Fail(const char* call, long code) {
  printf("Error in %s (%ld).%s", call, code, LineEnd);
  FlushOutput();
  return false;
}

bool ProgressWatch::Open() {
  const LSTATUS status = system_.OpenKey(&key_);
  if (status == ERROR_SUCCESS) return true;
  key_ = nullptr;
  return Fail("RegOpenKeyEx", status);
}

MonitorOutcome ProgressWatch::Follow(HANDLE host, std::wstring& finalText) {
  event_ = system_.CreateChangeEvent();
  if (event_ == nullptr) {
    Fail("CreateEvent", static_cast<long>(system_.LastError()));
    return MonitorOutcome::Failed;
  }
  LSTATUS notifyStatus = system_.NotifyChange(key_, event_);
  if (notifyStatus != ERROR_SUCCESS) {
    Fail("RegNotifyChangeKeyValue", notifyStatus);
    return MonitorOutcome::Failed;
  }
  PrintNarrow("Loading Application");
  // The add-in may have written before this first registration (it starts
  // as soon as the workbook opens): that write raised no signal, so let the
  // first wait end at once instead of running out its time.
  bool lookAtOnce = !system_.ReadProgress(key_).empty();

  std::wstring current;
  std::wstring previous;
  // Checked before the wait, so the empty start text always waits once.
  while (!IsQuitText(current)) {
    const WaitOutcome woken =
        system_.Wait(event_, host, lookAtOnce ? 0 : kCycleMilliseconds);
    lookAtOnce = false;
    if (woken == WaitOutcome::Failed) {
      Fail("WaitForSingleObject", static_cast<long>(system_.LastError()));
      return MonitorOutcome::Failed;
    }
    if (woken == WaitOutcome::Interrupted) return MonitorOutcome::Interrupted;

    // A signal, a time-out and the host's end are alike here: "Progress"
    // is read and shown. A final text the add-in wrote just before the host
    // quit still ends the run with its own status.
    current = system_.ReadProgress(key_);
    PrintProgress(current, previous, system_);
    previous = current;
    if (woken == WaitOutcome::HostEnded) {
      if (IsQuitText(current)) break;
      PrintProgressLine(kHostEndedText, system_);
      return MonitorOutcome::HostEnded;
    }

    // After a time-out the registration is still pending and will signal
    // the next change: registering again would only add a further wait
    // (each call adds one until it fires). After a signal it is spent.
    if (woken != WaitOutcome::KeyChanged) continue;
    // The event is manual-reset: unless it is cleared before the next
    // registration, every later wait would end at once and the loop would
    // spin. Clear it here whatever the registration itself does.
    system_.ResetChangeEvent(event_);
    notifyStatus = system_.NotifyChange(key_, event_);
    if (notifyStatus != ERROR_SUCCESS) {
      Fail("RegNotifyChangeKeyValue", notifyStatus);
      return MonitorOutcome::Failed;
    }
    // A text written after the read above but before the registration
    // raised no signal. Look once more, and if it has changed let the next
    // wait end at once so the text is printed now, not a cycle later.
    lookAtOnce = !IsQuitText(current) && system_.ReadProgress(key_) != current;
  }
  return Ending(current, finalText);
}

bool ProgressWatch::FinalTextSoFar(std::wstring& finalText) {
  const std::wstring current = system_.ReadProgress(key_);
  if (!IsQuitText(current)) return false;
  PrintProgressLine(current, system_);
  finalText = current;
  return true;
}

MonitorOutcome ProgressWatch::Ending(const std::wstring& current,
                                     std::wstring& finalText) {
  const LSTATUS closeStatus = system_.CloseKey(key_);
  key_ = nullptr;
  if (closeStatus != ERROR_SUCCESS) {
    Fail("RegCloseKey", closeStatus);
    return MonitorOutcome::Failed;
  }
  const bool eventClosed = system_.CloseEvent(event_);
  event_ = nullptr;
  if (!eventClosed) {
    printf("Error in CloseHandle.%s", LineEnd);
    FlushOutput();
    return MonitorOutcome::Failed;
  }
  finalText = current;
  return MonitorOutcome::Finished;
}
