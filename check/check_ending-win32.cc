#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

#include "check/check_ending.h"
#include "check/verdicts.h"
#include "check/watchdog.h"
#include "ownership/host_job.h"
#include "ownership/untied_host.h"
#include "platform/stop_signals.h"

namespace {

// How long ending the host, and writing the last lines, may take.
constexpr DWORD kHostEndWaitMs = 2000;
constexpr DWORD kWriteWaitMs = 1000;
// How long an ending waits for the check's thread to finish a line it is
// printing.
constexpr DWORD kOutputWaitMs = 1000;
constexpr DWORD kThreadStopMs = 1000;
// A stop while the host starts waits this long for it to be tied, so that
// it can be ended: a cold start takes 5 to 20 s. A closing console,
// log-off and shutdown leave the process 5 s in all, so 3 s.
constexpr DWORD kTieWaitMs = 30000;
constexpr DWORD kTieWaitSessionMs = 3000;
// A stop once the report is out: the check's own thread is returning.
constexpr DWORD kExitWaitMs = 1000;

// Guards what follows; never held while anything is written.
CRITICAL_SECTION stateLock;
// Held by the check's thread while it prints a result.
CRITICAL_SECTION outputLock;
HANDLE callReturned = nullptr;  // auto-reset
HANDLE watchStop = nullptr;     // manual-reset: the session window's end
HANDLE watchThread = nullptr;
bool prepared = false;

std::atomic<bool> ending{false};
// Guarded by stateLock.
bool noHostChecks = false;
bool finished = false;
int finishedStatus = 0;
bool lettingGo = false;
CheckReport shown(false, {});
const char* nextCheck = kInstallCheck;
std::string call;
std::wstring limit;
std::wstring checkFile;

// What stopped the check; set once, before stopRequested.
DWORD stopKind = 0;
std::atomic<bool> stopRequested{false};

// The bytes to write, "\n" as "\r\n" as the C runtime writes it.
std::string pending;

DWORD WINAPI WriteStandardOutput(void*) {
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), pending.data(),
            static_cast<DWORD>(pending.size()), &written, nullptr);
  return 0;
}

// On a thread of its own, bounded: a pipe that nobody reads must not keep
// the check alive.
void WriteBounded(const std::string& text) {
  for (char c : text) {
    if (c == '\n') pending += '\r';
    pending += c;
  }
  const HANDLE writer =
      CreateThread(nullptr, 0, WriteStandardOutput, nullptr, 0, nullptr);
  if (writer == nullptr) return;
  WaitForSingleObject(writer, kWriteWaitMs);
  CloseHandle(writer);
}

bool Asked(const FILETIME& began) {
  return began.dwLowDateTime != 0 || began.dwHighDateTime != 0;
}

// Ends the host the check started and says what that did: through its job
// once it is tied; before that, the process that passes as the host and
// was created since the check asked for it.
HostEnding EndTheHost() {
  HostEnding host;
  const FILETIME began = HostStartBegan();
  if (!Asked(began)) return host;
  if (EndHostOfRun(kHostEndWaitMs)) {
    host.outcome = HostEnding::Ended;
    return host;
  }
  if (HostOfRunKnown()) {
    host.outcome = HostEnding::Gone;
    return host;
  }
  const UntiedHostEnding untied = EndUntiedHost(began, kHostEndWaitMs);
  host.processId = untied.processId;
  host.error = untied.error;
  switch (untied.outcome) {
    case UntiedHostEnding::Ended:
      host.outcome = HostEnding::EndedUntied;
      break;
    case UntiedHostEnding::Several:
      host.outcome = HostEnding::Several;
      break;
    case UntiedHostEnding::NotEnded:
      host.outcome = HostEnding::NotEnded;
      break;
    default:
      host.outcome = HostEnding::MayStillStart;
      break;
  }
  return host;
}

[[noreturn]] void EndNow(EndingCause cause) {
  // One ending: a second one waits for the first to end the process.
  if (ending.exchange(true)) Sleep(INFINITE);
  // The line the check's thread is printing, if any, goes out whole first;
  // it stops before the next one.
  for (DWORD waited = 0; waited < kOutputWaitMs; waited += 10) {
    if (TryEnterCriticalSection(&outputLock)) {
      LeaveCriticalSection(&outputLock);
      break;
    }
    Sleep(10);
  }
  EnterCriticalSection(&stateLock);
  const CheckReport report = shown;
  const char* const step = lettingGo ? nullptr : nextCheck;
  const std::string inCall = call;
  const std::wstring limitText = limit;
  const std::wstring file = checkFile;
  const bool noHost = noHostChecks;
  LeaveCriticalSection(&stateLock);

  const HostEnding host = EndTheHost();
  if (!file.empty()) DeleteFileW(file.c_str());
  const char* stop = cause == EndingCause::Stopped || stopRequested.load()
                         ? StopKindWords(stopKind)
                         : nullptr;
  const std::wstring limitWords =
      cause == EndingCause::TimeLimit ? limitText : std::wstring();
  std::vector<CheckResult> rest;
  std::string note;
  if (step != nullptr) {
    rest.push_back(stop != nullptr
                       ? JudgeStopped(step, inCall, stop, host)
                       : JudgeNoAnswer(step, inCall, limitWords, host));
    const std::vector<CheckResult> skipped = SkippedAfter(
        step, noHost,
        stop != nullptr ? "not run: the check was stopped"
                        : std::string("not run: ") + step + " did not finish");
    rest.insert(rest.end(), skipped.begin(), skipped.end());
  } else {
    note = HostLetGoNote(inCall.empty() ? "the end of the check" : inCall,
                         limitWords, stop, host);
  }
  const bool stopped = stop != nullptr;
  WriteBounded(report.EndWith(rest, note, stopped));
  const UINT status = static_cast<UINT>(report.StatusWith(rest, stopped));
  // NOTE: ExitProcess would run the C runtime's clean-up while the check's
  // thread, inside a call, may hold its locks.
  TerminateProcess(GetCurrentProcess(), status);
  ExitProcess(status);
}

DWORD TieWait(DWORD kind) {
  switch (kind) {
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
    case kClosingApplications:
      return kTieWaitSessionMs;
    default:
      return kTieWaitMs;
  }
}

// Every stop ends the check; none returns (for a closing console, log-off
// and shutdown the system would end the process with a status of its own
// as soon as the handler did).
void OnStop(DWORD kind) {
  EnterCriticalSection(&stateLock);
  if (finished) {
    const int status = finishedStatus;
    LeaveCriticalSection(&stateLock);
    // The report is out and the check's thread is returning its status.
    Sleep(kExitWaitMs);
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(status));
    ExitProcess(static_cast<UINT>(status));
  }
  if (!stopRequested.load()) {
    stopKind = kind;
    stopRequested.store(true);
  }
  LeaveCriticalSection(&stateLock);
  // A host asked for must be tied before it can be ended: the check's
  // thread signals when the start's call has returned, and stops there.
  if (HostStarting() && CallArmed())
    WaitForSingleObject(callReturned, TieWait(kind));
  EndNow(EndingCause::Stopped);
}

}  // namespace

void PrepareCheckEnding(bool noHost) {
  InitializeCriticalSection(&stateLock);
  InitializeCriticalSection(&outputLock);
  noHostChecks = noHost;
  callReturned = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  watchStop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  prepared = true;
  InstallConsoleStopHandler(OnStop);
  watchThread = StartSessionWatch(watchStop, OnStop, OnStop);
}

void StopStopWatch() {
  if (watchThread == nullptr) return;
  SetEvent(watchStop);
  WaitForSingleObject(watchThread, kThreadStopMs);
  CloseHandle(watchThread);
  watchThread = nullptr;
}

void SetLimitText(const std::wstring& limitText) {
  EnterCriticalSection(&stateLock);
  limit = limitText;
  LeaveCriticalSection(&stateLock);
}

OutputTurn::OutputTurn() {
  if (!prepared) return;
  EnterCriticalSection(&outputLock);
  if (ending.load() || stopRequested.load()) {
    LeaveCriticalSection(&outputLock);
    Sleep(INFINITE);
  }
}

OutputTurn::~OutputTurn() {
  if (prepared) LeaveCriticalSection(&outputLock);
}

void ShowProgress(const CheckReport& report, const char* next) {
  EnterCriticalSection(&stateLock);
  shown = report;
  nextCheck = next;
  LeaveCriticalSection(&stateLock);
}

void BeginHostLetGo() {
  EnterCriticalSection(&stateLock);
  lettingGo = true;
  LeaveCriticalSection(&stateLock);
}

void SetCallInProgress(const std::string& text) {
  EnterCriticalSection(&stateLock);
  call = text;
  LeaveCriticalSection(&stateLock);
}

void SetCheckFile(const std::wstring& path) {
  EnterCriticalSection(&stateLock);
  checkFile = path;
  LeaveCriticalSection(&stateLock);
}

void FinishReport(int status) {
  EnterCriticalSection(&stateLock);
  finished = true;
  finishedStatus = status;
  LeaveCriticalSection(&stateLock);
}

void CallReturned() {
  if (callReturned != nullptr) SetEvent(callReturned);
  StopIfEnding();
}

void StopIfEnding() {
  if (ending.load() || stopRequested.load()) Sleep(INFINITE);
}

bool StopRequested() { return stopRequested.load(); }

void EndCheckNow(EndingCause cause) { EndNow(cause); }
