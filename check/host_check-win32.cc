#include <windows.h>

#include <string>

#include "check/check_ending.h"
#include "check/host_check.h"
#include "check/registration.h"
#include "check/verdicts.h"
#include "check/watchdog.h"
#include "diagnosis/error_report.h"
#include "diagnosis/error_text.h"
#include "host/auto_wrap.h"
#include "host/launch.h"
#include "ownership/host_job.h"
#include "platform/system_api.h"
#include "platform/win_resource.h"

namespace {

// How long the host may take to end once it has been let go of.
constexpr DWORD kHostExitWaitMs = 10000;
constexpr DWORD kHostEndWaitMs = 2000;
// The check's own file: its name, and what it holds (a line that a host
// shows as text; nothing in it runs).
constexpr wchar_t kCheckFilePrefix[] = L"UlvexCheck-";
constexpr char kCheckFileText[] =
    "# UlvexCheck opens this file to see that Excel can open a file, then "
    "deletes it.\r\n";

ExcelSession session;
// The window's process is the registered host: its end is waited for.
bool processIsHost = false;
bool comEntered = false;
ulvex::ComPtr<IDispatch> workbook;
CallFailure failure;

bool StopRequestedBeforeAsking() { return StopRequested(); }

// Bounds the call that follows (call names it in the report) until Done.
void Bound(const std::string& call) { ArmWatchdog(call); }

void Done() { DisarmWatchdog(); }

// The text of a value the host gave; empty when it has none.
std::wstring TextOf(ulvex::Variant& value) {
  ulvex::Variant text;
  if (FAILED(ulvex::System().VariantChangeType(text.get(), value.get(), 0,
                                               VT_BSTR)) ||
      (*text).bstrVal == nullptr)
    return std::wstring();
  return (*text).bstrVal;
}

// The failed call's facts, for the workbook check.
void Failed(WorkbookFacts& facts, const char* call) {
  facts.failedCall = call;
  facts.status = static_cast<uint32_t>(failure.status);
  facts.words = CodeInWordsText(failure.status);
  facts.hostSaid = HostSaidLine(failure.source, failure.description);
}

// Writes the check's own file under the temporary folder; 0 or why not.
DWORD WriteCheckFile(std::wstring& path) {
  wchar_t folder[MAX_PATH + 1] = {};
  const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
  if (length == 0 || length > MAX_PATH) return GetLastError();
  path = std::wstring(folder, length) + kCheckFilePrefix +
         std::to_wstring(GetCurrentProcessId()) + L".txt";
  ulvex::UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0,
                                           nullptr, CREATE_ALWAYS,
                                           FILE_ATTRIBUTE_TEMPORARY, nullptr));
  if (!file) return GetLastError();
  SetCheckFile(path);  // an ending that cannot wait deletes it
  DWORD written = 0;
  if (!WriteFile(file.get(), kCheckFileText, sizeof kCheckFileText - 1,
                 &written, nullptr))
    return GetLastError();
  return 0;
}

}  // namespace

CheckResult CheckHostStart(const HostCheckContext& context, bool& started) {
  started = false;
  if (TimeLimitPassed())
    return JudgeOutOfTime(kHostStartCheck, context.limitText);
  SetAutoWrapCapture(&failure);
  HostStartFacts facts;
  HostStart start;
  const ULONGLONG begun = GetTickCount64();
  Bound("its start (CoCreateInstance)");
  comEntered = true;
  const StartOutcome outcome =
      StartExcel(session, StopRequestedBeforeAsking, start);
  Done();
  EndHostStart();
  facts.elapsedMs = static_cast<unsigned long>(GetTickCount64() - begun);
  facts.status = static_cast<uint32_t>(start.status);
  if (outcome != StartOutcome::Started) {
    facts.outcome = outcome == StartOutcome::ClassUnknown
                        ? HostStartFacts::ClassUnknown
                        : HostStartFacts::NotCreated;
    facts.words = CodeInWordsText(start.status);
    return JudgeHostStart(facts);
  }
  facts.window = reinterpret_cast<uintptr_t>(start.window);
  facts.processId = start.found.processId;
  processIsHost = start.found.check == HostCheck::Host;
  facts.tied = start.tied;
  facts.untiedError = start.untiedError;
  if (start.found.check == HostCheck::Unchecked)
    facts.notHostReason = "it could not be checked: error " +
                          std::to_string(start.found.detail.error);
  else if (start.found.check != HostCheck::Host)
    facts.notHostReason = HostCheckReason(start.found.check);
  // NOTE: another account's process cannot be opened for its token without
  // a privilege (error 5): then the class's RunAs tells.
  facts.otherUser = start.found.check == HostCheck::OtherUser ||
                    (start.found.check == HostCheck::Unchecked &&
                     start.found.detail.error == ERROR_ACCESS_DENIED &&
                     RunAsNamesAnotherAccount());

  ulvex::Variant version;
  Bound("Version");
  const HRESULT status =
      AutoWrap(DISPATCH_PROPERTYGET, version.get(), session.application.get(),
               const_cast<LPOLESTR>(L"Version"), 0);
  Done();
  if (FAILED(status)) {
    facts.versionStatus = static_cast<uint32_t>(status);
    facts.versionWords = CodeInWordsText(status);
  } else {
    facts.version = TextOf(version);
  }
  const CheckResult result = JudgeHostStart(facts);
  started = result.status != CheckStatus::Fail;
  return result;
}

CheckResult CheckMacros() {
  MacroFacts facts;
  ulvex::Variant security;
  Bound("AutomationSecurity");
  const HRESULT status =
      AutoWrap(DISPATCH_PROPERTYGET, security.get(), session.application.get(),
               const_cast<LPOLESTR>(L"AutomationSecurity"), 0);
  Done();
  ulvex::Variant number;
  if (FAILED(status)) {
    facts.status = static_cast<uint32_t>(status);
    facts.words = CodeInWordsText(status);
  } else if (FAILED(ulvex::System().VariantChangeType(
                 number.get(), security.get(), 0, VT_I4))) {
    facts.status = static_cast<uint32_t>(DISP_E_TYPEMISMATCH);
    facts.words = CodeInWordsText(DISP_E_TYPEMISMATCH);
  } else {
    facts.security = (*number).lVal;
  }
  return JudgeMacros(facts);
}

CheckResult CheckWorkbook(const HostCheckContext& context) {
  WorkbookFacts facts;
  facts.lacksDesktop = context.lacksDesktop;
  facts.fileError = WriteCheckFile(facts.file);
  if (facts.fileError != 0) {
    if (!facts.file.empty()) DeleteFileW(facts.file.c_str());
    SetCheckFile(L"");
    return JudgeWorkbook(facts);
  }
  ulvex::Variant books;
  Bound("Workbooks");
  AutoWrap(DISPATCH_PROPERTYGET, books.get(), session.application.get(),
           const_cast<LPOLESTR>(L"Workbooks"), 0);
  Done();
  ulvex::Bstr pathText(ulvex::System().SysAllocString(facts.file.c_str()));
  if (!TakeHostObject(books, session.workbooks)) {
    if (!FAILED(failure.status)) failure.status = E_NOINTERFACE;
    Failed(facts, "Workbooks");
  } else if (!pathText) {
    failure = CallFailure();
    failure.status = E_OUTOFMEMORY;
    Failed(facts, "Workbooks.Open");
  } else {
    VARIANT path;
    ulvex::System().VariantInit(&path);
    path.vt = VT_BSTR;
    path.bstrVal = pathText.get();
    ulvex::Variant opened;
    Bound("Workbooks.Open");
    AutoWrap(DISPATCH_METHOD, opened.get(), session.workbooks.get(),
             const_cast<LPOLESTR>(L"Open"), 1, path);
    Done();
    if (!TakeHostObject(opened, workbook)) {
      if (!FAILED(failure.status)) failure.status = E_NOINTERFACE;
      Failed(facts, "Workbooks.Open");
    } else {
      // Closed without saving: nothing is written.
      VARIANT saveChanges;
      ulvex::System().VariantInit(&saveChanges);
      saveChanges.vt = VT_BOOL;
      saveChanges.boolVal = VARIANT_FALSE;
      Bound("Close");
      const HRESULT closed =
          AutoWrap(DISPATCH_METHOD, nullptr, workbook.get(),
                   const_cast<LPOLESTR>(L"Close"), 1, saveChanges);
      Done();
      if (FAILED(closed)) Failed(facts, "Close");
    }
  }
  workbook.reset();
  // NOTE: a host that still holds the file open keeps it; it is left in
  // the temporary folder then, and the next check writes a file of its
  // own name.
  DeleteFileW(facts.file.c_str());
  SetCheckFile(L"");
  return JudgeWorkbook(facts);
}

void LetGoOfHost() {
  BeginHostLetGo();
  if (!comEntered) return;
  if (session.application) {
    Bound("Quit");
    AutoWrap(DISPATCH_METHOD, nullptr, session.application.get(),
             const_cast<LPOLESTR>(L"Quit"), 0);
    Done();
  }
  Bound("the release of Excel");
  workbook.reset();
  session.workbooks.reset();
  session.application.reset();
  Done();
  // Leaving COM runs a modal loop while conversations with the host are
  // still open: it is bounded as a call into the host is.
  Bound("leaving COM (CoUninitialize)");
  ulvex::System().CoUninitialize();
  Done();
  if (session.hostProcess && processIsHost &&
      WaitForSingleObject(session.hostProcess.get(), kHostExitWaitMs) ==
          WAIT_TIMEOUT)
    EndHostOfRun(kHostEndWaitMs);
  session.hostProcess.reset();
}
