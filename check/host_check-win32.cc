#include <windows.h>

#include <string>

#include "check/host_check.h"
#include "check/registration.h"
#include "check/verdicts.h"
#include "check/watchdog.h"
#include "host/auto_wrap.h"
#include "diagnosis/error_report.h"
#include "diagnosis/error_text.h"
#include "ownership/host_job.h"
#include "host/launch.h"
#include "platform/system_api.h"
#include "platform/win_resource.h"

namespace {

// How long the host may take to end once it has been let go of.
constexpr DWORD kHostExitWaitMs = 10000;
constexpr DWORD kHostEndWaitMs = 2000;

ExcelSession session;
// The window's process is the registered host: its end is waited for.
bool processIsHost = false;
ulvex::ComPtr<IDispatch> workbook;
CallFailure failure;

bool NeverInterrupted() { return false; }

// Bounds the call that follows (call names it in the report) until Done.
void Bound(const HostCheckContext& context, const char* id,
           const std::string& call) {
  ArmWatchdog(
      context.report->EndWith(JudgeNoAnswer(id, call, L"")),
      context.report->EndWith(JudgeNoAnswer(id, call, context.limitText)));
}

void Done() { DisarmWatchdog(); }

// Quit, the release, COM left; then the host's process, which a host
// answers Quit with, is waited for and ended through its job if need be.
void EndHost(const HostCheckContext& context, const char* id) {
  if (session.application) {
    Bound(context, id, "Quit");
    AutoWrap(DISPATCH_METHOD, nullptr, session.application.get(),
             const_cast<LPOLESTR>(L"Quit"), 0);
    Done();
  }
  Bound(context, id, "the release of Excel");
  workbook.reset();
  session.workbooks.reset();
  session.application.reset();
  Done();
  ulvex::System().CoUninitialize();
  if (session.hostProcess && processIsHost &&
      WaitForSingleObject(session.hostProcess.get(), kHostExitWaitMs) ==
          WAIT_TIMEOUT)
    EndHostOfRun(kHostEndWaitMs);
  session.hostProcess.reset();
}

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

}  // namespace

CheckResult CheckHostStart(const HostCheckContext& context, bool& started) {
  started = false;
  if (TimeLimitPassed())
    return JudgeOutOfTime(kHostStartCheck, context.limitText);
  SetAutoWrapCapture(&failure);
  HostStartFacts facts;
  HostStart start;
  const ULONGLONG begun = GetTickCount64();
  Bound(context, kHostStartCheck, "its start (CoCreateInstance)");
  const StartOutcome outcome = StartExcel(session, NeverInterrupted, start);
  Done();
  EndHostStart();
  facts.elapsedMs = static_cast<unsigned long>(GetTickCount64() - begun);
  facts.status = static_cast<uint32_t>(start.status);
  if (outcome != StartOutcome::Started) {
    facts.outcome = outcome == StartOutcome::ClassUnknown
                        ? HostStartFacts::ClassUnknown
                        : HostStartFacts::NotCreated;
    facts.words = CodeInWordsText(start.status);
    ulvex::System().CoUninitialize();
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
  Bound(context, kHostStartCheck, "Version");
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
  if (result.status == CheckStatus::Fail)
    EndHost(context, kHostStartCheck);
  else
    started = true;
  return result;
}

CheckResult CheckWorkbook(const HostCheckContext& context) {
  WorkbookFacts facts;
  facts.lacksDesktop = context.lacksDesktop;
  ulvex::Variant books;
  Bound(context, kWorkbookCheck, "Workbooks");
  AutoWrap(DISPATCH_PROPERTYGET, books.get(), session.application.get(),
           const_cast<LPOLESTR>(L"Workbooks"), 0);
  Done();
  if (!TakeHostObject(books, session.workbooks)) {
    if (!FAILED(failure.status)) failure.status = E_NOINTERFACE;
    Failed(facts, "Workbooks");
  } else {
    ulvex::Variant added;
    Bound(context, kWorkbookCheck, "Workbooks.Add");
    AutoWrap(DISPATCH_METHOD, added.get(), session.workbooks.get(),
             const_cast<LPOLESTR>(L"Add"), 0);
    Done();
    if (!TakeHostObject(added, workbook)) {
      if (!FAILED(failure.status)) failure.status = E_NOINTERFACE;
      Failed(facts, "Workbooks.Add");
    } else {
      // The new workbook is closed without saving: nothing is written.
      VARIANT saveChanges;
      ulvex::System().VariantInit(&saveChanges);
      saveChanges.vt = VT_BOOL;
      saveChanges.boolVal = VARIANT_FALSE;
      Bound(context, kWorkbookCheck, "Close");
      const HRESULT closed =
          AutoWrap(DISPATCH_METHOD, nullptr, workbook.get(),
                   const_cast<LPOLESTR>(L"Close"), 1, saveChanges);
      Done();
      if (FAILED(closed)) Failed(facts, "Close");
    }
  }
  const CheckResult result = JudgeWorkbook(facts);
  EndHost(context, kWorkbookCheck);
  return result;
}
