#include <cstdio>
#include <cstdlib>
#include <string>

#include "handoff/cache_cleanup.h"
#include "host/auto_wrap.h"
#include "host/excel_version.h"
#include "host/excel_version_text.h"
#include "platform/install_paths.h"
#include "host/launch.h"
#include "platform/thread_ansi.h"

namespace {

// The host's value for a maximised window.
constexpr LONG kWindowStateMaximized = -4137;

VARIANT IntegerValue(LONG value) {
  VARIANT variant;
  VariantInit(&variant);
  variant.vt = VT_I4;
  variant.lVal = value;
  return variant;
}

void PutInteger(IDispatch* object, const wchar_t* member, LONG value) {
  AutoWrap(DISPATCH_PROPERTYPUT, nullptr, object, const_cast<LPOLESTR>(member),
           1, IntegerValue(value));
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

bool LaunchExcel(ExcelSession& session) {
  CoInitialize(nullptr);

  CLSID classId;
  HRESULT status = CLSIDFromProgID(L"Excel.Application", &classId);
  if (FAILED(status)) {
    printf("CLSIDFromProgID() failed:0x%08lx",
           static_cast<unsigned long>(status));
    fflush(stdout);
    return false;
  }

  status = CoCreateInstance(classId, nullptr, CLSCTX_LOCAL_SERVER,
                            IID_IDispatch, session.application.put_void());
  if (FAILED(status)) {
    // No line end: the first call below meets the missing object, prints
    // its own message on this line and ends the process with status 1.
    printf("Excel not registered properly: 0x%08lx",
           static_cast<unsigned long>(status));
    fflush(stdout);
    session.application.reset();
  }
  IDispatch* application = session.application.get();

  PutInteger(application, L"Visible", 1);

  ulvex::Variant workbooks;
  AutoWrap(DISPATCH_PROPERTYGET, workbooks.get(), application,
           const_cast<LPOLESTR>(L"Workbooks"), 0);
  // Without the collection there is nothing to open the add-in with; the
  // read's failure message has been printed.
  if (!TakeDispatch(workbooks, session.workbooks)) {
    fflush(stdout);
    return false;
  }

  const std::wstring version = GetExcelVersion();
  if (SetsFileValidation(_wtoi(version.c_str())))
    PutInteger(application, L"FileValidation", 0);

  PutInteger(application, L"WindowState", kWindowStateMaximized);

  ulvex::Variant opened;
  std::wstring workbookPath;
  if (!ThreadAnsiToWide(GetAddinWorkbookPath(), workbookPath)) return false;
  MakeReadOnly(workbookPath);
  PrepareWorkingFile();

  ulvex::Bstr pathText(SysAllocString(workbookPath.c_str()));
  if (!pathText) return false;
  VARIANT argument;
  VariantInit(&argument);
  argument.vt = VT_BSTR;
  argument.bstrVal = pathText.get();
  AutoWrap(DISPATCH_METHOD, opened.get(), session.workbooks.get(),
           const_cast<LPOLESTR>(L"Open"), 1, argument);
  return true;
}

void ReleaseExcel(ExcelSession& session) {
  session.workbooks.reset();
  session.application.reset();
  CoUninitialize();
}
