#include <cstdio>

#include "handoff/handoff_store.h"
#include "platform/console.h"
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
  void SetChangeEvent(HANDLE event) override { SetEvent(event); }
  DWORD Wait(HANDLE event, DWORD milliseconds) override {
    return WaitForSingleObject(event, milliseconds);
  }
  std::wstring ReadProgress(HKEY key) override { return GetStringRegKey(key); }
  LSTATUS CloseKey(HKEY key) override { return RegCloseKey(key); }
  bool CloseEvent(HANDLE event) override { return CloseHandle(event) != 0; }
  std::tm LocalTimeNow() override {
    const std::time_t now = std::time(nullptr);
    // One thread: localtime's shared result is copied at once.
    const std::tm* local = std::localtime(&now);
    return local != nullptr ? *local : std::tm{};
  }
};

// Closes what is still held when the monitor fails part-way. The ending
// closes explicitly instead, because its failures are reported.
class HeldHandles {
 public:
  explicit HeldHandles(MonitorSystem& system) : system_(system) {}
  ~HeldHandles() {
    if (event != nullptr) system_.CloseEvent(event);
    if (key != nullptr) system_.CloseKey(key);
  }
  HeldHandles(const HeldHandles&) = delete;
  HeldHandles& operator=(const HeldHandles&) = delete;

  HKEY key = nullptr;
  HANDLE event = nullptr;

 private:
  MonitorSystem& system_;
};

// Every piece is flushed as soon as it is printed, so that progress
// reaches a pipe or a log file while the task runs.
void PrintNarrow(const char* text) {
  fputs(text, stdout);
  FlushOutput();
}

void PrintFailure(const char* call, long code) {
  printf("Error in %s (%ld).%s", call, code, LineEnd);
  FlushOutput();
}

void PrintProgress(const std::wstring& current, const std::wstring& previous,
                   MonitorSystem& system) {
  switch (DecideProgressOutput(current, previous)) {
    case ProgressOutput::LineEndOnly:
      PrintNarrow(LineEnd);
      break;
    case ProgressOutput::NewLine:
      printf("%s%s:", LineEnd, FormatTimeStamp(system.LocalTimeNow()).c_str());
      // Converted whole, with characters the code page lacks replaced;
      // printf("%ls") would stop at the first one above U+00FF.
      WriteWideText(current.c_str());
      FlushOutput();
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

bool MonitorProgressOn(MonitorSystem& system, std::wstring& finalText) {
  HeldHandles held(system);
  const LSTATUS openStatus = system.OpenKey(&held.key);
  if (openStatus != ERROR_SUCCESS) {
    held.key = nullptr;
    PrintFailure("RegOpenKeyEx", openStatus);
    return false;
  }
  held.event = system.CreateChangeEvent();
  if (held.event == nullptr) {
    PrintFailure("CreateEvent", static_cast<long>(system.LastError()));
    return false;
  }
  LSTATUS notifyStatus = system.NotifyChange(held.key, held.event);
  if (notifyStatus != ERROR_SUCCESS) {
    PrintFailure("RegNotifyChangeKeyValue", notifyStatus);
    return false;
  }
  PrintNarrow("Loading Application");
  // The add-in may have written before this first registration (it starts
  // as soon as the workbook opens): that write raised no signal, so let the
  // first wait end at once instead of running out its time.
  if (!system.ReadProgress(held.key).empty())
    system.SetChangeEvent(held.event);

  std::wstring current;
  std::wstring previous;
  // Checked before the wait, so the empty start text always waits once.
  while (!IsQuitText(current)) {
    // A signal and a time-out are alike: either way "Progress" is read.
    if (system.Wait(held.event, kCycleMilliseconds) == WAIT_FAILED) {
      PrintFailure("WaitForSingleObject",
                   static_cast<long>(system.LastError()));
      return false;
    }
    current = system.ReadProgress(held.key);
    PrintProgress(current, previous, system);
    previous = current;

    // The event is manual-reset: unless it is cleared before the next
    // registration, every later wait would end at once and the loop would
    // spin. Clear it here whatever the registration itself does.
    system.ResetChangeEvent(held.event);
    notifyStatus = system.NotifyChange(held.key, held.event);
    if (notifyStatus != ERROR_SUCCESS) {
      PrintFailure("RegNotifyChangeKeyValue", notifyStatus);
      return false;
    }
    // A text written after the read above but before the registration
    // raised no signal. Look once more, and if it has changed let the next
    // wait end at once so the text is printed now, not a cycle later.
    if (!IsQuitText(current) && system.ReadProgress(held.key) != current)
      system.SetChangeEvent(held.event);
  }

  const LSTATUS closeStatus = system.CloseKey(held.key);
  held.key = nullptr;
  if (closeStatus != ERROR_SUCCESS) {
    PrintFailure("RegCloseKey", closeStatus);
    return false;
  }
  const bool eventClosed = system.CloseEvent(held.event);
  held.event = nullptr;
  if (!eventClosed) {
    printf("Error in CloseHandle.%s", LineEnd);
    FlushOutput();
    return false;
  }
  finalText = current;
  return true;
}

bool MonitorProgress(std::wstring& finalText) {
  return MonitorProgressOn(Win32MonitorSystem(), finalText);
}
