#include "tests/support/run_program.h"

#include <tlhelp32.h>

#include <vector>

namespace ulvex_test {

namespace {

struct Pipe {
  HANDLE read = nullptr;
  HANDLE write = nullptr;
};

bool MakePipe(Pipe& pipe) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  if (!CreatePipe(&pipe.read, &pipe.write, &inherit, 1 << 16)) return false;
  // Only the child's end is inherited.
  SetHandleInformation(pipe.read, HANDLE_FLAG_INHERIT, 0);
  return true;
}

// Reads what the pipe holds now, without waiting for more.
void DrainAvailable(HANDLE pipe, std::string& into) {
  for (;;) {
    DWORD available = 0;
    if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) ||
        available == 0)
      return;
    std::vector<char> buffer(available);
    DWORD got = 0;
    if (!ReadFile(pipe, buffer.data(), available, &got, nullptr) || got == 0)
      return;
    into.append(buffer.data(), got);
  }
}

std::vector<wchar_t> BuildEnvironment(const RunOptions& options) {
  std::map<std::wstring, std::wstring> variables;
  // Keep the case of names as given but compare them case-insensitively.
  auto findName = [&variables](const std::wstring& name) {
    for (auto it = variables.begin(); it != variables.end(); ++it)
      if (_wcsicmp(it->first.c_str(), name.c_str()) == 0) return it;
    return variables.end();
  };
  wchar_t* block = GetEnvironmentStringsW();
  for (const wchar_t* entry = block; *entry; entry += wcslen(entry) + 1) {
    const wchar_t* equals = wcschr(entry + 1, L'=');
    if (equals == nullptr) continue;
    variables[std::wstring(entry, equals)] = equals + 1;
  }
  FreeEnvironmentStringsW(block);
  for (const auto& unset : options.unsetEnv) {
    auto it = findName(unset.first);
    if (it != variables.end()) variables.erase(it);
  }
  for (const auto& set : options.setEnv) {
    auto it = findName(set.first);
    if (it != variables.end()) variables.erase(it);
    variables[set.first] = set.second;
  }
  std::vector<wchar_t> environment;
  for (const auto& variable : variables) {
    environment.insert(environment.end(), variable.first.begin(),
                       variable.first.end());
    environment.push_back(L'=');
    environment.insert(environment.end(), variable.second.begin(),
                       variable.second.end());
    environment.push_back(L'\0');
  }
  environment.push_back(L'\0');
  return environment;
}

}  // namespace

const std::string& RunningChild::Output() {
  DrainAvailable(outPipe_, out_);
  DrainAvailable(errPipe_, err_);
  return out_;
}

DWORD RunningChild::UnreadOutput() const {
  DWORD available = 0;
  if (!PeekNamedPipe(outPipe_, nullptr, 0, nullptr, &available, nullptr))
    return 0;
  return available;
}

bool RunningChild::WaitForOutput(const std::string& text, size_t from,
                                 DWORD timeoutMs) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  for (;;) {
    const std::string& out = Output();
    if (from <= out.size() && out.find(text, from) != std::string::npos)
      return true;
    if (WaitForSingleObject(process_, 1) == WAIT_OBJECT_0) {
      // Whatever the child wrote before it ended is in the pipe now.
      const std::string& last = Output();
      return from <= last.size() && last.find(text, from) != std::string::npos;
    }
    if (GetTickCount64() > deadline) return false;
  }
}

ProgramRun RunProgram(const std::wstring& commandLine,
                      const RunOptions& options) {
  ProgramRun run;
  Pipe out, err;
  if (!MakePipe(out) || !MakePipe(err)) return run;
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE nul =
      CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  &inherit, OPEN_EXISTING, 0, nullptr);

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nul;
  startup.hStdOutput = out.write;
  startup.hStdError = options.errorsToOutput ? out.write : err.write;

  std::vector<wchar_t> environment = BuildEnvironment(options);
  std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
  line.push_back(L'\0');
  PROCESS_INFORMATION process{};
  const BOOL created = CreateProcessW(
      options.application.empty() ? nullptr : options.application.c_str(),
      line.data(), nullptr, nullptr, TRUE,
      CREATE_UNICODE_ENVIRONMENT | CREATE_NO_WINDOW, environment.data(),
      options.workingDir.empty() ? nullptr : options.workingDir.c_str(),
      &startup, &process);
  CloseHandle(out.write);
  CloseHandle(err.write);
  if (nul != INVALID_HANDLE_VALUE) CloseHandle(nul);
  if (!created) {
    CloseHandle(out.read);
    CloseHandle(err.read);
    return run;
  }
  run.started = true;
  CloseHandle(process.hThread);

  if (options.whileRunning != nullptr)
    options.whileRunning(process.hProcess, options.whileRunningContext);
  if (options.watch) {
    RunningChild child(process.hProcess, out.read, err.read, run.out, run.err);
    options.watch(child);
  }

  const ULONGLONG deadline = GetTickCount64() + options.timeoutMs;
  for (;;) {
    DrainAvailable(out.read, run.out);
    DrainAvailable(err.read, run.err);
    if (WaitForSingleObject(process.hProcess, 2) == WAIT_OBJECT_0) break;
    if (GetTickCount64() > deadline) {
      TerminateProcess(process.hProcess, 255);
      WaitForSingleObject(process.hProcess, 5000);
      run.timedOut = true;
      break;
    }
  }
  // The child has ended, so all it wrote is in the pipes. Do not wait for
  // end-of-file: a process it started (a COM server) may hold the pipe.
  DrainAvailable(out.read, run.out);
  DrainAvailable(err.read, run.err);
  GetExitCodeProcess(process.hProcess, &run.exitCode);
  CloseHandle(process.hProcess);
  CloseHandle(out.read);
  CloseHandle(err.read);
  return run;
}

ConsoleRun RunInConsole(const std::wstring& commandLine, DWORD timeoutMs) {
  ConsoleRun run;
  // AllocConsole points this process's standard handles at the console;
  // they are put back afterwards.
  const DWORD kStandard[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE,
                             STD_ERROR_HANDLE};
  HANDLE saved[3];
  for (int i = 0; i < 3; ++i) saved[i] = GetStdHandle(kStandard[i]);
  FreeConsole();
  if (!AllocConsole()) return run;
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  const HANDLE screen = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    &inherit, OPEN_EXISTING, 0, nullptr);
  const HANDLE nul =
      CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  &inherit, OPEN_EXISTING, 0, nullptr);
  run.consoleMade = screen != INVALID_HANDLE_VALUE;
  if (run.consoleMade) {
    // Room for the whole run, so that nothing scrolls out of the buffer.
    SetConsoleScreenBufferSize(screen, COORD{160, 400});
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nul;
    startup.hStdOutput = screen;
    startup.hStdError = screen;
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(L'\0');
    PROCESS_INFORMATION process{};
    run.started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE,
                                 0, nullptr, nullptr, &startup, &process) != 0;
    if (run.started) {
      CloseHandle(process.hThread);
      if (WaitForSingleObject(process.hProcess, timeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 255);
        WaitForSingleObject(process.hProcess, 5000);
        run.timedOut = true;
      }
      GetExitCodeProcess(process.hProcess, &run.exitCode);
      CloseHandle(process.hProcess);
    }
    CONSOLE_SCREEN_BUFFER_INFO info{};
    GetConsoleScreenBufferInfo(screen, &info);
    std::vector<wchar_t> row(static_cast<size_t>(info.dwSize.X));
    for (SHORT y = 0; y <= info.dwCursorPosition.Y; ++y) {
      DWORD read = 0;
      ReadConsoleOutputCharacterW(screen, row.data(), info.dwSize.X,
                                  COORD{0, y}, &read);
      std::wstring text(row.data(), read);
      text.erase(text.find_last_not_of(L' ') + 1);
      run.screen += text + L"\n";
    }
    CloseHandle(screen);
  }
  if (nul != INVALID_HANDLE_VALUE) CloseHandle(nul);
  FreeConsole();
  for (int i = 0; i < 3; ++i) SetStdHandle(kStandard[i], saved[i]);
  return run;
}

std::wstring BinFolder() {
  wchar_t path[MAX_PATH * 4] = {};
  GetModuleFileNameW(nullptr, path, static_cast<DWORD>(std::size(path)));
  std::wstring folder(path);
  const size_t cut = folder.find_last_of(L"\\/");
  return cut == std::wstring::npos ? std::wstring(L".") : folder.substr(0, cut);
}

ProgramRun RunChildTest(const char* childVariable, const wchar_t* filter,
                        RunOptions options) {
  options.setEnv[Widen(childVariable)] = L"1";
  wchar_t self[MAX_PATH * 4] = {};
  GetModuleFileNameW(nullptr, self, static_cast<DWORD>(std::size(self)));
  return RunProgram(L"\"" + std::wstring(self) +
                        L"\" --gtest_also_run_disabled_tests --gtest_filter=" +
                        filter,
                    options);
}

std::wstring QuotedProgramPath() {
  return L"\"" + BinFolder() + L"\\UlvexCmdLine.exe\"";
}

bool SendConsoleControl(HANDLE process, DWORD event, DWORD* senderStatus) {
  const std::wstring command = L"\"" + BinFolder() +
                               L"\\ConsoleControl.exe\" " +
                               std::to_wstring(GetProcessId(process)) +
                               (event == CTRL_BREAK_EVENT ? L" break" : L" c");
  RunOptions options;
  options.timeoutMs = 10000;
  const ProgramRun run = RunProgram(command, options);
  const bool ran = run.started && !run.timedOut;
  if (senderStatus != nullptr) *senderStatus = ran ? run.exitCode : 255;
  return ran && run.exitCode == 0;
}

std::string Lines(std::string text) {
  for (size_t at = text.find("\r\n"); at != std::string::npos;
       at = text.find("\r\n", at))
    text.erase(at, 1);
  return text;
}

std::string AnsiBytes(const std::wstring& text) {
  if (text.empty()) return {};
  const int size = WideCharToMultiByte(
      CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), static_cast<int>(text.size()),
      nullptr, 0, "?", nullptr);
  std::string bytes(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(),
                      static_cast<int>(text.size()), &bytes[0], size, "?",
                      nullptr);
  return bytes;
}

double MillisecondsNow() {
  static const LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  return 1000.0 * static_cast<double>(counter.QuadPart) /
         static_cast<double>(frequency.QuadPart);
}

std::wstring Widen(const std::string& text) {
  if (text.empty()) return {};
  const int length = MultiByteToWideChar(
      CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                      &wide[0], length);
  return wide;
}

std::string Narrow(const std::wstring& text) {
  if (text.empty()) return {};
  const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(),
                                         static_cast<int>(text.size()), nullptr,
                                         0, nullptr, nullptr);
  std::string narrow(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                      &narrow[0], length, nullptr, nullptr);
  return narrow;
}

double ProcessCpuSeconds(HANDLE process) {
  const DWORD processId = GetProcessId(process);
  if (processId == 0) return -1;
  // The snapshot lists every thread of the system, each with its process.
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return -1;
  auto seconds = [](const FILETIME& t) {
    return static_cast<double>((ULONGLONG{t.dwHighDateTime} << 32) |
                               t.dwLowDateTime) /
           1e7;
  };
  double total = 0;
  int read = 0;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Thread32First(snapshot, &entry); more;
       more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID != processId) continue;
    const HANDLE thread =
        OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ThreadID);
    if (thread == nullptr) continue;  // it ended since the snapshot
    FILETIME created, exited, kernel, user;
    if (GetThreadTimes(thread, &created, &exited, &kernel, &user)) {
      total += seconds(kernel) + seconds(user);
      ++read;
    }
    CloseHandle(thread);
  }
  CloseHandle(snapshot);
  return read > 0 ? total : -1;
}

}  // namespace ulvex_test
