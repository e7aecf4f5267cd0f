// The stand-in host seen from a client: activated through the ProgID as
// the program activates the spreadsheet host, called through IDispatch
// without a type library, its call log and its scripted add-in checked.
#include "tests/support/standin_host.h"

#include <gtest/gtest.h>
#include <windows.h>
// Need <windows.h> first.
#include <objbase.h>
#include <oleauto.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "host/message_filter.h"
#include "platform/win_resource.h"
#include "tests/standin_host/standin_ids.h"
#include "tests/support/install_folder.h"
#include "tests/support/run_program.h"

namespace {

using ulvex::Bstr;
using ulvex::ComPtr;
using ulvex::Variant;
using ulvex_test::Narrow;
using ulvex_test::ReadStandInLog;
using ulvex_test::StandInCalls;
using ulvex_test::WaitForStandInExit;

constexpr DWORD kWaitMs = 10000;
constexpr DWORD kPollMs = 20;
constexpr wchar_t kCommandLine[] =
    L"\"C:\\Tools\\UlvexCmdLine.exe\" /taskid=7  Ünïcode";
constexpr char kCommandLineLogged[] =
    "COMMANDLINE \"C:\\Tools\\UlvexCmdLine.exe\" /taskid=7  Ünïcode";
constexpr char kSucceeded[] = "QUIT - Task SUCCEEDED, process exit code 0";

VARIANT I4(LONG value) {
  VARIANT variant;
  VariantInit(&variant);
  variant.vt = VT_I4;
  variant.lVal = value;
  return variant;
}

VARIANT Text(BSTR text) {
  VARIANT variant;
  VariantInit(&variant);
  variant.vt = VT_BSTR;
  variant.bstrVal = text;
  return variant;
}

// One late-bound call as a client without a type library makes it; a
// property write names its value DISPID_PROPERTYPUT unless told not to.
HRESULT Call(IDispatch* object, WORD kind, const wchar_t* name, VARIANT* result,
             std::vector<VARIANT> args = {}, bool namePutValue = true) {
  DISPID id = DISPID_UNKNOWN;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  const HRESULT lookup =
      object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  if (FAILED(lookup)) return lookup;
  DISPID putId = DISPID_PROPERTYPUT;
  DISPPARAMS params{args.data(), nullptr, static_cast<UINT>(args.size()), 0};
  if ((kind & DISPATCH_PROPERTYPUT) && namePutValue) {
    params.rgdispidNamedArgs = &putId;
    params.cNamedArgs = 1;
  }
  return object->Invoke(id, IID_NULL, LOCALE_SYSTEM_DEFAULT, kind, &params,
                        result, nullptr, nullptr);
}

std::wstring ReadProgress(bool& present) {
  wchar_t buffer[4096] = {};
  DWORD bytes = sizeof buffer - sizeof(wchar_t);
  present = RegGetValueW(HKEY_CURRENT_USER, standin::kHandOffKey,
                         standin::kProgressValue, RRF_RT_REG_SZ, nullptr,
                         buffer, &bytes) == ERROR_SUCCESS;
  return present ? buffer : L"";
}

bool LogHas(const std::vector<std::string>& log, const std::string& line) {
  for (const std::string& entry : log)
    if (entry == line) return true;
  return false;
}

class StandInHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ulvex_test::KillStandInHosts();
    ASSERT_TRUE(ulvex_test::RegisterStandInHost(L"Excel.Application.16"));
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    workbook_ = folder_.File(L"App\\Ulvex");
    log_ = folder_.File(L"host.log");
    CreateHandOffKey();
  }

  void TearDown() override {
    ReleaseAll();
    CoUninitialize();
    ulvex_test::KillStandInHosts();
    ulvex_test::UnregisterStandInHost();
    RegDeleteTreeW(HKEY_CURRENT_USER, standin::kHandOffKey);
    RegDeleteTreeW(HKEY_CURRENT_USER, standin::kScenarioKey);
  }

  // The hand-off key as the program leaves it before the launch.
  void CreateHandOffKey() {
    HKEY key = nullptr;
    ASSERT_EQ(
        RegCreateKeyExW(HKEY_CURRENT_USER, standin::kHandOffKey, 0, nullptr, 0,
                        KEY_SET_VALUE, nullptr, &key, nullptr),
        ERROR_SUCCESS);
    RegSetValueExW(key, standin::kCommandLineValue, 0, REG_SZ,
                   reinterpret_cast<const BYTE*>(kCommandLine),
                   sizeof kCommandLine);
    RegSetValueExW(key, standin::kProgressValue, 0, REG_SZ,
                   reinterpret_cast<const BYTE*>(L""), sizeof(wchar_t));
    RegCloseKey(key);
  }

  void UseScript(const std::string& script) {
    ASSERT_TRUE(folder_.WriteFile(L"App\\Ulvex", script));
    ASSERT_TRUE(ulvex_test::SetStandInScenario(workbook_, log_));
  }

  HRESULT Activate(ComPtr<IDispatch>& application) {
    CLSID clsid{};
    const HRESULT found = CLSIDFromProgID(standin::kProgId, &clsid);
    if (FAILED(found)) return found;
    return CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch,
                            application.put_void());
  }

  // The five calls of the launch; their statuses in order (Open's is
  // E_POINTER when there is no workbooks collection to call).
  std::vector<HRESULT> MakeFiveCalls(const std::wstring& openPath) {
    std::vector<HRESULT> statuses;
    IDispatch* application = application_.get();
    statuses.push_back(
        Call(application, DISPATCH_PROPERTYPUT, L"Visible", nullptr, {I4(1)}));
    Variant workbooks;
    statuses.push_back(
        Call(application, DISPATCH_PROPERTYGET, L"Workbooks", workbooks.get()));
    if ((*workbooks).vt == VT_DISPATCH) {
      workbooks_.attach((*workbooks).pdispVal);
      workbooks.get()->vt = VT_EMPTY;  // the reference now lives in workbooks_
    }
    statuses.push_back(Call(application, DISPATCH_PROPERTYPUT,
                            L"FileValidation", nullptr, {I4(0)}));
    statuses.push_back(Call(application, DISPATCH_PROPERTYPUT, L"WindowState",
                            nullptr, {I4(-4137)}));
    Bstr path(SysAllocString(openPath.c_str()));
    statuses.push_back(workbooks_
                           ? Call(workbooks_.get(), DISPATCH_METHOD, L"Open",
                                  opened_.get(), {Text(path.get())})
                           : E_POINTER);
    return statuses;
  }

  void ReleaseAll() {
    VariantClear(opened_.get());
    workbooks_.reset();
    application_.reset();
  }

  // A visible host stays after its last release, as Excel does: once it
  // has seen the release, the test's quit event ends it ("EXIT
  // quit-event" in place of "EXIT released").
  void EndVisibleHost() {
    EXPECT_TRUE(WaitForLogLine("RELEASED"));
    ulvex_test::KillStandInHosts();
  }

  bool WaitForLogLine(const std::string& line) {
    const DWORD start = GetTickCount();
    while (!LogHas(ReadStandInLog(log_), line)) {
      if (GetTickCount() - start >= kWaitMs) return false;
      Sleep(kPollMs);
    }
    return true;
  }

  std::vector<std::string> FiveCallLines(const std::string& openPath) const {
    return {"LOOKUP Visible",        "PUT Visible VT_I4 1",
            "LOOKUP Workbooks",      "GET Workbooks",
            "LOOKUP FileValidation", "PUT FileValidation VT_I4 0",
            "LOOKUP WindowState",    "PUT WindowState VT_I4 -4137",
            "LOOKUP Open",           "METHOD Open VT_BSTR " + openPath};
  }

  ulvex_test::InstallFolder folder_{L"standin"};
  std::wstring workbook_;
  std::wstring log_;
  ComPtr<IDispatch> application_;
  ComPtr<IDispatch> workbooks_;
  Variant opened_;
};

// The add-in quits the host while the client holds it: the host hides and
// ends at the client's last release, as Excel does.
TEST_F(StandInHostTest, LogsTheFiveCallsPlaysTheAddInAndEndsAfterRelease) {
  UseScript(std::string("sleep 50\nprogress Loading\nsleep 50\nprogress ") +
            kSucceeded + "\nquit\n");
  ASSERT_EQ(Activate(application_), S_OK);
  EXPECT_EQ(MakeFiveCalls(workbook_), std::vector<HRESULT>(5, S_OK));
  EXPECT_EQ((*opened_).vt, VT_DISPATCH);  // the opened workbook
  ASSERT_TRUE(WaitForLogLine("HIDDEN"));
  bool present = false;
  EXPECT_EQ(Narrow(ReadProgress(present)), kSucceeded);
  EXPECT_EQ(ulvex_test::StandInHostProcessIds().size(), 1u);

  ReleaseAll();
  ASSERT_TRUE(WaitForStandInExit(kWaitMs));
  const std::string path = Narrow(workbook_);
  std::vector<std::string> expected = {"START -Embedding", "CREATE"};
  for (const std::string& line : FiveCallLines(path)) expected.push_back(line);
  for (const std::string& line : std::vector<std::string>{
           kCommandLineLogged, "PROGRESS Loading",
           std::string("PROGRESS ") + kSucceeded, "ADDIN-DONE", "HIDDEN",
           "RELEASED", "EXIT script"})
    expected.push_back(line);
  EXPECT_EQ(ReadStandInLog(log_), expected);
  EXPECT_EQ(
      StandInCalls(ReadStandInLog(log_)),
      (std::vector<std::string>{
          "PUT Visible VT_I4 1", "GET Workbooks", "PUT FileValidation VT_I4 0",
          "PUT WindowState VT_I4 -4137", "METHOD Open VT_BSTR " + path}));
}

TEST_F(StandInHostTest, ScriptStepsReachTheHandOffKey) {
  struct Case {
    const char* name;
    std::string script;
    bool handOffKey;                      // the key exists when the add-in runs
    bool progressPresent;                 // "Progress" exists afterwards
    std::wstring progress;                // its text
    std::vector<std::string> addInLines;  // log lines after Open's
  };
  const Case cases[] = {
      {"non-ASCII text",
       "progress Grüße – 進捗 ✓ \xF0\x9F\x99\x82\n",
       true,
       true,
       L"Grüße – 進捗 ✓ \U0001F642",
       {kCommandLineLogged, "PROGRESS Grüße – 進捗 ✓ \xF0\x9F\x99\x82"}},
      {"empty text and kept spaces",
       "progress  two  spaces \nsleep 20\nprogress\n",
       true,
       true,
       L"",
       {kCommandLineLogged, "PROGRESS  two  spaces ", "PROGRESS "}},
      {"deleted value",
       "progress x\ndelete-progress\n",
       true,
       false,
       L"",
       {kCommandLineLogged, "PROGRESS x", "DELETE-PROGRESS"}},
      {"idle writes nothing",
       "idle\nprogress never\n",
       true,
       true,
       L"",
       {kCommandLineLogged}},
      {"comments, blank lines and CRLF",
       "# note\r\n\r\n  progress crlf\r\n",
       true,
       true,
       L"crlf",
       {kCommandLineLogged, "PROGRESS crlf"}},
      {"bad lines are logged and skipped",
       "bogus\nsleep soon\nprogress ok\n",
       true,
       true,
       L"ok",
       {"SCRIPT-ERROR line 1: cannot read \"bogus\"",
        "SCRIPT-ERROR line 2: cannot read \"sleep soon\"", kCommandLineLogged,
        "PROGRESS ok"}},
      {"the add-in never creates the key",
       "progress x\ndelete-progress\n",
       false,
       false,
       L"",
       {"COMMANDLINE-MISSING 2", "PROGRESS-FAILED 2 x",
        "DELETE-PROGRESS-FAILED 2"}},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.name);
    if (!row.handOffKey)
      RegDeleteTreeW(HKEY_CURRENT_USER, standin::kHandOffKey);
    UseScript(row.script);
    ASSERT_EQ(Activate(application_), S_OK);
    EXPECT_EQ(MakeFiveCalls(workbook_), std::vector<HRESULT>(5, S_OK));
    ASSERT_TRUE(WaitForLogLine("ADDIN-DONE"));
    bool present = false;
    const std::wstring progress = ReadProgress(present);
    EXPECT_EQ(present, row.progressPresent);
    EXPECT_EQ(Narrow(progress), Narrow(row.progress));
    ReleaseAll();
    EndVisibleHost();
    ASSERT_TRUE(WaitForStandInExit(kWaitMs));

    std::vector<std::string> log = ReadStandInLog(log_);
    const auto open = std::find(log.begin(), log.end(),
                                "METHOD Open VT_BSTR " + Narrow(workbook_));
    ASSERT_NE(open, log.end());
    std::vector<std::string> after(open + 1, log.end());
    std::vector<std::string> expected = row.addInLines;
    for (const char* line : {"ADDIN-DONE", "RELEASED", "EXIT quit-event"})
      expected.push_back(line);
    EXPECT_EQ(after, expected);
    CreateHandOffKey();
  }
}

TEST_F(StandInHostTest, RefusesAndFailsAsScripted) {
  struct Case {
    const char* name;
    std::string script;
    const wchar_t* openFile;  // relative to the install folder
    std::vector<HRESULT> statuses;
    // The log between CREATE and the add-in's first line, with the lines
    // of the five ordinary calls replaced as listed.
    std::vector<std::pair<size_t, std::vector<std::string>>> replaced;
    bool addInRuns;
  };
  const HRESULT ok = S_OK;
  const Case cases[] = {
      {"refused lookup",
       "refuse FileValidation\n",
       L"App\\Ulvex",
       {ok, ok, DISP_E_UNKNOWNNAME, ok, ok},
       {{4, {"LOOKUP FileValidation REFUSED"}}, {5, {}}},
       true},
      {"failed invocation",
       "fail WindowState\n",
       L"App\\Ulvex",
       {ok, ok, ok, DISP_E_EXCEPTION, ok},
       {{7, {"PUT WindowState VT_I4 -4137", "FAILED WindowState 0x80020009"}}},
       true},
      {"failure with a status",
       "fail visible 0x80004005\n",
       L"App\\Ulvex",
       {E_FAIL, ok, ok, ok, ok},
       {{1, {"PUT Visible VT_I4 1", "FAILED Visible 0x80004005"}}},
       true},
      {"failed Open",
       "fail-open\nprogress never\n",
       L"App\\Ulvex",
       {ok, ok, ok, ok, DISP_E_EXCEPTION},
       {{9, {"@open", "FAILED Open 0x80020009"}}},
       false},
      {"missing workbook",
       "progress never\n",
       L"App\\Missing",
       {ok, ok, ok, ok, DISP_E_EXCEPTION},
       {{9, {"@open", "FAILED Open 0x80020009"}}},
       false},
      {"no workbooks collection",
       "refuse Workbooks\n",
       L"App\\Ulvex",
       {ok, DISP_E_UNKNOWNNAME, ok, ok, E_POINTER},
       {{2, {"LOOKUP Workbooks REFUSED"}}, {3, {}}, {8, {}}, {9, {}}},
       false},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.name);
    UseScript(row.script);
    ASSERT_EQ(Activate(application_), S_OK);
    const std::wstring openPath = folder_.File(row.openFile);
    EXPECT_EQ(MakeFiveCalls(openPath), row.statuses);
    if (row.addInRuns) {
      ASSERT_TRUE(WaitForLogLine("ADDIN-DONE"));
    }
    ReleaseAll();
    // Only a host that could not be made visible ends at its last release.
    const bool visible = row.statuses[0] == S_OK;
    if (visible) EndVisibleHost();
    ASSERT_TRUE(WaitForStandInExit(kWaitMs));
    bool present = false;
    EXPECT_EQ(Narrow(ReadProgress(present)), "");

    std::vector<std::vector<std::string>> lines;
    for (const std::string& line : FiveCallLines(Narrow(openPath)))
      lines.push_back({line});
    for (const auto& change : row.replaced) {
      lines[change.first] = change.second;
      for (std::string& line : lines[change.first])
        if (line == "@open") line = "METHOD Open VT_BSTR " + Narrow(openPath);
    }
    std::vector<std::string> expected = {"START -Embedding", "CREATE"};
    for (const auto& group : lines)
      expected.insert(expected.end(), group.begin(), group.end());
    if (row.addInRuns) {
      expected.push_back(kCommandLineLogged);
      expected.push_back("ADDIN-DONE");
    }
    expected.push_back("RELEASED");
    expected.push_back(visible ? "EXIT quit-event" : "EXIT released");
    EXPECT_EQ(ReadStandInLog(log_), expected);
  }
}

TEST_F(StandInHostTest, AnswersOtherCallsAsAHostWould) {
  UseScript("idle\n");
  ASSERT_EQ(Activate(application_), S_OK);
  Variant workbooksValue;
  ASSERT_EQ(Call(application_.get(), DISPATCH_PROPERTYGET, L"Workbooks",
                 workbooksValue.get()),
            S_OK);
  IDispatch* workbooks = (*workbooksValue).pdispVal;
  Bstr word(SysAllocString(L"abc"));

  struct Case {
    const char* name;
    bool onWorkbooks;
    WORD kind;
    const wchar_t* member;
    std::vector<VARIANT> args;
    bool namePutValue;
    HRESULT status;
    std::string result;  // "VT_BOOL 0" etc. for a successful read
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"write without the named value",
       false,
       DISPATCH_PROPERTYPUT,
       L"Visible",
       {I4(1)},
       false,
       DISP_E_PARAMNOTFOUND,
       "",
       {"LOOKUP Visible", "PUT Visible named=none VT_I4 1",
        "FAILED Visible 0x80020004"}},
      {"value of the wrong type",
       false,
       DISPATCH_PROPERTYPUT,
       L"Visible",
       {Text(word.get())},
       true,
       DISP_E_TYPEMISMATCH,
       "",
       {"LOOKUP Visible", "PUT Visible VT_BSTR abc",
        "FAILED Visible 0x80020005"}},
      {"window state out of range",
       false,
       DISPATCH_PROPERTYPUT,
       L"WindowState",
       {I4(5)},
       true,
       DISP_E_EXCEPTION,
       "",
       {"LOOKUP WindowState", "PUT WindowState VT_I4 5",
        "FAILED WindowState 0x80020009"}},
      {"names in any case",
       false,
       DISPATCH_PROPERTYPUT,
       L"vISIBLE",
       {I4(1)},
       true,
       S_OK,
       "",
       {"LOOKUP vISIBLE", "PUT Visible VT_I4 1"}},
      {"read back as a Boolean",
       false,
       DISPATCH_PROPERTYGET,
       L"Visible",
       {},
       true,
       S_OK,
       "VT_BOOL -1",
       {"LOOKUP Visible", "GET Visible"}},
      {"read with an argument",
       false,
       DISPATCH_PROPERTYGET,
       L"WindowState",
       {I4(1)},
       true,
       DISP_E_BADPARAMCOUNT,
       "",
       {"LOOKUP WindowState", "GET WindowState VT_I4 1",
        "FAILED WindowState 0x8002000e"}},
      {"property called as a method",
       false,
       DISPATCH_METHOD,
       L"Visible",
       {},
       true,
       DISP_E_MEMBERNOTFOUND,
       "",
       {"LOOKUP Visible", "METHOD Visible", "FAILED Visible 0x80020003"}},
      {"read-only collection written",
       false,
       DISPATCH_PROPERTYPUT,
       L"Workbooks",
       {I4(1)},
       true,
       DISP_E_MEMBERNOTFOUND,
       "",
       {"LOOKUP Workbooks", "PUT Workbooks VT_I4 1",
        "FAILED Workbooks 0x80020003"}},
      {"unknown member",
       false,
       DISPATCH_METHOD,
       L"Calculate",
       {},
       true,
       DISP_E_UNKNOWNNAME,
       "",
       {"LOOKUP Calculate UNKNOWN"}},
      {"member of the other object",
       true,
       DISPATCH_PROPERTYPUT,
       L"Visible",
       {I4(1)},
       true,
       DISP_E_UNKNOWNNAME,
       "",
       {"LOOKUP Visible UNKNOWN"}},
      {"Open without a path",
       true,
       DISPATCH_METHOD,
       L"Open",
       {},
       true,
       DISP_E_PARAMNOTOPTIONAL,
       "",
       {"LOOKUP Open", "METHOD Open", "FAILED Open 0x8002000f"}},
      {"Open with a number",
       true,
       DISPATCH_METHOD | DISPATCH_PROPERTYGET,
       L"Open",
       {I4(12)},
       true,
       DISP_E_EXCEPTION,
       "",
       {"LOOKUP Open", "METHOD|GET Open VT_I4 12", "FAILED Open 0x80020009"}},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.name);
    const size_t before = ReadStandInLog(log_).size();
    Variant result;
    EXPECT_EQ(Call(row.onWorkbooks ? workbooks : application_.get(), row.kind,
                   row.member, result.get(), row.args, row.namePutValue),
              row.status);
    if (!row.result.empty()) {
      ASSERT_EQ((*result).vt, VT_BOOL);
      EXPECT_EQ("VT_BOOL " + std::to_string((*result).boolVal), row.result);
    }
    const std::vector<std::string> log = ReadStandInLog(log_);
    EXPECT_EQ(std::vector<std::string>(log.begin() + before, log.end()),
              row.lines);
  }
}

// Excel's lifetime: told to close (its add-in quits it, its user closes its
// window) while a client holds any of its objects, the host hides and ends
// at the last release; the test's quit event and the safety exit end it
// even then.
TEST_F(StandInHostTest, EndsOnItsOwnAndCanBeStartedAgain) {
  struct Case {
    const char* name;
    std::string script;
    DWORD safetyExitMs;  // 0: the default
    bool askToQuit;      // KillStandInHosts while the client holds it
    bool endsWhileHeld;  // otherwise it hides and ends at the release
    const char* lastLine;
  };
  const Case cases[] = {
      {"script quits with the client holding it: hides, ends at the release",
       "progress bye\nquit\n", 0, false, false, "EXIT script"},
      {"user closes the window with the client holding it",
       "progress bye\nclose\n", 0, false, false, "EXIT closed"},
      {"asked to quit with the client holding it", "idle\n", 0, true, true,
       "EXIT quit-event"},
      {"silent client", "idle\n", 1500, false, true, "EXIT safety"},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.name);
    UseScript(row.script);
    if (row.safetyExitMs != 0) {
      ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, standin::kScenarioKey,
                                standin::kSafetyExitValue, REG_DWORD,
                                &row.safetyExitMs, sizeof row.safetyExitMs),
                ERROR_SUCCESS);
    }
    ASSERT_EQ(Activate(application_), S_OK);
    EXPECT_EQ(MakeFiveCalls(workbook_), std::vector<HRESULT>(5, S_OK));
    ASSERT_TRUE(WaitForLogLine("ADDIN-DONE"));
    if (row.askToQuit) ulvex_test::KillStandInHosts();
    if (!row.endsWhileHeld) {
      ASSERT_TRUE(WaitForLogLine("HIDDEN"));
      EXPECT_EQ(ulvex_test::StandInHostProcessIds().size(), 1u);
      // Hidden, it still answers.
      EXPECT_EQ(Call(application_.get(), DISPATCH_PROPERTYPUT, L"WindowState",
                     nullptr, {I4(-4137)}),
                S_OK);
      ReleaseAll();
    }
    ASSERT_TRUE(WaitForStandInExit(kWaitMs));
    EXPECT_EQ(ReadStandInLog(log_).back(), row.lastLine);
    if (row.endsWhileHeld) {
      // The client's references now lead nowhere; calls fail, none hangs.
      EXPECT_TRUE(FAILED(Call(application_.get(), DISPATCH_PROPERTYPUT,
                              L"Visible", nullptr, {I4(1)})));
      ReleaseAll();
    }

    // The class was revoked cleanly: COM starts a new host, which, not
    // visible, ends at its last release.
    UseScript("idle\n");
    ASSERT_EQ(Activate(application_), S_OK);
    EXPECT_EQ(Call(application_.get(), DISPATCH_PROPERTYPUT, L"Visible",
                   nullptr, {I4(0)}),
              S_OK);
    ReleaseAll();
    ASSERT_TRUE(WaitForStandInExit(kWaitMs));
    EXPECT_EQ(ReadStandInLog(log_).back(), "EXIT released");
  }
}

// A workbook whose start-up code does the add-in's work: the steps are
// played before Open returns; a quit among them fails the call as a server
// that has disconnected its objects, and the host, hidden, lives on while
// the client holds it.
TEST_F(StandInHostTest, StartUpCodeRunsInsideOpen) {
  const struct {
    const char* name;
    std::string script;
    HRESULT openStatus;
    const char* lastLine;
  } rows[] = {
      {"success text, then quit",
       std::string("in-open\nprogress ") + kSucceeded + "\nquit\n",
       RPC_E_DISCONNECTED, "EXIT script"},
      {"success text, host left open",
       std::string("in-open\nprogress ") + kSucceeded + "\n", S_OK,
       "EXIT quit-event"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    UseScript(row.script);
    ASSERT_EQ(Activate(application_), S_OK);
    const std::vector<HRESULT> statuses = MakeFiveCalls(workbook_);
    ASSERT_EQ(statuses.size(), 5u);
    EXPECT_EQ(statuses[4], row.openStatus);
    // Written before Open returned.
    bool present = false;
    EXPECT_EQ(Narrow(ReadProgress(present)), kSucceeded);
    ReleaseAll();
    if (SUCCEEDED(row.openStatus)) EndVisibleHost();
    ASSERT_TRUE(WaitForStandInExit(kWaitMs));
    const std::vector<std::string> log = ReadStandInLog(log_);
    const auto open = std::find(log.begin(), log.end(),
                                "METHOD Open VT_BSTR " + Narrow(workbook_));
    const auto done = std::find(log.begin(), log.end(), "ADDIN-DONE");
    EXPECT_LT(open, done);
    EXPECT_EQ(log.back(), row.lastLine);
    CreateHandOffKey();
  }
}

// A busy host's own message filter answers "retry later"; the client's
// filter (the run's own) makes the call again, and it goes through once the
// host is no longer busy. A call that fails once fails only once.
// NOTE: Wine made the rejected call again even without a client filter,
// where Windows fails it with RPC_E_SERVERCALL_RETRYLATER.
TEST_F(StandInHostTest, ABusyHostSaysRetryLater) {
  UseScript("busy 1500\nfail-once WindowState 0x800AC472\nidle\n");
  RegisterBusyHostFilter();
  ASSERT_EQ(Activate(application_), S_OK);
  EXPECT_EQ(Call(application_.get(), DISPATCH_PROPERTYPUT, L"WindowState",
                 nullptr, {I4(-4137)}),
            static_cast<HRESULT>(0x800AC472));
  EXPECT_TRUE(LogHas(ReadStandInLog(log_), "BUSY-REJECTED"));
  EXPECT_EQ(Call(application_.get(), DISPATCH_PROPERTYPUT, L"WindowState",
                 nullptr, {I4(-4137)}),
            S_OK);
  ReleaseAll();
  IMessageFilter* previous = nullptr;
  CoRegisterMessageFilter(nullptr, &previous);
  ASSERT_TRUE(WaitForStandInExit(kWaitMs));
  EXPECT_EQ(StandInCalls(ReadStandInLog(log_)),
            (std::vector<std::string>{"PUT WindowState VT_I4 -4137",
                                      "PUT WindowState VT_I4 -4137"}));
}

TEST_F(StandInHostTest, EveryClientGetsAHostOfItsOwn) {
  UseScript("idle\n");
  double startMs[3] = {};
  for (double& ms : startMs) {
    LARGE_INTEGER frequency, before, after;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&before);
    ComPtr<IDispatch> application;
    ASSERT_EQ(Activate(application), S_OK);
    QueryPerformanceCounter(&after);
    ms = 1000.0 * (after.QuadPart - before.QuadPart) / frequency.QuadPart;
    // Not visible: the host ends at its last release.
    ASSERT_EQ(Call(application.get(), DISPATCH_PROPERTYPUT, L"Visible", nullptr,
                   {I4(0)}),
              S_OK);
    if (&ms == &startMs[0]) {
      // A second client while the first holds its host: a second process.
      ComPtr<IDispatch> second;
      ASSERT_EQ(Activate(second), S_OK);
      const std::vector<std::string> log = ReadStandInLog(log_);
      EXPECT_EQ(std::count(log.begin(), log.end(), "START -Embedding"), 2);
    }
    application.reset();
    ASSERT_TRUE(WaitForStandInExit(kWaitMs));
  }
  // Measured, not asserted: start-up cost of a host under this system.
  std::printf("activation ms: first %.1f, then %.1f, %.1f\n", startMs[0],
              startMs[1], startMs[2]);
}

TEST_F(StandInHostTest, RegistrationAsAClientFindsIt) {
  struct Case {
    const char* name;
    bool (*registerHost)();
    bool hasCurVer;
    bool progIdFound;
    bool created;
  };
  const Case cases[] = {
      {"with CurVer",
       [] { return ulvex_test::RegisterStandInHost(L"Excel.Application.16"); },
       true, true, true},
      {"without CurVer", [] { return ulvex_test::RegisterStandInHost(L""); },
       false, true, true},
      {"server cannot start", ulvex_test::RegisterBrokenHost, true, true,
       false},
      {"not registered",
       [] {
         ulvex_test::UnregisterStandInHost();
         return true;
       },
       false, false, false},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.name);
    UseScript("idle\n");
    ASSERT_TRUE(row.registerHost());
    wchar_t curVer[64] = {};
    DWORD bytes = sizeof curVer;
    const LSTATUS read =
        RegGetValueW(HKEY_CLASSES_ROOT, L"Excel.Application\\CurVer", nullptr,
                     RRF_RT_REG_SZ, nullptr, curVer, &bytes);
    EXPECT_EQ(read == ERROR_SUCCESS, row.hasCurVer);
    if (row.hasCurVer) {
      EXPECT_STREQ(curVer, L"Excel.Application.16");
    }
    CLSID clsid{};
    EXPECT_EQ(SUCCEEDED(CLSIDFromProgID(standin::kProgId, &clsid)),
              row.progIdFound);
    const HRESULT created = Activate(application_);
    EXPECT_EQ(SUCCEEDED(created), row.created) << std::hex << created;
    ReleaseAll();
    EXPECT_TRUE(WaitForStandInExit(kWaitMs));
  }
}

}  // namespace
