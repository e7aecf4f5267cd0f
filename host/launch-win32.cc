#include <cstdio>
#include <cstdlib>
#include <string>

#include "diagnosis/desktop_check.h"
#include "diagnosis/error_report.h"
#include "handoff/cache_cleanup.h"
#include "host/auto_wrap.h"
#include "host/excel_version.h"
#include "host/excel_version_text.h"
#include "host/launch.h"
#include "host/message_filter.h"
#include "ownership/host_identity.h"
#include "ownership/host_job.h"
#include "ownership/host_record.h"
#include "platform/console.h"
#include "platform/install_paths.h"
#include "platform/system_api.h"

namespace {

// The host's value for a maximised window.
constexpr LONG kWindowStateMaximized = -4137;

VARIANT IntegerValue(LONG value) {
  VARIANT variant;
  ulvex::System().VariantInit(&variant);
  variant.vt = VT_I4;
  variant.lVal = value;
  return variant;
}

HRESULT PutInteger(IDispatch* object, const wchar_t* member, LONG value) {
  return AutoWrap(DISPATCH_PROPERTYPUT, nullptr, object,
                  const_cast<LPOLESTR>(member), 1, IntegerValue(value));
}

// Takes the dispatch reference out of a property's value; false when the
// value holds no object.
bool TakeDispatch(ulvex::Variant& value, ulvex::ComPtr<IDispatch>& object) {
  VARIANT& raw = *value.get();
  if (raw.vt == VT_DISPATCH && raw.pdispVal != nullptr) {
    object.attach(raw.pdispVal);
    raw.vt = VT_EMPTY;  // the reference now belongs to object
    return true;
  }
  if (raw.vt == VT_UNKNOWN && raw.punkVal != nullptr)
    return SUCCEEDED(
        raw.punkVal->QueryInterface(IID_IDispatch, object.put_void()));
  return false;
}

// The host's main window, read through its "Hwnd" property. Quiet: the
// watch on the host helps the wait end when the host is gone, but a host
// that cannot name its window is still driven as before.
HWND ReadHostWindow(IDispatch* application) {
  if (application == nullptr) return nullptr;
  FlushOutput();
  LPOLESTR name = const_cast<LPOLESTR>(L"Hwnd");
  DISPID id = 0;
  if (FAILED(application->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT,
                                        &id)))
    return nullptr;
  DISPPARAMS none = {};
  ulvex::Variant value;
  if (FAILED(application->Invoke(id, IID_NULL, LOCALE_SYSTEM_DEFAULT,
                                 DISPATCH_PROPERTYGET, &none, value.get(),
                                 nullptr, nullptr)))
    return nullptr;
  ulvex::Variant number;
  if (FAILED(ulvex::System().VariantChangeType(number.get(), value.get(), 0,
                                               VT_I4)))
    return nullptr;
  // NOTE: the host gives the handle as a 32-bit number; window handles
  // hold 32 significant bits on 64-bit Windows too, sign-extended.
  return reinterpret_cast<HWND>(static_cast<LONG_PTR>((*number).lVal));
}

// The process that owns window, opened to be tied to the run and to wait
// for its end; null when it cannot be had. found tells what it is: the
// registered host of this session and user (ownership/host_identity.h), opened
// with kHostProcessAccess or, when that is refused (found.openError), only
// to wait for its end and query it; or any other process, held with
// SYNCHRONIZE only: not to be tied, ended or recorded, but its end still
// ends the wait.
HANDLE OpenWindowProcess(HWND window, HostWindowFacts& found) {
  found = HostWindowFacts();
  if (window == nullptr) return nullptr;
  DWORD processId = 0;
  ulvex::System().GetWindowThreadProcessId(window, &processId);
  if (processId == 0 || processId == GetCurrentProcessId()) return nullptr;
  found.processId = processId;
  ulvex::UniqueHandle process(
      OpenProcess(kHostProcessAccess, FALSE, processId));
  if (!process) {
    found.openError = GetLastError();
    // A host that refuses the access to tie it is still watched and
    // recorded; one that cannot even be queried cannot be checked.
    process.reset(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION,
                              FALSE, processId));
    if (!process) {
      found.check = HostCheck::Unchecked;
      found.detail.error = GetLastError();
      return OpenProcess(SYNCHRONIZE, FALSE, processId);
    }
  }
  // NOTE: a host in another session (a DCOM identity, a run in session 0)
  // names a window that this session looks up as another process's, and a
  // host may be started through another program. Anything but the
  // registered host of this session and user is only watched.
  found.check = CheckHostProcess(process.get(), found.detail);
  if (found.check == HostCheck::Host) return process.release();
  HANDLE watched = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), process.get(), GetCurrentProcess(),
                       &watched, SYNCHRONIZE, FALSE, 0)) {
    found.openError = GetLastError();
    return nullptr;
  }
  return watched;
}

// The add-in workbook is opened read-only on disk so that the host never
// saves over the installed copy. Failures change nothing and are silent.
void MakeReadOnly(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES ||
      (attributes & FILE_ATTRIBUTE_READONLY) != 0)
    return;
  // NOTE: FILE_ATTRIBUTE_NORMAL is valid only on its own.
  SetFileAttributesW(path.c_str(),
                     (attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL)) |
                         FILE_ATTRIBUTE_READONLY);
}

}  // namespace

StartOutcome StartExcel(ExcelSession& session, bool (*interrupted)(),
                        HostStart& start) {
  ulvex::System().CoInitialize(nullptr);
  RegisterBusyHostFilter();

  CLSID classId;
  start.status =
      ulvex::System().CLSIDFromProgID(L"Excel.Application", &classId);
  if (FAILED(start.status)) return StartOutcome::ClassUnknown;

  // From here to the caller's EndHostStart an interruption waits for this
  // thread: a host asked for must be tied before it can be ended.
  BeginHostStart();
  if (interrupted()) {
    EndHostStart();
    return StartOutcome::Interrupted;
  }
  FlushOutput();
  start.status = ulvex::System().CoCreateInstance(
      classId, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch,
      session.application.put_void());
  if (FAILED(start.status)) {
    session.application.reset();
    return StartOutcome::NotCreated;
  }

  // The host's window first: until it is tied, an ending would leave it
  // running unknown.
  start.window = ReadHostWindow(session.application.get());
  session.hostProcess.reset(OpenWindowProcess(start.window, start.found));
  start.tied =
      TieHost(session.hostProcess.get(), start.found, start.untiedError);
  return StartOutcome::Started;
}

LaunchOutcome LaunchExcel(ExcelSession& session, bool (*interrupted)()) {
  HostStart start;
  switch (StartExcel(session, interrupted, start)) {
    case StartOutcome::ClassUnknown:
      printf("CLSIDFromProgID() failed:0x%08lx\n",
             static_cast<unsigned long>(start.status));
      fflush(stdout);
      PrintCodeInWords(start.status);
      return LaunchOutcome::Ended;
    case StartOutcome::Interrupted:
      return LaunchOutcome::Interrupted;
    case StartOutcome::NotCreated:
      // No line end: the first call below meets the missing object, prints
      // its own message on this line and ends the process with status 1.
      printf("Excel not registered properly: 0x%08lx",
             static_cast<unsigned long>(start.status));
      fflush(stdout);
      DeferCodeInWords(start.status);  // after the null-object line
      break;
    case StartOutcome::Started:
      // Recorded before the start ends: a run that ends (or is ended) from
      // here on leaves a host that the next run can find.
      if (!start.tied)
        PrintUntiedHost(session.hostProcess.get(), start.found,
                        start.untiedError);
      if (start.found.check == HostCheck::Host)
        RecordHost(session.hostProcess.get());
      break;
  }
  EndHostStart();
  if (interrupted()) return LaunchOutcome::Interrupted;
  IDispatch* application = session.application.get();
  // A host that has just started may ignore the first calls.
  SetRetryIgnoredCalls(true);

  session.underUserControl = SUCCEEDED(PutInteger(application, L"Visible", 1));

  ulvex::Variant workbooks;
  AutoWrap(DISPATCH_PROPERTYGET, workbooks.get(), application,
           const_cast<LPOLESTR>(L"Workbooks"), 0);
  // Without the collection there is nothing to open the add-in with; the
  // read's failure message has been printed.
  if (!TakeDispatch(workbooks, session.workbooks)) {
    fflush(stdout);
    return LaunchOutcome::Ended;
  }

  const std::wstring version = GetExcelVersion();
  if (SetsFileValidation(_wtoi(version.c_str())))
    PutInteger(application, L"FileValidation", 0);

  PutInteger(application, L"WindowState", kWindowStateMaximized);

  ulvex::Variant opened;
  const std::wstring workbookPath = GetAddinWorkbookPath();
  MakeReadOnly(workbookPath);
  PrepareWorkingFile();

  ulvex::Bstr pathText(ulvex::System().SysAllocString(workbookPath.c_str()));
  if (!pathText) return LaunchOutcome::Ended;
  VARIANT argument;
  ulvex::System().VariantInit(&argument);
  argument.vt = VT_BSTR;
  argument.bstrVal = pathText.get();
  BeginOpen();
  const HRESULT openStatus =
      AutoWrap(DISPATCH_METHOD, opened.get(), session.workbooks.get(),
               const_cast<LPOLESTR>(L"Open"), 1, argument);
  EndOpen();
  // Without the workbook there is no add-in to report progress: waiting
  // would never end.
  if (FAILED(openStatus)) return LaunchOutcome::WorkbookNotOpen;
  return LaunchOutcome::Opened;
}

void PrintWorkbookNotOpen() {
  PrintWide(L"The Ulvex add-in workbook could not be opened: %ls\n",
            GetAddinWorkbookPath().c_str());
  FlushOutput();
  PrintDesktopAdvice();
}

void LetGoOfHostObjects(ExcelSession& session) {
  FlushOutput();  // a host that never answers its release keeps no line
  session.workbooks.reset();
  session.application.reset();
}

bool TakeHostObject(ulvex::Variant& value, ulvex::ComPtr<IDispatch>& object) {
  return TakeDispatch(value, object);
}

void ReleaseExcel(ExcelSession& session) {
  LetGoOfHostObjects(session);
  ulvex::System().CoUninitialize();
}
