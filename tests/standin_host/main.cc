// StandInHost.exe: an out-of-process automation server that tests register
// as "Excel.Application". COM starts it with "-Embedding"; it logs every
// call it receives and plays a scripted add-in (see README.md). It ends on
// its own when the client has let go of it and the add-in is done, when it
// is asked to quit, or when no client has called for a long time.
#include <windows.h>
// Needs <windows.h> first.
#include <objbase.h>

#include <atomic>
#include <string>

#include "tests/standin_host/call_log.h"
#include "tests/standin_host/host.h"
#include "tests/standin_host/standin_ids.h"

namespace {

using standin::LogLine;
using standin::State;

// How long an exiting host waits for the add-in thread.
constexpr DWORD kAddInJoinMs = 5000;
// The status of a host that the script tells to fail hard.
constexpr UINT kCrashExitCode = 3;
// How long the way out may take: joining the add-in, revoking the class,
// leaving COM. Past it the host ends at once (see ExitWatchdog).
constexpr DWORD kExitBoundMs = 8000;
// The status of a host whose way out stalled.
constexpr UINT kStalledExitCode = 4;

// The step of the way out that runs now, for the log of a stalled one.
std::atomic<const char*> exitStep{"join"};

// A host asked to end must end, as a real one does. NOTE: under Wine,
// leaving COM can wait for a call from the client that arrives just then
// (its release, racing a "quit" step) and that the apartment, no longer
// served, never dispatches; the log names the step that stalled.
DWORD WINAPI ExitWatchdog(void*) {
  Sleep(kExitBoundMs);
  LogLine(std::string("EXIT-STALLED ") + exitStep.load());
  TerminateProcess(GetCurrentProcess(), kStalledExitCode);
  return 0;
}

std::wstring ReadScenarioText(const wchar_t* name) {
  wchar_t buffer[MAX_PATH * 4] = {};
  DWORD bytes = sizeof buffer - sizeof(wchar_t);
  if (RegGetValueW(HKEY_CURRENT_USER, standin::kScenarioKey, name,
                   RRF_RT_REG_SZ, nullptr, buffer, &bytes) != ERROR_SUCCESS)
    return {};
  return buffer;
}

DWORD ReadSafetyExitMs() {
  DWORD value = 0;
  DWORD bytes = sizeof value;
  if (RegGetValueW(HKEY_CURRENT_USER, standin::kScenarioKey,
                   standin::kSafetyExitValue, RRF_RT_REG_DWORD, nullptr, &value,
                   &bytes) != ERROR_SUCCESS)
    return standin::kDefaultSafetyExitMs;
  return value;
}

// The class to serve: the one "Excel.Application" names now. The tests
// register a new class for each registration, because under Wine a server
// that was killed leaves its class unable to start again until the Wine
// server restarts, and the program under test ends its host on an
// interruption.
CLSID ServedClass() {
  wchar_t text[64] = {};
  DWORD bytes = sizeof text - sizeof(wchar_t);
  CLSID served = standin::kHostClsid;
  const std::wstring key = std::wstring(standin::kProgId) + L"\\CLSID";
  if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, RRF_RT_REG_SZ,
                   nullptr, text, &bytes) == ERROR_SUCCESS &&
      SUCCEEDED(CLSIDFromString(text, &served)))
    return served;
  return standin::kHostClsid;
}

// The arguments after the program's own name.
std::wstring Arguments() {
  const wchar_t* line = GetCommandLineW();
  bool quoted = false;
  for (; *line != L'\0'; ++line) {
    if (*line == L'"') quoted = !quoted;
    if (!quoted && (*line == L' ' || *line == L'\t')) break;
  }
  while (*line == L' ' || *line == L'\t') ++line;
  return line;
}

// The window whose handle "Hwnd" gives, as a client reads the host's main
// window to find its process. NOTE: a message-only window, because Wine
// without a display cannot create a top-level one; it names the process
// all the same.
HWND CreateMainWindow() {
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = DefWindowProcW;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = L"UlvexStandInHostMain";
  RegisterClassExW(&windowClass);
  return CreateWindowExW(0, windowClass.lpszClassName, L"Stand-in host", 0, 0,
                         0, 0, 0, HWND_MESSAGE, nullptr, instance, nullptr);
}

void PumpMessages() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

// The host's own message filter: while it is busy (for busy <ms> after the
// application object was made), every incoming call is answered "retry
// later", as Excel answers while it starts, shows a dialog or edits a cell;
// the caller's filter decides whether and when to call again.
class BusyHostFilter : public IMessageFilter {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (out == nullptr) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) ||
        IsEqualIID(riid, IID_IMessageFilter)) {
      *out = static_cast<IMessageFilter*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  DWORD STDMETHODCALLTYPE HandleInComingCall(DWORD, HTASK, DWORD,
                                             LPINTERFACEINFO) override {
    standin::HostState& state = State();
    if (!state.activated ||
        GetTickCount() - state.createdTick >= state.directives.busyMs)
      return SERVERCALL_ISHANDLED;
    if (!rejected_) LogLine("BUSY-REJECTED");
    rejected_ = true;
    return SERVERCALL_RETRYLATER;
  }
  // The host calls no one.
  DWORD STDMETHODCALLTYPE RetryRejectedCall(HTASK, DWORD, DWORD) override {
    return static_cast<DWORD>(-1);
  }
  DWORD STDMETHODCALLTYPE MessagePending(HTASK, DWORD, DWORD) override {
    return PENDINGMSG_WAITDEFPROCESS;
  }

 private:
  bool rejected_ = false;
};

// Why a host that was told to close (the add-in's Application.Quit, the
// user's closing of its window, the client's Quit) ends, once no client
// holds it.
const char* ClosedReason() {
  const standin::HostState& state = State();
  if (state.closeByScript) return "closed";
  if (state.quitByScript) return "script";
  return "released";
}

// Serves calls until a reason to end comes up, and names it. The lifetime
// is Excel's: a host that is told to close while a client holds any of its
// objects hides and ends at the last release (at once with no client);
// a visible host (or one told to stay) goes on after its last release
// until it is told to close.
const char* Serve(HANDLE quit, DWORD safetyMs) {
  standin::HostState& state = State();
  const HANDLE handles[] = {quit, state.wake};
  bool hidden = false;
  for (;;) {
    PumpMessages();
    if (state.crashByScript) return "crash";
    const bool closed =
        state.quitByScript || state.closeByScript || state.quitCalled;
    const bool released = state.activated && state.liveObjects == 0;
    if (closed && released && !state.addInRunning) return ClosedReason();
    if (closed && !released && !hidden) {
      LogLine("HIDDEN");
      hidden = true;
    }
    if (released && !state.addInRunning && !state.userControl &&
        !state.directives.stay)
      return "released";
    // While the add-in plays, its end wakes the loop; afterwards a client
    // that stays silent this long is taken to be gone.
    DWORD waitMs = INFINITE;
    if (!state.addInRunning) {
      const DWORD idle = GetTickCount() - state.lastActivity;
      if (idle >= safetyMs) return "safety";
      waitMs = safetyMs - idle;
    }
    const DWORD woken = MsgWaitForMultipleObjectsEx(
        2, handles, waitMs, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    if (woken == WAIT_OBJECT_0) return "quit-event";
    if (woken == WAIT_FAILED) return "wait-failed";
  }
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  standin::HostState& state = State();
  state.lastActivity = GetTickCount();
  standin::SetLogPath(ReadScenarioText(standin::kLogValue));
  LogLine("START " + standin::LogText(Arguments()));

  // Refusals and failures apply to calls made before the workbook opens,
  // so the script is read now as well as when Open is called.
  const std::wstring scriptPath = ReadScenarioText(standin::kScriptValue);
  std::string bytes;
  if (!scriptPath.empty() && standin::ReadScriptFile(scriptPath, bytes)) {
    state.directives = standin::ParseScript(bytes);
    for (const std::string& error : state.directives.errors)
      LogLine("SCRIPT-ERROR " + error);
    state.directives.steps.clear();
  }

  const std::wstring quitName =
      standin::kQuitEventPrefix + std::to_wstring(GetCurrentProcessId());
  HANDLE quit = CreateEventW(nullptr, TRUE, FALSE, quitName.c_str());
  state.wake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  state.stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (quit == nullptr || state.wake == nullptr || state.stop == nullptr) {
    LogLine("EXIT no-events " + std::to_string(GetLastError()));
    return 1;
  }

  // A host slow to start: its client waits in CoCreateInstance meanwhile.
  if (state.directives.slowStartMs > 0) {
    LogLine("SLOW-START");
    Sleep(state.directives.slowStartMs);
  }
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (state.directives.busyMs > 0) {
    static BusyHostFilter filter;
    IMessageFilter* previous = nullptr;
    CoRegisterMessageFilter(&filter, &previous);
  }
  // Single use, as the spreadsheet host registers itself: every client
  // that creates the class gets a host process of its own.
  DWORD cookie = 0;
  const HRESULT registered =
      CoRegisterClassObject(ServedClass(), standin::ClassFactory(),
                            CLSCTX_LOCAL_SERVER, REGCLS_SINGLEUSE, &cookie);
  if (FAILED(registered)) {
    CoUninitialize();
    LogLine("EXIT not-registered " + standin::HexStatus(registered));
    return 1;
  }

  state.window = CreateMainWindow();
  const char* reason = Serve(quit, ReadSafetyExitMs());
  if (state.crashByScript) {
    // Gone at once, as a host that fails hard: no release, no clean-up,
    // the client's objects simply lose their server. Only the class is
    // revoked first, so that later clients still start a host of their own.
    CoRevokeClassObject(cookie);
    LogLine(std::string("EXIT ") + reason);
    TerminateProcess(GetCurrentProcess(), kCrashExitCode);
  }

  // Revoke first, so that no new client reaches a host on its way out;
  // leaving COM disconnects the objects a client may still hold.
  state.exiting = true;
  HANDLE watchdog = CreateThread(nullptr, 0, ExitWatchdog, nullptr, 0, nullptr);
  if (watchdog != nullptr) CloseHandle(watchdog);
  SetEvent(state.stop);
  if (state.addInThread != nullptr) {
    WaitForSingleObject(state.addInThread, kAddInJoinMs);
    CloseHandle(state.addInThread);
  }
  exitStep = "revoke";
  CoRevokeClassObject(cookie);
  exitStep = "uninitialize";
  CoUninitialize();
  exitStep = "end";
  LogLine(std::string("EXIT ") + reason);
  CloseHandle(quit);
  return 0;
}
