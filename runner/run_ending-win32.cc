#include <atomic>
#include <cstdio>
#include <cstring>

#include "diagnosis/desktop_check.h"
#include "ownership/host_job.h"
#include "ownership/host_record.h"
#include "platform/time_limit.h"
#include "runner/interrupt.h"
#include "runner/line_end.h"
#include "runner/run_ending.h"

namespace {

constexpr int kExitInterrupted = 1;
constexpr DWORD kNotInterrupted = ~0u;

// How long an interruption leaves the run's own thread to end the run in
// order. That thread notices at once while it waits for the add-in; when
// it is busy elsewhere (inside a call into a host that does not answer)
// the interruption's thread ends the run itself.
constexpr DWORD kGraceMs = 1000;
// While the host starts, the grace lasts until the run's thread has the
// host tied (CoCreateInstance and the read of its window have returned),
// so that the host can be ended. A closing console, log-off and shutdown
// leave the process 5 s in all (SPI_GETHUNGAPPTIMEOUT and
// SPI_GETWAITTOKILLTIMEOUT by default): 3 s leaves room for the lines and
// the host's end.
constexpr DWORD kHostStartWaitSessionMs = 3000;
// Nothing else ends the process after Ctrl+C, Ctrl+Break, the time limit
// or a close request: a cold start of the host takes 5 to 20 s, and 30 s
// covers that with room. A host that takes longer is taken to hang; the
// run then ends without it, and it stays unknown.
constexpr DWORD kHostStartWaitMs = 30000;
// How long the run's thread may take over its ordered ending before the
// interruption's thread ends the run all the same (its thread may be
// blocked writing to a pipe that nobody reads).
constexpr DWORD kOrderlyEndingMs = 3000;
// How long an ending waits for the host to go once it is told to.
constexpr DWORD kHostEndWaitMs = 2000;
// How long the interruption's lines may take to reach standard output, and
// the record's removal to be done.
constexpr DWORD kBoundedStepMs = 500;
// How long an ending that holds the run's thread may take before the
// process ends without it (its lines may then be lost).
constexpr DWORD kLastResortMs = 3000;
// How long an interruption that must not return before the process ends
// waits, once the run's thread is ending the run, for the process to end
// before it ends it itself.
constexpr DWORD kExitWaitMs = 1000;
// How long the end of the run waits for its watching threads.
constexpr DWORD kThreadStopMs = 1000;
// The ending's lines: two lines and a time stamp, and the advice for a
// run without a desktop, which may name two folders.
constexpr size_t kEndingTextSize = 1536;
constexpr size_t kMaxWatchThreads = 2;

HANDLE interruptEvent = nullptr;
// Set when the run's thread begins to end the run in order: the
// interruption's thread then leaves the ending to it.
HANDLE orderlyEnding = nullptr;
// Set at the very end of the run: the watching threads end.
HANDLE threadsStop = nullptr;
// The run's own thread, held by an interruption's thread that ends the run.
HANDLE runThread = nullptr;
HANDLE watchThreads[kMaxWatchThreads] = {};
DWORD watchThreadCount = 0;
ULONGLONG startTick = 0;
char limitText[64] = "";  // the time limit as given (digits, a unit)

std::atomic<DWORD> interruptKind{kNotInterrupted};
std::atomic<bool> reported{false};
std::atomic<bool> hostEndReported{false};
// Set by the one interruption's thread that ends the run and the process.
std::atomic<bool> endingFromHandler{false};
// Who ends the run: its own thread in order, its own thread with the
// add-in's verdict fixed, or the thread of an interruption.
enum Ender { kNobody, kRunThread, kVerdict, kHandler };
std::atomic<int> ender{kNobody};
std::atomic<int> verdictStatus{kExitInterrupted};

// Appends printf-style text to buffer (always terminated, never overrun).
void Append(char* buffer, size_t size, const char* format, const char* a = "",
            const char* b = "", const char* c = "", const char* d = "") {
  const size_t used = strlen(buffer);
  if (used + 1 >= size) return;
  snprintf(buffer + used, size - used, format, a, b, c, d);
}

// The interruption's line, into buffer: for the time limit a progress-style
// line with the time stamp. Only Win32 calls and snprintf: no stdio lock.
void FormatInterruption(char* buffer, size_t size) {
  const DWORD kind = interruptKind.load();
  if (kind != kTimeLimitReached) {
    Append(buffer, size, "%sRun interrupted by %s.%s", LineEnd,
           StopKindWords(kind), LineEnd);
    return;
  }
  SYSTEMTIME now;
  GetLocalTime(&now);
  // The progress lines' "%I:%M:%S", on the 12-hour clock.
  const int hour = now.wHour % 12 == 0 ? 12 : now.wHour % 12;
  char stamp[16];
  snprintf(stamp, sizeof stamp, "%02d:%02d:%02d", hour, now.wMinute,
           now.wSecond);
  Append(buffer, size,
         "%s%s:The Ulvex Task did not end within the time limit (", LineEnd,
         stamp);
  Append(buffer, size, "%s=%s).%s", kTimeLimitVariable, limitText, LineEnd);
  Append(buffer, size, "%s", DesktopAdviceForEnding());
}

void FormatHostEnded(char* buffer, size_t size) {
  Append(buffer, size, "Excel, which this run started, has been ended.%s",
         LineEnd);
}

// Runs routine on a thread of its own and waits for it a bounded time: a
// pipe whose reader stopped reading, or a lock held by the run's held
// thread, must not keep the process alive.
void RunBounded(LPTHREAD_START_ROUTINE routine, void* context) {
  const HANDLE thread = CreateThread(nullptr, 0, routine, context, 0, nullptr);
  if (thread == nullptr) return;
  WaitForSingleObject(thread, kBoundedStepMs);
  CloseHandle(thread);
}

struct PendingWrite {
  char bytes[2 * kEndingTextSize];
  DWORD length;
};

DWORD WINAPI WriteStandardOutput(void* context) {
  const PendingWrite& pending = *static_cast<const PendingWrite*>(context);
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), pending.bytes, pending.length,
            &written, nullptr);
  return 0;
}

DWORD WINAPI RemoveRecord(void*) {
  ForgetHost();
  return 0;
}

// Copies text into pending for WriteStandardOutput. Standard output is in
// text mode for the C runtime, so each "\n" goes out as "\r\n" as the
// runtime writes it.
void PrepareWrite(const char* text, PendingWrite& pending) {
  DWORD length = 0;
  for (const char* at = text; *at != '\0' && length + 2 < sizeof pending.bytes;
       ++at) {
    if (*at == '\n') pending.bytes[length++] = '\r';
    pending.bytes[length++] = *at;
  }
  pending.length = length;
}

DWORD WINAPI LastResort(void* started) {
  SetEvent(started);
  Sleep(kLastResortMs);
  TerminateProcess(GetCurrentProcess(), kExitInterrupted);
  return 0;
}

// Starts a thread that ends the process after kLastResortMs, and waits
// (bounded) until it runs: once the run's thread is held, a lock it holds
// (the loader's, the heap's) could stop this thread or the ones it starts.
void StartLastResort() {
  const HANDLE started = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (started == nullptr) return;
  const HANDLE thread =
      CreateThread(nullptr, 0, LastResort, started, 0, nullptr);
  if (thread != nullptr) {
    WaitForSingleObject(started, kBoundedStepMs);
    CloseHandle(thread);
  }
  // NOTE: the event stays open; the thread may not have set it yet.
}

// Stops the run's own thread where it is: a call into the host that
// returns once the host is gone must not print after the interruption's
// lines. NOTE: SuspendThread only asks for the suspension;
// GetThreadContext returns once the thread has stopped.
void HoldRunThread() {
  if (runThread == nullptr ||
      SuspendThread(runThread) == static_cast<DWORD>(-1))
    return;
  CONTEXT context{};
  context.ContextFlags = CONTEXT_CONTROL;
  GetThreadContext(runThread, &context);
}

// Ends the run from a thread other than the run's own: the lines that are
// still due are made ready, the run's thread is held, then the lines go
// out, the host and the process end. Nothing after the hold takes a C
// runtime lock (the held thread may hold the one of standard output); the
// write and the record's removal run bounded, and a last resort ends the
// process should a lock of the held thread stop this one. The host's end
// is not waited for; the process's end would end it all the same, through
// the job's kill-on-close.
[[noreturn]] void EndFromHandler() {
  // Two interruptions can both come here (the run's thread began its
  // ending and then stalled): the first ends the run and the process, a
  // second must neither write over its pending lines nor end the process
  // before they are out.
  if (endingFromHandler.exchange(true)) Sleep(INFINITE);
  char text[kEndingTextSize] = "";
  if (!reported.exchange(true)) FormatInterruption(text, sizeof text);
  const bool endHost = HostOfRunRunning() && !hostEndReported.exchange(true);
  if (endHost) FormatHostEnded(text, sizeof text);
  static PendingWrite pending;
  PrepareWrite(text, pending);
  StartLastResort();
  HoldRunThread();
  if (pending.length > 0) RunBounded(WriteStandardOutput, &pending);
  // The record would name a process that has ended: no later run needs it.
  if (endHost && EndHostOfRun(0)) RunBounded(RemoveRecord, nullptr);
  // NOTE: ExitProcess would run the C runtime's clean-up on this thread
  // while the run's thread may hold its locks.
  TerminateProcess(GetCurrentProcess(), kExitInterrupted);
  ExitProcess(kExitInterrupted);
}

// After the add-in's final text: the run's thread ends the run with its
// verdict. Should it not have left main within the grace period (a host
// that does not answer its release), the process ends with the verdict
// all the same, the host let go of first.
void LeaveWithVerdict() {
  if (WaitForSingleObject(threadsStop, kGraceMs) == WAIT_OBJECT_0) return;
  ReleaseHostFromJob();
  TerminateProcess(GetCurrentProcess(), verdictStatus.load());
  ExitProcess(verdictStatus.load());
}

DWORD HostStartWait(DWORD kind) {
  switch (kind) {
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
    case kClosingApplications:
      return kHostStartWaitSessionMs;
    default:
      return kHostStartWaitMs;
  }
}

// Claims the ending for the run's own thread. When an interruption's thread
// has claimed it already, that thread writes the lines and ends the process:
// this thread must not cut it short by leaving main, so it waits for that.
void ClaimEndingForRunThread(int claim) {
  int ending = kNobody;
  if (!ender.compare_exchange_strong(ending, claim) && ending == kHandler)
    Sleep(INFINITE);
}

}  // namespace

bool PrepareRunEnding() {
  startTick = GetTickCount64();
  interruptEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  orderlyEnding = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  threadsStop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (interruptEvent == nullptr || orderlyEnding == nullptr ||
      threadsStop == nullptr) {
    interruptEvent = nullptr;
    threadsStop = nullptr;
    return false;
  }
  // Without it the run's thread is not held; the ending is the same.
  if (!DuplicateHandle(GetCurrentProcess(), GetCurrentThread(),
                       GetCurrentProcess(), &runThread,
                       THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT, FALSE, 0))
    runThread = nullptr;
  return true;
}

void Interrupt(DWORD kind) {
  if (ender.load() == kVerdict) return LeaveWithVerdict();
  DWORD none = kNotInterrupted;
  interruptKind.compare_exchange_strong(none, kind);
  SetEvent(interruptEvent);
  // The run's thread checks for an interruption right before it asks for
  // the host and right after it has tied it: whichever side looks second
  // sees the other.
  WaitForSingleObject(orderlyEnding,
                      HostStarting() ? HostStartWait(kind) : kGraceMs);
  int ending = kNobody;
  if (ender.compare_exchange_strong(ending, kHandler)) EndFromHandler();
  // Another interruption's thread ends the run and the process.
  if (ending == kHandler) Sleep(INFINITE);
  if (ending == kVerdict) return LeaveWithVerdict();
  if (WaitForSingleObject(threadsStop, kOrderlyEndingMs) != WAIT_OBJECT_0)
    EndFromHandler();
}

void InterruptUntilEnded(DWORD kind) {
  Interrupt(kind);
  // The run's thread is leaving main, or has left it with the add-in's
  // verdict; its exit ends the process with its own status.
  Sleep(kExitWaitMs);
  TerminateProcess(GetCurrentProcess(), EndingStatus());
  ExitProcess(EndingStatus());
}

int EndingStatus() {
  return ender.load() == kVerdict ? verdictStatus.load() : kExitInterrupted;
}

HANDLE WatchThreadsStop() { return threadsStop; }

void AddWatchThread(HANDLE thread) {
  if (thread != nullptr && watchThreadCount < kMaxWatchThreads)
    watchThreads[watchThreadCount++] = thread;
}

ULONGLONG RunStartTick() { return startTick; }

void SetTimeLimitText(const wchar_t* value) {
  // Valid text is digits and at most one letter: it fits, and it is ASCII.
  for (size_t i = 0; i < sizeof limitText - 1 && value[i] != L'\0'; ++i)
    limitText[i] = static_cast<char>(value[i]);
}

bool StopWatchThreads() {
  if (interruptEvent == nullptr) return true;
  // An interruption that comes now finds the run ending in order.
  ClaimEndingForRunThread(kRunThread);
  SetEvent(orderlyEnding);
  SetEvent(threadsStop);
  if (watchThreadCount == 0) return true;
  return WaitForMultipleObjects(watchThreadCount, watchThreads, TRUE,
                                kThreadStopMs) <
         WAIT_OBJECT_0 + watchThreadCount;
}

void FixVerdict(int status) {
  verdictStatus.store(status);
  ClaimEndingForRunThread(kVerdict);
}

bool VerdictFixed() { return ender.load() == kVerdict; }

HANDLE InterruptEvent() { return interruptEvent; }

bool Interrupted() { return interruptKind.load() != kNotInterrupted; }

int EndInterruptedRun() {
  ClaimEndingForRunThread(kRunThread);
  if (interruptEvent != nullptr) SetEvent(orderlyEnding);
  if (!reported.exchange(true)) {
    char text[kEndingTextSize] = "";
    FormatInterruption(text, sizeof text);
    fflush(stdout);
    fputs(text, stdout);
    fflush(stdout);
  }
  if (EndHostOfRun(kHostEndWaitMs) && !hostEndReported.exchange(true)) {
    ForgetHost();  // it named the host that has just been ended
    char text[kEndingTextSize] = "";
    FormatHostEnded(text, sizeof text);
    fputs(text, stdout);
    fflush(stdout);
  }
  return kExitInterrupted;
}
