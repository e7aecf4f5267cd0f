// Runs a program as a user or a batch file would: a real command line,
// stdout and stderr on separate pipes, no console, a time limit.
#pragma once

#include <windows.h>

#include <map>
#include <string>

namespace ulvex_test {

struct ProgramRun {
  std::string out;       ///< stdout bytes
  std::string err;       ///< stderr bytes
  DWORD exitCode = 0;
  bool timedOut = false;  ///< killed after the time limit
  bool started = false;
};

struct RunOptions {
  DWORD timeoutMs = 30000;
  /// Variables set (or, with an empty optional marker, removed) on top of
  /// this process's environment.
  std::map<std::wstring, std::wstring> setEnv;
  std::map<std::wstring, bool> unsetEnv;
  std::wstring workingDir;
  /// Called with the child's handle once it runs (for tests that play the
  /// add-in while the program waits). Returns when its scenario is done.
  void (*whileRunning)(HANDLE process, void* context) = nullptr;
  void* whileRunningContext = nullptr;
};

/// Starts commandLine (the whole line: quoted program path and arguments)
/// and collects its output until it exits or the time limit passes.
ProgramRun RunProgram(const std::wstring& commandLine,
                      const RunOptions& options = RunOptions());

/// The folder that holds the running test program (and the build's .exe
/// files).
std::wstring BinFolder();

/// "<BinFolder>\UlvexCmdLine.exe", quoted.
std::wstring QuotedProgramPath();

/// Wide text from UTF-8 and back.
std::wstring Widen(const std::string& text);
std::string Narrow(const std::wstring& text);

}  // namespace ulvex_test
