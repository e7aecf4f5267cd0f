#include "tests/standin_host/script.h"

#include <cstdlib>

#include "tests/standin_host/call_log.h"
#include "tests/standin_host/standin_ids.h"

namespace standin {

namespace {

constexpr DWORD kMaxSleepMs = 600000;

std::wstring Utf8ToWide(const std::string& text) {
  if (text.empty()) return {};
  const int count = MultiByteToWideChar(
      CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (count <= 0) return {};
  std::wstring wide(static_cast<size_t>(count), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                      &wide[0], count);
  return wide;
}

bool ParseNumber(const std::string& text, unsigned long max,
                 unsigned long& value) {
  if (text.empty() || text.size() > 10) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  value = std::strtoul(text.c_str(), nullptr, 10);
  return value <= max;
}

// "0x80020009" (any case) as an HRESULT; only failure codes make sense.
bool ParseStatus(const std::string& text, HRESULT& status) {
  if (text.size() < 3 || text.size() > 10 || text[0] != '0' ||
      (text[1] != 'x' && text[1] != 'X'))
    return false;
  char* end = nullptr;
  const unsigned long value = std::strtoul(text.c_str() + 2, &end, 16);
  if (*end != '\0') return false;
  status = static_cast<HRESULT>(value);
  return FAILED(status);
}

// The hand-off key, which the add-in never creates.
LSTATUS OpenHandOff(REGSAM access, HKEY& key) {
  return RegOpenKeyExW(HKEY_CURRENT_USER, kHandOffKey, 0, access, &key);
}

void LogCommandLine() {
  HKEY key = nullptr;
  LSTATUS status = OpenHandOff(KEY_QUERY_VALUE, key);
  std::wstring text;
  if (status == ERROR_SUCCESS) {
    DWORD bytes = 0;
    status = RegQueryValueExW(key, kCommandLineValue, nullptr, nullptr, nullptr,
                              &bytes);
    if (status == ERROR_SUCCESS) {
      std::wstring buffer(bytes / sizeof(wchar_t) + 1, L'\0');
      bytes = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
      status = RegQueryValueExW(key, kCommandLineValue, nullptr, nullptr,
                                reinterpret_cast<BYTE*>(&buffer[0]), &bytes);
      buffer.resize(bytes / sizeof(wchar_t));
      text = buffer.c_str();  // up to the first NUL
    }
    RegCloseKey(key);
  }
  if (status == ERROR_SUCCESS)
    LogLine("COMMANDLINE " + LogText(text));
  else
    LogLine("COMMANDLINE-MISSING " + std::to_string(status));
}

void WriteProgress(const std::wstring& text) {
  HKEY key = nullptr;
  LSTATUS status = OpenHandOff(KEY_SET_VALUE, key);
  if (status == ERROR_SUCCESS) {
    status =
        RegSetValueExW(key, kProgressValue, 0, REG_SZ,
                       reinterpret_cast<const BYTE*>(text.c_str()),
                       static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
  }
  if (status == ERROR_SUCCESS)
    LogLine("PROGRESS " + LogText(text));
  else
    LogLine("PROGRESS-FAILED " + std::to_string(status) + " " + LogText(text));
}

void DeleteProgress() {
  HKEY key = nullptr;
  LSTATUS status = OpenHandOff(KEY_SET_VALUE, key);
  if (status == ERROR_SUCCESS) {
    status = RegDeleteValueW(key, kProgressValue);
    RegCloseKey(key);
  }
  if (status == ERROR_SUCCESS)
    LogLine("DELETE-PROGRESS");
  else
    LogLine("DELETE-PROGRESS-FAILED " + std::to_string(status));
}

// Starts IdleProcess.exe from the host's own folder, as an add-in starts
// a helper (or a browser for a link): a child of the host, which the host's
// client has no business ending.
void StartChild(DWORD idleMs) {
  wchar_t self[MAX_PATH * 4] = {};
  const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH * 4);
  std::wstring path(self, length < MAX_PATH * 4 ? length : 0);
  path.erase(path.find_last_of(L'\\') + 1);
  std::wstring command =
      L"\"" + path + L"IdleProcess.exe\" " + std::to_wstring(idleMs);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child{};
  if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE,
                      CREATE_NO_WINDOW, nullptr, nullptr, &startup, &child)) {
    LogLine("CHILD-FAILED " + std::to_string(GetLastError()));
    return;
  }
  LogLine("CHILD " + std::to_string(child.dwProcessId));
  CloseHandle(child.hThread);
  CloseHandle(child.hProcess);
}

}  // namespace

bool ReadScriptFile(const std::wstring& path, std::string& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size{};
  bool ok = GetFileSizeEx(file, &size) && size.QuadPart <= kMaxScriptBytes;
  if (ok) {
    bytes.assign(static_cast<size_t>(size.QuadPart), '\0');
    DWORD got = 0;
    ok = bytes.empty() ||
         (ReadFile(file, &bytes[0], static_cast<DWORD>(bytes.size()), &got,
                   nullptr) &&
          got == bytes.size());
  }
  CloseHandle(file);
  return ok;
}

Script ParseScript(const std::string& text) {
  Script script;
  size_t at = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  for (int number = 1; at <= text.size(); ++number) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    at = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line[first] == '#') continue;
    line.erase(0, first);
    const size_t space = line.find(' ');
    const std::string command = line.substr(0, space);
    // The argument is the rest of the line after one space, kept as it
    // stands (a progress text may end in spaces).
    const std::string argument =
        space == std::string::npos ? std::string() : line.substr(space + 1);
    const std::string where = "line " + std::to_string(number) + ": ";
    unsigned long value = 0;
    if (command == "progress") {
      script.steps.push_back({ScriptStep::kProgress, Utf8ToWide(argument), 0});
    } else if (command == "sleep" &&
               ParseNumber(argument, kMaxSleepMs, value)) {
      script.steps.push_back(
          {ScriptStep::kSleep, {}, static_cast<DWORD>(value)});
    } else if (command == "delete-progress" && argument.empty()) {
      script.steps.push_back({ScriptStep::kDeleteProgress, {}, 0});
    } else if (command == "idle" && argument.empty()) {
      script.steps.push_back({ScriptStep::kIdle, {}, 0});
    } else if (command == "quit" && argument.empty()) {
      script.steps.push_back({ScriptStep::kQuit, {}, 0});
    } else if (command == "crash" && argument.empty()) {
      script.steps.push_back({ScriptStep::kCrash, {}, 0});
    } else if (command == "child" &&
               ParseNumber(argument, kMaxSleepMs, value)) {
      script.steps.push_back(
          {ScriptStep::kChild, {}, static_cast<DWORD>(value)});
    } else if (command == "refuse" && !argument.empty() &&
               argument.find(' ') == std::string::npos) {
      script.refused.push_back(Utf8ToWide(argument));
    } else if (command == "fail" && !argument.empty()) {
      const size_t gap = argument.find(' ');
      MemberFailure failure{Utf8ToWide(argument.substr(0, gap)),
                            DISP_E_EXCEPTION};
      if (gap == std::string::npos ||
          ParseStatus(argument.substr(gap + 1), failure.status))
        script.failures.push_back(failure);
      else
        script.errors.push_back(where + "bad status in \"" + line + "\"");
    } else if (command == "fail-open" && argument.empty()) {
      script.failures.push_back({L"Open", DISP_E_EXCEPTION});
    } else if (command == "hang-open" && argument.empty()) {
      script.hangOpen = true;
    } else if (command == "fail-open-started" && argument.empty()) {
      script.failOpenStarted = true;
    } else if (command == "stay" && argument.empty()) {
      script.stay = true;
    } else if (command == "slow-start" &&
               ParseNumber(argument, kMaxSleepMs, value)) {
      script.slowStartMs = static_cast<DWORD>(value);
    } else if (command == "automation-security" &&
               ParseNumber(argument, 3, value) && value >= 1) {
      script.automationSecurity = static_cast<LONG>(value);
    } else if (command == "slow-release" &&
               ParseNumber(argument, kMaxSleepMs, value)) {
      script.slowReleaseMs = static_cast<DWORD>(value);
    } else if (command == "slow" && argument.find(' ') != std::string::npos &&
               ParseNumber(argument.substr(argument.find(' ') + 1), kMaxSleepMs,
                           value)) {
      script.slowCalls.push_back(
          {Utf8ToWide(argument.substr(0, argument.find(' '))),
           static_cast<DWORD>(value)});
    } else {
      script.errors.push_back(where + "cannot read \"" + line + "\"");
    }
  }
  return script;
}

ScriptStep::Kind PlayScript(const std::vector<ScriptStep>& steps, HANDLE stop) {
  LogCommandLine();
  for (const ScriptStep& step : steps) {
    switch (step.kind) {
      case ScriptStep::kProgress:
        WriteProgress(step.text);
        break;
      case ScriptStep::kSleep:
        if (WaitForSingleObject(stop, step.ms) == WAIT_OBJECT_0)
          return ScriptStep::kIdle;
        break;
      case ScriptStep::kDeleteProgress:
        DeleteProgress();
        break;
      case ScriptStep::kChild:
        StartChild(step.ms);
        break;
      case ScriptStep::kIdle:
      case ScriptStep::kQuit:
      case ScriptStep::kCrash:
        return step.kind;
    }
  }
  return ScriptStep::kIdle;
}

}  // namespace standin
