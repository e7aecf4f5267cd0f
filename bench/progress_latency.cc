// Measures the progress monitor as the add-in meets it: the real program
// runs with the stand-in host (idle) in place of the spreadsheet host, and
// this benchmark plays the add-in, writing "Progress" and timing what the
// program prints. Prints, never asserts.
//
//   progress_latency.exe [texts] [idle seconds]
//
// - latency: from each write to its whole line on the program's stdout
//   (one text at a time, the program back in its wait before the next);
// - idle: wake-ups per second (one dot per wake-up) and CPU time of the
//   program while nothing changes;
// - burst: 1,000 texts written 20 ms apart, and how many were printed;
// - side by side, in the same run: the floor (a bare change notification
//   between two processes, nothing printed) and the usual alternative (a
//   reader that polls the value once a second, as a script would), with
//   the ratios to the program's latency. On a shared machine a figure
//   alone says little; ratios measured side by side say more.
//
// The two readers are this program started again with --notified or
// --polled.
#include <windows.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include "tests/support/handoff_key.h"
#include "tests/support/install_folder.h"
#include "tests/support/run_program.h"
#include "tests/support/standin_host.h"

namespace {

constexpr int kDefaultTexts = 300;
constexpr int kDefaultIdleSeconds = 10;
constexpr int kBurstTexts = 1000;
constexpr DWORD kBurstGapMs = 20;
constexpr DWORD kLineWaitMs = 5000;
constexpr DWORD kStartWaitMs = 30000;
const char kLoading[] = "Loading Application";
const wchar_t kSuccess[] = L"QUIT - Task SUCCEEDED, process exit code 0";
constexpr int kPolledTexts = 20;
constexpr DWORD kPollMs = 1000;
// Set by the notified reader each time it has read a change.
const wchar_t kSeenEvent[] = L"UlvexBench.NotifiedReaderSaw";

// The child's stdout, read on a thread of its own as it arrives, with the
// arrival time of every chunk.
class OutputLog {
 public:
  explicit OutputLog(HANDLE pipe) : pipe_(pipe) {
    reader_ =
        CreateThread(nullptr, 0, &OutputLog::ReadThread, this, 0, nullptr);
  }
  ~OutputLog() {
    if (reader_ == nullptr) return;
    // NOTE: a process the child started may hold the pipe open: do not
    // wait for the end of the file.
    CancelSynchronousIo(reader_);
    WaitForSingleObject(reader_, 1000);
    CloseHandle(reader_);
  }
  OutputLog(const OutputLog&) = delete;
  OutputLog& operator=(const OutputLog&) = delete;

  /// Waits until text appears at or after from; the time (ms) its last
  /// byte arrived, or a negative value on time-out. at receives its offset.
  double WaitFor(const std::string& text, size_t from, DWORD timeoutMs,
                 size_t* at = nullptr) {
    std::unique_lock<std::mutex> lock(mutex_);
    size_t found = std::string::npos;
    const bool seen =
        changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
          found = from <= bytes_.size() ? bytes_.find(text, from)
                                        : std::string::npos;
          return found != std::string::npos;
        });
    if (!seen) return -1;
    if (at != nullptr) *at = found;
    const size_t end = found + text.size();
    for (const auto& chunk : chunks_)
      if (chunk.first >= end) return chunk.second;
    return -1;
  }

  std::string Snapshot() {
    std::lock_guard<std::mutex> lock(mutex_);
    return bytes_;
  }

 private:
  static DWORD WINAPI ReadThread(void* self) {
    static_cast<OutputLog*>(self)->Read();
    return 0;
  }

  void Read() {
    char buffer[4096];
    for (;;) {
      DWORD got = 0;
      if (!ReadFile(pipe_, buffer, sizeof buffer, &got, nullptr) || got == 0)
        return;
      const double when = ulvex_test::MillisecondsNow();
      std::lock_guard<std::mutex> lock(mutex_);
      bytes_.append(buffer, got);
      chunks_.emplace_back(bytes_.size(), when);
      changed_.notify_all();
    }
  }

  HANDLE pipe_;
  HANDLE reader_ = nullptr;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::string bytes_;
  std::vector<std::pair<size_t, double>> chunks_;  // end offset, time
};

// The add-in's side: the hand-off key kept open for quick writes.
class AddIn {
 public:
  AddIn() {
    RegOpenKeyExW(HKEY_CURRENT_USER, ulvex_test::kHandoffKey, 0, KEY_SET_VALUE,
                  &key_);
  }
  ~AddIn() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  bool ok() const { return key_ != nullptr; }
  /// Writes "Progress"; the time (ms) just before the write.
  double Write(const std::wstring& text) {
    const double when = ulvex_test::MillisecondsNow();
    if (RegSetValueExW(key_, L"Progress", 0, REG_SZ,
                       reinterpret_cast<const BYTE*>(text.c_str()),
                       static_cast<DWORD>((text.size() + 1) *
                                          sizeof(wchar_t))) != ERROR_SUCCESS)
      ++failures_;
    done_ = ulvex_test::MillisecondsNow();
    return when;
  }
  /// When the last write returned (ms).
  double done() const { return done_; }
  int failures() const { return failures_; }

 private:
  HKEY key_ = nullptr;
  double done_ = 0;
  int failures_ = 0;
};

double Percentile(std::vector<double> values, double fraction) {
  if (values.empty()) return -1;
  std::sort(values.begin(), values.end());
  const size_t index = static_cast<size_t>(
      fraction * static_cast<double>(values.size() - 1) + 0.5);
  return values[std::min(index, values.size() - 1)];
}

// "median ... ms, p99 ... ms, max ... ms", or why there is no figure.
std::string Spread(const std::vector<double>& values) {
  if (values.empty()) return "no figure (no text was printed)";
  char text[96];
  snprintf(text, sizeof text, "median %.3f ms, p99 %.3f ms, max %.3f ms",
           Percentile(values, 0.5), Percentile(values, 0.99),
           Percentile(values, 1.0));
  return text;
}

std::wstring Numbered(const wchar_t* prefix, int number) {
  wchar_t text[32];
  swprintf(text, 32, L"%ls-%05d", prefix, number);
  return text;
}

std::string Narrow(const std::wstring& text) {
  return std::string(text.begin(), text.end());  // ASCII texts only
}

struct Child {
  PROCESS_INFORMATION process{};
  HANDLE out = nullptr;
};

bool Start(const std::wstring& commandLine, Child& child) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE write = nullptr;
  if (!CreatePipe(&child.out, &write, &inherit, 1 << 16)) return false;
  SetHandleInformation(child.out, HANDLE_FLAG_INHERIT, 0);
  HANDLE nul = CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                           OPEN_EXISTING, 0, nullptr);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nul;
  startup.hStdOutput = write;
  startup.hStdError = nul;
  std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
  line.push_back(L'\0');
  const BOOL created = CreateProcessW(nullptr, line.data(), nullptr, nullptr,
                                      TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                                      &startup, &child.process);
  CloseHandle(write);
  if (nul != INVALID_HANDLE_VALUE) CloseHandle(nul);
  return created != 0;
}

// The floor: waits for a change of the hand-off key as the program does
// (a notification registered for each change), reads "Progress" and sets
// the seen event; prints nothing.
int NotifiedReader() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, ulvex_test::kHandoffKey, 0,
                    KEY_NOTIFY | KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
    return 2;
  const HANDLE changed = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  const HANDLE seen = OpenEventW(EVENT_MODIFY_STATE, FALSE, kSeenEvent);
  if (changed == nullptr || seen == nullptr) return 2;
  for (;;) {
    if (RegNotifyChangeKeyValue(key, FALSE, REG_NOTIFY_CHANGE_LAST_SET, changed,
                                TRUE) != ERROR_SUCCESS)
      return 2;
    SetEvent(seen);  // registered: ready for the next write
    WaitForSingleObject(changed, INFINITE);
    wchar_t text[4096];
    DWORD bytes = sizeof text;
    RegQueryValueExW(key, L"Progress", nullptr, nullptr,
                     reinterpret_cast<BYTE*>(text), &bytes);
  }
}

// The usual alternative: reads "Progress" once a second and prints each
// new text on a line of its own, as a script's loop would.
int PolledReader() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, ulvex_test::kHandoffKey, 0,
                    KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
    return 2;
  std::wstring last;
  for (bool first = true;; first = false) {
    wchar_t text[4096] = {};
    DWORD bytes = sizeof text - sizeof(wchar_t);
    if (RegQueryValueExW(key, L"Progress", nullptr, nullptr,
                         reinterpret_cast<BYTE*>(text),
                         &bytes) == ERROR_SUCCESS &&
        text != last) {
      last = text;
      if (!first) {
        printf(":%s\n", Narrow(last).c_str());
        fflush(stdout);
      }
    }
    Sleep(kPollMs);
  }
}

std::wstring ThisProgram() {
  wchar_t path[MAX_PATH * 4] = {};
  GetModuleFileNameW(nullptr, path, static_cast<DWORD>(std::size(path)));
  return L"\"" + std::wstring(path) + L"\"";
}

// Write to the notified reader's wake-up and read: the latency of each of
// texts writes (ms); empty when the reader cannot be started.
std::vector<double> MeasureFloor(int texts, int& missed) {
  std::vector<double> latencies;
  const HANDLE seen = CreateEventW(nullptr, FALSE, FALSE, kSeenEvent);
  Child reader;
  if (seen == nullptr || !Start(ThisProgram() + L" --notified", reader))
    return latencies;
  AddIn addIn;
  // The reader's wake-up is seen by the seen event it sets once it has
  // read and registered again.
  if (WaitForSingleObject(seen, kStartWaitMs) == WAIT_OBJECT_0) {
    for (int i = 0; i < texts; ++i) {
      const double written = addIn.Write(Numbered(L"floor", i));
      if (WaitForSingleObject(seen, kLineWaitMs) == WAIT_OBJECT_0)
        latencies.push_back(ulvex_test::MillisecondsNow() - written);
      else
        ++missed;
      Sleep(3 + i % 5);
    }
  }
  TerminateProcess(reader.process.hProcess, 0);
  CloseHandle(reader.out);
  CloseHandle(reader.process.hThread);
  CloseHandle(reader.process.hProcess);
  CloseHandle(seen);
  return latencies;
}

// Write to the polling reader's line: each write at another point of its
// one-second cycle (spread evenly over the cycle).
std::vector<double> MeasurePolled(int texts, int& missed) {
  std::vector<double> latencies;
  Child reader;
  if (!Start(ThisProgram() + L" --polled", reader)) return latencies;
  {
    OutputLog out(reader.out);
    AddIn addIn;
    Sleep(kPollMs);  // its first read is done
    for (int i = 0; i < texts; ++i) {
      Sleep(static_cast<DWORD>(i * 379 % kPollMs));
      const std::wstring text = Numbered(L"polled", i);
      const size_t mark = out.Snapshot().size();
      const double written = addIn.Write(text);
      const double printed = out.WaitFor(":" + Narrow(text), mark, 3 * kPollMs);
      if (printed < 0)
        ++missed;
      else
        latencies.push_back(printed - written);
    }
    TerminateProcess(reader.process.hProcess, 0);
  }
  CloseHandle(reader.process.hThread);
  CloseHandle(reader.process.hProcess);
  return latencies;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && strcmp(argv[1], "--notified") == 0) return NotifiedReader();
  if (argc > 1 && strcmp(argv[1], "--polled") == 0) return PolledReader();
  const int texts = argc > 1 ? std::max(1, atoi(argv[1])) : kDefaultTexts;
  const int idleSeconds =
      argc > 2 ? std::max(1, atoi(argv[2])) : kDefaultIdleSeconds;

  // The same set-up as the system tests: an install folder with an idle
  // add-in workbook script, the stand-in host registered, the key present.
  ulvex_test::InstallFolder install(L"latency");
  const bool madeKey = !ulvex_test::HandoffKeyExists();
  if (!install.AddProgram() || !install.WriteFile(L"App\\Ulvex", "idle\n") ||
      !ulvex_test::CreateHandoffKey() ||
      !ulvex_test::RegisterStandInHost(L"Excel.Application.16") ||
      !ulvex_test::SetStandInScenario(install.File(L"App\\Ulvex"),
                                      install.File(L"host.log"))) {
    printf("set-up failed\n");
    return 2;
  }
  Child child;
  if (!Start(install.QuotedProgram() + L" /taskid=bench", child)) {
    printf("cannot start the program\n");
    return 2;
  }
  int status = 0;
  {
    OutputLog out(child.out);
    AddIn addIn;
    if (!addIn.ok() || out.WaitFor(kLoading, 0, kStartWaitMs) < 0) {
      printf("the program did not reach its wait:\n%s\n",
             out.Snapshot().c_str());
      TerminateProcess(child.process.hProcess, 1);
      return 2;
    }

    // Idle: nothing written; every wake-up prints one dot.
    size_t mark = out.Snapshot().size();
    const double idleCpuStart =
        ulvex_test::ProcessCpuSeconds(child.process.hProcess);
    const double idleStart = ulvex_test::MillisecondsNow();
    Sleep(static_cast<DWORD>(idleSeconds) * 1000);
    const double idleMs = ulvex_test::MillisecondsNow() - idleStart;
    const double idleCpu =
        ulvex_test::ProcessCpuSeconds(child.process.hProcess) - idleCpuStart;
    const std::string afterIdle = out.Snapshot();
    const auto dots =
        std::count(afterIdle.begin() + mark, afterIdle.end(), '.');

    // Latency: one text at a time; the program is back in its wait (a few
    // milliseconds) before the next one.
    std::vector<double> latencies;
    int missed = 0;
    for (int i = 0; i < texts; ++i) {
      const std::wstring text = Numbered(L"latency", i);
      mark = out.Snapshot().size();
      const double written = addIn.Write(text);
      const double printed = out.WaitFor(":" + Narrow(text), mark, kLineWaitMs);
      if (printed < 0)
        ++missed;
      else
        latencies.push_back(printed - written);
      Sleep(3 + i % 5);
    }

    // Burst: a text every 20 ms. Each write starts 20 ms after the one
    // before has returned: a write that stalls in this process (tens of
    // milliseconds, now and then, under Wine) must not leave the next one
    // right behind it, or the two would be one change to the program.
    mark = out.Snapshot().size();
    const double burstStart = ulvex_test::MillisecondsNow();
    std::vector<double> burstWritten(kBurstTexts);
    double previous = burstStart - kBurstGapMs;
    for (int i = 0; i < kBurstTexts; ++i) {
      for (double wait = previous + kBurstGapMs - ulvex_test::MillisecondsNow();
           wait > 0;
           wait = previous + kBurstGapMs - ulvex_test::MillisecondsNow())
        Sleep(static_cast<DWORD>(wait) + (wait < 1 ? 1 : 0));
      burstWritten[i] = addIn.Write(Numbered(L"burst", i));
      previous = addIn.done();
    }
    const double burstMs = ulvex_test::MillisecondsNow() - burstStart;
    out.WaitFor(":" + Narrow(Numbered(L"burst", kBurstTexts - 1)), mark,
                kLineWaitMs);
    // The numbers have a fixed width: no text is the start of another.
    int printedBurst = 0;
    std::string lost;
    std::vector<double> burstLatencies;
    for (int i = 0; i < kBurstTexts; ++i) {
      const double printed =
          out.WaitFor(":" + Narrow(Numbered(L"burst", i)), mark, 0);
      if (printed >= 0) {
        ++printedBurst;
        burstLatencies.push_back(printed - burstWritten[i]);
      } else if (lost.size() < 200) {
        lost += " " + std::to_string(i);
      }
    }
    addIn.Write(kSuccess);
    if (WaitForSingleObject(child.process.hProcess, kStartWaitMs) !=
        WAIT_OBJECT_0)
      TerminateProcess(child.process.hProcess, 255);
    DWORD exitCode = 0;
    GetExitCodeProcess(child.process.hProcess, &exitCode);

    printf("progress monitor, %d texts one at a time:\n", texts);
    printf("  latency write -> line on stdout: %s (%zu measured, %d missed)\n",
           Spread(latencies).c_str(), latencies.size(), missed);
    printf("  targets: median <= 2 ms, p99 <= 10 ms\n");
    printf("idle for %.1f s:\n", idleMs / 1000);
    // NOTE: Wine counts another process's CPU time in 10 ms ticks.
    printf("  %ld dots = %.2f wake-ups/s (target <= 1.1)\n",
           static_cast<long>(dots), dots * 1000.0 / idleMs);
    printf(
        "  CPU %.2f s over the idle period = %.3f CPU s/min "
        "(resolution 0.01 s)\n",
        std::max(0.0, idleCpu), std::max(0.0, idleCpu) * 60000.0 / idleMs);
    printf("burst of %d texts %u ms apart (%.1f s):\n", kBurstTexts,
           static_cast<unsigned>(kBurstGapMs), burstMs / 1000);
    printf("  %d printed, %d lost (target 0)%s%s\n", printedBurst,
           kBurstTexts - printedBurst, lost.empty() ? "" : ":", lost.c_str());
    printf("  latency of the printed ones: %s\n",
           Spread(burstLatencies).c_str());
    printf("failed writes: %d; exit status %lu\n", addIn.failures(),
           static_cast<unsigned long>(exitCode));
    status = exitCode == 0 && missed == 0 ? 0 : 1;

    // The floor and the alternative, with the program's figure beside them.
    int floorMissed = 0, polledMissed = 0;
    const std::vector<double> floor = MeasureFloor(texts, floorMissed);
    const std::vector<double> polled =
        MeasurePolled(kPolledTexts, polledMissed);
    const double program = Percentile(latencies, 0.5);
    const double floorMedian = Percentile(floor, 0.5);
    const double polledMedian = Percentile(polled, 0.5);
    printf("side by side, latency from the write to the reader:\n");
    if (floor.empty()) {
      printf(
          "  floor: no figure (the notified reader did not start or saw no "
          "write)\n");
    } else {
      printf(
          "  floor, a bare change notification between two processes, "
          "nothing printed (%d texts): median %.3f ms, p99 %.3f ms "
          "(%zu measured, %d missed)\n",
          texts, floorMedian, Percentile(floor, 0.99), floor.size(),
          floorMissed);
    }
    if (latencies.empty())
      printf("  UlvexCmdLine: no figure (see above)\n");
    else
      printf("  UlvexCmdLine, to its line on stdout (above): median %.3f ms\n",
             program);
    if (polled.empty()) {
      printf("  polling: no figure (the polling reader printed nothing)\n");
    } else {
      printf(
          "  a reader polling \"Progress\" once a second, as a script would "
          "(%d texts): median %.1f ms, max %.1f ms (%zu measured, %d "
          "missed)\n",
          kPolledTexts, polledMedian, Percentile(polled, 1.0), polled.size(),
          polledMissed);
    }
    if (!floor.empty() && floorMedian > 0 && program > 0)
      printf("  ratio UlvexCmdLine / floor: %.1f\n", program / floorMedian);
    if (!polled.empty() && program > 0)
      printf("  ratio polling / UlvexCmdLine: %.0f\n", polledMedian / program);
  }
  CloseHandle(child.process.hThread);
  CloseHandle(child.process.hProcess);
  ulvex_test::KillStandInHosts();
  ulvex_test::UnregisterStandInHost();
  if (madeKey) ulvex_test::DeleteHandoffKey();
  return status;
}
