// A stand-in for one of the bundle's test programs, for the bundle's own
// tests (tests/wine/bundle_check.sh): copied as unit_tests.exe,
// win32_tests.exe and system_tests.exe beside run-tests.cmd's helper, it
// changes what the real suite changes and leaves it changed, so that only
// run-tests.cmd's restore puts the machine back:
//   - "Excel.Application" registered to StandInHost.exe beside it, with a
//     class of its own (replacing the one registered before), in both
//     registry views;
//   - the hand-off key's "CommandLine", an Office option value and a value
//     under the tests' own key;
//   - the run lock's folder.
// Then, as ULVEX_FAKE_SUITE says for the program of its file name
// ("win32_tests:crash", "system_tests:hang"), it ends as a crash does
// (status 0xC0000005, no XML), hangs after writing "<program>.started"
// beside its XML, or (by default) writes GoogleTest's XML for three tests:
// one passed, one failed ("fail") or passed, one skipped.
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

bool SetText(HKEY root, const std::wstring& path, const wchar_t* name,
             const std::wstring& text, REGSAM view = 0) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE | view,
                      nullptr, &key, nullptr) != ERROR_SUCCESS)
    return false;
  const LSTATUS status = RegSetValueExW(
      key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
      static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
  return status == ERROR_SUCCESS;
}

std::wstring OwnFolder() {
  wchar_t path[MAX_PATH * 4] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
  std::wstring folder(path);
  return folder.substr(0, folder.find_last_of(L'\\'));
}

std::string OwnName() {
  char path[MAX_PATH * 4] = {};
  GetModuleFileNameA(nullptr, path, sizeof path);
  std::string name(path);
  name = name.substr(name.find_last_of('\\') + 1);
  return name.substr(0, name.rfind('.'));
}

bool ChangeTheMachine() {
  GUID fresh;
  wchar_t clsid[64] = {};
  if (FAILED(CoCreateGuid(&fresh)) || StringFromGUID2(fresh, clsid, 64) == 0)
    return false;
  const std::wstring server = L"\"" + OwnFolder() + L"\\StandInHost.exe\"";
  bool ok = true;
  for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
    // The class registered before goes first, as the tests' registration
    // replaces an earlier one: only the class the ProgID names is left.
    wchar_t earlier[64] = {};
    DWORD bytes = sizeof earlier - sizeof(wchar_t);
    HKEY progId = nullptr, classes = nullptr;
    // NOTE: through opened subkeys, not the root: Wine ignores the view
    // flag on the root itself.
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, L"Excel.Application\\CLSID", 0,
                      KEY_QUERY_VALUE | view, &progId) == ERROR_SUCCESS) {
      DWORD type = 0;
      if (RegQueryValueExW(progId, nullptr, nullptr, &type,
                           reinterpret_cast<BYTE*>(earlier),
                           &bytes) == ERROR_SUCCESS &&
          type == REG_SZ && earlier[0] == L'{' &&
          RegOpenKeyExW(HKEY_CLASSES_ROOT, L"CLSID", 0, KEY_ALL_ACCESS | view,
                        &classes) == ERROR_SUCCESS) {
        RegDeleteTreeW(classes, earlier);
        RegCloseKey(classes);
      }
      RegCloseKey(progId);
    }
    ok = SetText(HKEY_CLASSES_ROOT, L"Excel.Application\\CLSID", nullptr,
                 clsid, view) &&
         SetText(HKEY_CLASSES_ROOT,
                 std::wstring(L"CLSID\\") + clsid + L"\\LocalServer32",
                 nullptr, server, view) &&
         ok;
  }
  ok = SetText(HKEY_CURRENT_USER, L"Software\\Quennet\\Ulvex", L"CommandLine",
               L"/taskid=fake") &&
       SetText(HKEY_CURRENT_USER,
               L"Software\\Microsoft\\Office\\16.0\\Common\\General\\",
               L"FakeSuiteOption", L"1") &&
       SetText(HKEY_CURRENT_USER, L"Software\\UlvexTest\\FakeSuite", L"Ran",
               L"yes") &&
       ok;
  wchar_t local[MAX_PATH * 2] = {};
  if (GetEnvironmentVariableW(L"LOCALAPPDATA", local, MAX_PATH * 2) == 0)
    return false;
  const std::wstring quennet = std::wstring(local) + L"\\Quennet";
  CreateDirectoryW(quennet.c_str(), nullptr);
  CreateDirectoryW((quennet + L"\\UlvexCmdLine").c_str(), nullptr);
  return ok;
}

const char* Action(const std::string& program) {
  const char* plan = std::getenv("ULVEX_FAKE_SUITE");
  if (plan == nullptr) return "";
  const std::string key = program + ":";
  const char* at = std::strstr(plan, key.c_str());
  return at == nullptr ? "" : at + key.size();
}

bool StartsWith(const char* text, const char* word) {
  return std::strncmp(text, word, std::strlen(word)) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string xml;
  for (int i = 1; i < argc; ++i)
    if (std::strncmp(argv[i], "--gtest_output=xml:", 19) == 0)
      xml = argv[i] + 19;
  const std::string program = OwnName();
  const char* action = Action(program);
  if (!ChangeTheMachine()) std::printf("%s: could not change it all\n", program.c_str());
  std::fflush(stdout);
  if (StartsWith(action, "crash"))
    TerminateProcess(GetCurrentProcess(), 0xC0000005);
  if (StartsWith(action, "hang")) {
    const std::string started = xml.substr(0, xml.rfind('.')) + ".started";
    if (FILE* mark = std::fopen(started.c_str(), "w")) std::fclose(mark);
    Sleep(INFINITE);
  }
  const bool fail = StartsWith(action, "fail");
  FILE* out = std::fopen(xml.c_str(), "w");
  if (out == nullptr) return 3;
  std::fprintf(
      out,
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<testsuites tests=\"4\" failures=\"%d\" disabled=\"1\" name=\"AllTests\">\n"
      "  <testsuite name=\"FakeTest\" tests=\"4\">\n"
      "    <testcase name=\"Passes\" status=\"run\" result=\"completed\" classname=\"FakeTest\" />\n"
      "    <testcase name=\"MayFail\" status=\"run\" result=\"completed\" classname=\"FakeTest\">%s</testcase>\n"
      "    <testcase name=\"Skips\" status=\"run\" result=\"skipped\" classname=\"FakeTest\">\n"
      "      <skipped message=\"no interactive desktop\"/>\n"
      "    </testcase>\n"
      "    <testcase name=\"DISABLED_Never\" status=\"notrun\" result=\"suppressed\" classname=\"FakeTest\" />\n"
      "  </testsuite>\n"
      "</testsuites>\n",
      fail ? 1 : 0,
      fail ? "\n      <failure message=\"planted\" type=\"\"/>\n    " : "");
  std::fclose(out);
  return fail ? 1 : 0;
}
