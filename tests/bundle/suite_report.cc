// The test bundle's helper for run-tests.cmd, which has nothing but cmd:
//
//   SuiteReport guard <stand-in host>
//     Status 2, with the reason, when "Excel.Application" is registered to
//     any program but the bundle's stand-in host (read in HKLM and HKCU
//     classes, 32- and 64-bit view): the suite registers the stand-in under
//     that name and must never take a real host's place. 0 otherwise.
//
//   SuiteReport report <report folder> <program>=<exit status>...
//     Reads <report folder>\<program>.xml (GoogleTest's XML output) for
//     each program, writes <report folder>\report.txt (the machine's facts,
//     passed, failed and skipped per program, the failures' names) and
//     prints it. Status 0 only when every program wrote its results, ended
//     with status 0 and no test failed.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "ownership/server_command.h"

namespace {

constexpr int kRefused = 2;

std::string Narrow(const std::wstring& text) {
  if (text.empty()) return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(),
                                       static_cast<int>(text.size()), nullptr,
                                       0, nullptr, nullptr);
  std::string bytes(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                      &bytes[0], size, nullptr, nullptr);
  return bytes;
}

// ---- guard -----------------------------------------------------------

struct ClassesRoot {
  HKEY root;
  const char* name;
};
const ClassesRoot kClassesRoots[] = {
    {HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE\\Software\\Classes"},
    {HKEY_CURRENT_USER, "HKEY_CURRENT_USER\\Software\\Classes"},
};

bool ReadText(HKEY root, const std::wstring& path, const wchar_t* name,
              REGSAM view, std::wstring* text) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_QUERY_VALUE | view, &key) !=
      ERROR_SUCCESS)
    return false;
  wchar_t data[2048] = {};
  DWORD bytes = sizeof data - sizeof(wchar_t);
  DWORD type = 0;
  const LSTATUS status = RegQueryValueExW(
      key, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &bytes);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ))
    return false;
  *text = data;
  if (type == REG_EXPAND_SZ) {
    wchar_t expanded[2048] = {};
    if (ExpandEnvironmentStringsW(data, expanded, 2048) - 1 < 2048)
      *text = expanded;
  }
  return !text->empty();
}

bool KeyExists(HKEY root, const std::wstring& path, REGSAM view) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_QUERY_VALUE | view, &key) !=
      ERROR_SUCCESS)
    return false;
  RegCloseKey(key);
  return true;
}

// The program a class's server starts: its ServerExecutable, else its
// LocalServer32 command line's program; looked for in the user's classes
// first, then the machine's, as the merged view finds it.
std::wstring ServerProgram(const std::wstring& clsid, REGSAM view) {
  const std::wstring server = L"Software\\Classes\\CLSID\\" + clsid +
                              L"\\LocalServer32";
  for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
    std::wstring text;
    if (ReadText(root, server, L"ServerExecutable", view, &text)) return text;
    if (ReadText(root, server, nullptr, view, &text))
      return ServerImagePath(text);
  }
  return {};
}

std::wstring LongPath(const std::wstring& path) {
  wchar_t full[4096] = {};
  const DWORD length = GetFullPathNameW(path.c_str(), 4096, full, nullptr);
  if (length == 0 || length >= 4096) return path;
  wchar_t longer[4096] = {};
  const DWORD longLength = GetLongPathNameW(full, longer, 4096);
  return longLength == 0 || longLength >= 4096 ? std::wstring(full)
                                               : std::wstring(longer);
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
  const std::wstring left = LongPath(a), right = LongPath(b);
  return CompareStringOrdinal(left.c_str(), static_cast<int>(left.size()),
                              right.c_str(), static_cast<int>(right.size()),
                              TRUE) == CSTR_EQUAL;
}

int Guard(const std::wstring& standIn) {
  for (const ClassesRoot& classes : kClassesRoots) {
    for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
      const char* viewName = view == KEY_WOW64_32KEY ? "32-bit" : "64-bit";
      const std::wstring progId = L"Software\\Classes\\Excel.Application";
      if (!KeyExists(classes.root, progId, view)) continue;
      std::wstring clsid, curVer;
      if (!ReadText(classes.root, progId + L"\\CLSID", nullptr, view, &clsid) &&
          ReadText(classes.root, progId + L"\\CurVer", nullptr, view, &curVer))
        ReadText(classes.root, L"Software\\Classes\\" + curVer + L"\\CLSID",
                 nullptr, view, &clsid);
      const std::wstring program =
          clsid.empty() ? std::wstring() : ServerProgram(clsid, view);
      if (!program.empty() && SamePath(program, standIn)) continue;
      const std::string what =
          program.empty() ? "a class whose program could not be read ("
                          + (clsid.empty() ? std::string("no CLSID")
                                           : Narrow(clsid)) + ")"
                          : Narrow(program);
      std::printf(
          "run-tests: Excel.Application is registered to %s (%s, %s view), "
          "not to this bundle's stand-in host %s.\n"
          "run-tests: the suite registers its stand-in host under that name "
          "and must not take the place of another program: nothing was "
          "changed. Run it on a clean virtual machine or a CI runner.\n",
          what.c_str(), classes.name, viewName, Narrow(standIn).c_str());
      return kRefused;
    }
  }
  return 0;
}

// ---- report: the machine's facts -------------------------------------

std::string MachineValue(const wchar_t* name) {
  std::wstring text;
  if (ReadText(HKEY_LOCAL_MACHINE,
               L"Software\\Microsoft\\Windows NT\\CurrentVersion", name,
               KEY_WOW64_64KEY, &text))
    return Narrow(text);
  return {};
}

std::string WindowsVersion() {
  using RtlGetVersionCall = LONG(WINAPI*)(OSVERSIONINFOW*);
  OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof info;
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  auto getVersion = reinterpret_cast<RtlGetVersionCall>(
      reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")));
  if (getVersion) getVersion(&info);
  std::ostringstream text;
  text << info.dwMajorVersion << '.' << info.dwMinorVersion << '.'
       << info.dwBuildNumber;
  HKEY key = nullptr;
  DWORD ubr = 0, bytes = sizeof ubr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                    L"Software\\Microsoft\\Windows NT\\CurrentVersion", 0,
                    KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) == ERROR_SUCCESS) {
    if (RegQueryValueExW(key, L"UBR", nullptr, nullptr,
                         reinterpret_cast<BYTE*>(&ubr), &bytes) ==
        ERROR_SUCCESS)
      text << '.' << ubr;
    RegCloseKey(key);
  }
  const std::string product = MachineValue(L"ProductName");
  const std::string release = MachineValue(L"DisplayVersion");
  if (!product.empty())
    text << " (" << product << (release.empty() ? "" : " ") << release << ")";
  // Wine names itself through an export of its ntdll; Windows has none.
  using WineVersionCall = const char*(CDECL*)();
  auto wine = reinterpret_cast<WineVersionCall>(
      reinterpret_cast<void*>(GetProcAddress(ntdll, "wine_get_version")));
  if (wine) text << ", under Wine " << wine();
  return text.str();
}

std::string Architecture() {
  SYSTEM_INFO native{};
  GetNativeSystemInfo(&native);
  const bool windows64 =
      native.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64 ||
      native.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_ARM64 ||
      native.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_IA64;
  return std::string(windows64 ? "64-bit" : "32-bit") +
         " Windows; the test programs are " +
         (sizeof(void*) == 8 ? "64-bit" : "32-bit");
}

struct TokenFacts {
  std::string elevated = "unknown";
  std::string integrity = "unknown";
};

TokenFacts ReadToken() {
  TokenFacts facts;
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return facts;
  TOKEN_ELEVATION elevation{};
  TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
  DWORD bytes = 0;
  if (GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation,
                          &bytes)) {
    facts.elevated = elevation.TokenIsElevated ? "yes" : "no";
    if (GetTokenInformation(token, TokenElevationType, &type, sizeof type,
                            &bytes))
      facts.elevated += type == TokenElevationTypeFull ? " (full token of an administrator)"
                        : type == TokenElevationTypeLimited
                            ? " (limited token of an administrator)"
                            : " (no split token)";
  }
  unsigned char buffer[256] = {};
  if (GetTokenInformation(token, TokenIntegrityLevel, buffer, sizeof buffer,
                          &bytes)) {
    const auto* label = reinterpret_cast<TOKEN_MANDATORY_LABEL*>(buffer);
    const DWORD rid = *GetSidSubAuthority(
        label->Label.Sid, *GetSidSubAuthorityCount(label->Label.Sid) - 1u);
    const char* name = rid >= SECURITY_MANDATORY_SYSTEM_RID     ? "System"
                       : rid >= SECURITY_MANDATORY_HIGH_RID     ? "High"
                       : rid > SECURITY_MANDATORY_MEDIUM_RID    ? "Medium Plus"
                       : rid >= SECURITY_MANDATORY_MEDIUM_RID   ? "Medium"
                       : rid >= SECURITY_MANDATORY_LOW_RID      ? "Low"
                                                                : "Untrusted";
    char text[64];
    std::snprintf(text, sizeof text, "%s (0x%04lX)", name,
                  static_cast<unsigned long>(rid));
    facts.integrity = text;
  } else {
    facts.integrity = "none read (the token gives no integrity level)";
  }
  CloseHandle(token);
  return facts;
}

std::string Desktop() {
  HWINSTA station = GetProcessWindowStation();
  wchar_t name[256] = {};
  DWORD bytes = 0;
  USEROBJECTFLAGS flags{};
  if (station == nullptr ||
      !GetUserObjectInformationW(station, UOI_NAME, name, sizeof name - 2,
                                 &bytes) ||
      !GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags,
                                 &bytes))
    return "unknown (the window station could not be read)";
  const bool visible = (flags.dwFlags & WSF_VISIBLE) != 0;
  return std::string(visible ? "yes" : "no") + " (window station " +
         Narrow(name) + (visible ? ", visible" : ", not visible") + ")";
}

// ---- report: GoogleTest's XML ----------------------------------------

struct ProgramResult {
  std::string program;
  long status = 0;
  bool ran = true;  // false: the run was stopped before this program
  bool read = false;
  int passed = 0, failed = 0, skipped = 0, disabled = 0;
  std::vector<std::string> failures;
};

std::string Attribute(const std::string& tag, const char* name) {
  const std::string key = std::string(" ") + name + "=\"";
  const size_t at = tag.find(key);
  if (at == std::string::npos) return {};
  const size_t start = at + key.size();
  const size_t end = tag.find('"', start);
  return end == std::string::npos ? std::string() : tag.substr(start, end - start);
}

void ReadResults(const std::string& xml, ProgramResult* result) {
  for (size_t at = xml.find("<testcase "); at != std::string::npos;
       at = xml.find("<testcase ", at + 1)) {
    const size_t tagEnd = xml.find('>', at);
    if (tagEnd == std::string::npos) break;
    const std::string tag = xml.substr(at, tagEnd - at);
    std::string body;
    if (xml[tagEnd - 1] != '/') {
      const size_t close = xml.find("</testcase>", tagEnd);
      body = xml.substr(tagEnd, close == std::string::npos ? std::string::npos
                                                           : close - tagEnd);
    }
    const std::string name =
        Attribute(tag, "classname") + "." + Attribute(tag, "name");
    const std::string outcome = Attribute(tag, "result");
    if (Attribute(tag, "status") == "notrun" || outcome == "suppressed") {
      ++result->disabled;
    } else if (body.find("<failure") != std::string::npos) {
      ++result->failed;
      result->failures.push_back(name);
    } else if (outcome == "skipped" ||
               body.find("<skipped") != std::string::npos) {
      ++result->skipped;
    } else {
      ++result->passed;
    }
  }
}

bool ReadFile(const std::wstring& path, std::string* bytes) {
  std::ifstream file(path.c_str(), std::ios::binary);
  if (!file) return false;
  std::ostringstream text;
  text << file.rdbuf();
  *bytes = text.str();
  return true;
}

int Report(const std::wstring& folder, int count, wchar_t** programs) {
  std::vector<ProgramResult> results;
  for (int i = 0; i < count; ++i) {
    const std::wstring argument = programs[i];
    const size_t equals = argument.find(L'=');
    ProgramResult result;
    result.program = Narrow(argument.substr(0, equals));
    if (equals != std::wstring::npos) {
      result.ran = argument.compare(equals + 1, std::wstring::npos, L"-") != 0;
      result.status = std::wcstol(argument.c_str() + equals + 1, nullptr, 10);
    }
    std::string xml;
    result.read = ReadFile(folder + L"\\" + argument.substr(0, equals) +
                               L".xml",
                           &xml) &&
                  xml.find("</testsuites>") != std::string::npos;
    if (result.read) ReadResults(xml, &result);
    results.push_back(result);
  }

  const TokenFacts token = ReadToken();
  DWORD session = 0;
  ProcessIdToSessionId(GetCurrentProcessId(), &session);
  std::ostringstream report;
  report << "Ulvex test bundle: report\n\n"
         << "Windows         " << WindowsVersion() << "\n"
         << "architecture    " << Architecture() << "\n"
         << "elevated        " << token.elevated << "\n"
         << "session         " << session << "\n"
         << "integrity level " << token.integrity << "\n"
         << "code pages      ANSI " << GetACP() << ", OEM " << GetOEMCP()
         << "\n"
         << "interactive     " << Desktop() << "\n\n";
  char row[256];
  std::snprintf(row, sizeof row, "%-18s %8s %8s %8s  %s\n", "program",
                "passed", "failed", "skipped", "status");
  report << row;
  int failures = 0;
  std::vector<std::string> problems;
  for (const ProgramResult& result : results) {
    const std::string exe = result.program + ".exe";
    if (!result.ran) {
      std::snprintf(row, sizeof row, "%-18s %8s %8s %8s  not run\n",
                    exe.c_str(), "-", "-", "-");
      problems.push_back(exe + ": not run (the run was stopped before it)");
      ++failures;
    } else if (!result.read) {
      std::snprintf(row, sizeof row, "%-18s %8s %8s %8s  %ld, no results\n",
                    exe.c_str(), "-", "-", "-", result.status);
      problems.push_back(exe + ": ended with status " +
                         std::to_string(result.status) +
                         " before it wrote its results (it crashed, was "
                         "stopped or did not start)");
      ++failures;
    } else {
      std::snprintf(row, sizeof row, "%-18s %8d %8d %8d  %ld\n", exe.c_str(),
                    result.passed, result.failed, result.skipped,
                    result.status);
      for (const std::string& name : result.failures)
        problems.push_back(exe + ": " + name);
      failures += result.failed;
      if (result.failed == 0 && result.status != 0) {
        problems.push_back(exe + ": ended with status " +
                           std::to_string(result.status) +
                           " although no test failed");
        ++failures;
      }
    }
    report << row;
  }
  report << "\n";
  if (problems.empty()) {
    report << "No test failed.\n";
  } else {
    report << "Failures:\n";
    for (const std::string& problem : problems)
      report << "  " << problem << "\n";
  }
  const std::string text = report.str();
  std::ofstream out((folder + L"\\report.txt").c_str(), std::ios::binary);
  for (char c : text) {
    if (c == '\n') out << '\r';
    out << c;
  }
  std::fwrite(text.data(), 1, text.size(), stdout);
  return failures == 0 && out.good() ? 0 : 1;
}

}  // namespace

int main() {
  // The wide command line: paths in any language reach the registry and
  // file calls as typed.
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr) return kRefused;
  if (argc == 3 && std::wcscmp(argv[1], L"guard") == 0) return Guard(argv[2]);
  if (argc >= 3 && std::wcscmp(argv[1], L"report") == 0)
    return Report(argv[2], argc - 3, argv + 3);
  std::fprintf(stderr,
               "usage: SuiteReport guard <stand-in host>\n"
               "       SuiteReport report <folder> <program>=<status>...\n");
  return kRefused;
}
