// Runs a program as a user or a batch file would: a real command line,
// stdout and stderr on separate pipes (or on one, as with "> log 2>&1"), no
// console, a time limit.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <string>

namespace ulvex_test {

struct ProgramRun {
  std::string out;  ///< stdout bytes
  std::string err;  ///< stderr bytes
  DWORD exitCode = 0;
  bool timedOut = false;  ///< killed after the time limit
  bool started = false;
};

/// The running child as a watch hook (RunOptions::watch) sees it.
class RunningChild {
 public:
  RunningChild(HANDLE process, HANDLE outPipe, HANDLE errPipe, std::string& out,
               std::string& err)
      : process_(process),
        outPipe_(outPipe),
        errPipe_(errPipe),
        out_(out),
        err_(err) {}
  HANDLE process() const { return process_; }
  /// Collects what the child has written so far and returns its stdout.
  const std::string& Output();
  /// Waits until stdout from byte offset `from` on contains text. False when
  /// the child ends or timeoutMs passes first.
  bool WaitForOutput(const std::string& text, size_t from, DWORD timeoutMs);
  /// How many bytes the child has written to stdout that nobody has read
  /// yet (a hook that stops reading lets the pipe fill up).
  DWORD UnreadOutput() const;

 private:
  HANDLE process_;
  HANDLE outPipe_;
  HANDLE errPipe_;
  std::string& out_;
  std::string& err_;
};

struct RunOptions {
  DWORD timeoutMs = 30000;
  /// Variables set (or, with an empty optional marker, removed) on top of
  /// this process's environment.
  std::map<std::wstring, std::wstring> setEnv;
  std::map<std::wstring, bool> unsetEnv;
  std::wstring workingDir;
  /// The program to start; when empty, the command line names it. Given,
  /// the command line may be anything, its first word included.
  std::wstring application;
  /// Gives stderr the very handle of stdout, as "> log 2>&1" does: all the
  /// child writes then lands in ProgramRun::out, in the order it reached
  /// the handle, and ProgramRun::err stays empty.
  bool errorsToOutput = false;
  /// Called with the child's handle once it runs (for tests that play the
  /// add-in while the program waits). Returns when its scenario is done.
  void (*whileRunning)(HANDLE process, void* context) = nullptr;
  void* whileRunningContext = nullptr;
  /// Like whileRunning, but the hook can see the child's output so far
  /// (for a scenario that waits for a line before it writes). Runs after
  /// whileRunning; the time limit counts from when it returns.
  std::function<void(RunningChild& child)> watch;
};

/// Starts commandLine (the whole line: quoted program path and arguments)
/// and collects its output until it exits or the time limit passes.
ProgramRun RunProgram(const std::wstring& commandLine,
                      const RunOptions& options = RunOptions());

/// What a program left on a console.
struct ConsoleRun {
  bool consoleMade = false;  ///< this process could make a console
  bool started = false;
  bool timedOut = false;
  DWORD exitCode = 0;
  std::wstring screen;  ///< the console's rows, blanks cut, each with "\n"
};

/// Runs commandLine with a console of this process's own (made for the run
/// and let go after it) as its standard output and error, standard input
/// being NUL, and reads back what the console shows.
ConsoleRun RunInConsole(const std::wstring& commandLine, DWORD timeoutMs);

/// Runs the disabled test `filter` of this very test program in a child
/// process, with the variable childVariable set (the child test skips
/// itself without it): for a test whose subject ends its process.
ProgramRun RunChildTest(const char* childVariable, const wchar_t* filter,
                        RunOptions options = RunOptions());

/// The folder that holds the running test program (and the build's .exe
/// files).
std::wstring BinFolder();

/// "<BinFolder>\UlvexCmdLine.exe", quoted.
std::wstring QuotedProgramPath();

/// Presses Ctrl+C (CTRL_C_EVENT) or Ctrl+Break (CTRL_BREAK_EVENT) in the
/// console of a running program (ConsoleControl.exe does it); true when
/// the event was sent. senderStatus, when given, receives the sender's
/// exit status (255 when it did not start or end in time).
bool SendConsoleControl(HANDLE process, DWORD event,
                        DWORD* senderStatus = nullptr);

/// The program's lines: its stdout and stderr are in text mode, so each
/// "\n" it writes reaches the pipe as "\r\n"; this turns them back.
std::string Lines(std::string text);

/// Wide text as the program writes it to a pipe: the ANSI code page, "?"
/// for each character it lacks.
std::string AnsiBytes(const std::wstring& text);

/// A monotonic clock in milliseconds, for benchmarks.
double MillisecondsNow();

/// The processor time (kernel and user) that the threads a process has now
/// have used, in seconds; -1 when it cannot be read. Summed over its threads
/// because Wine's GetProcessTimes gives any other process the caller's own
/// times; a thread that has ended is not counted.
double ProcessCpuSeconds(HANDLE process);

/// Wide text from UTF-8 and back.
std::wstring Widen(const std::string& text);
std::string Narrow(const std::wstring& text);

}  // namespace ulvex_test
