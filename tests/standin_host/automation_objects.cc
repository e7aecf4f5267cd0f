#include <iterator>
#include <memory>
#include <string>
#include <utility>

#include "tests/standin_host/call_log.h"
#include "tests/standin_host/host.h"
#include "tests/standin_host/standin_ids.h"

namespace standin {

namespace {

// The host's own error code that comes with an automation exception.
constexpr SCODE kHostErrorCode = static_cast<SCODE>(0x800A03EC);
// The host's window states.
constexpr LONG kMaximized = -4137;
constexpr LONG kMinimized = -4140;
constexpr LONG kNormal = -4143;
// Open's positional parameters: the path and fourteen optional ones.
constexpr UINT kMaxOpenArguments = 15;

void Touch() { State().lastActivity = GetTickCount(); }

void ObjectCreated() { ++State().liveObjects; }

void ObjectGone() {
  if (--State().liveObjects == 0) {
    // A busy host answers its client's last release late.
    if (!State().exiting && State().directives.slowReleaseMs > 0) {
      LogLine("SLOW-RELEASE");
      Sleep(State().directives.slowReleaseMs);
    }
    if (!State().exiting) LogLine("RELEASED");
    SetEvent(State().wake);
  }
}

std::string Utf8(const wchar_t* text) {
  return LogText(text == nullptr ? L"" : text);
}

// A failing member answers DISP_E_EXCEPTION with its exception information.
HRESULT Raise(EXCEPINFO* info, const std::wstring& description) {
  if (info != nullptr) {
    *info = EXCEPINFO{};
    info->bstrSource = SysAllocString(L"StandInHost");
    info->bstrDescription = SysAllocString(description.c_str());
    info->scode = kHostErrorCode;
  }
  return DISP_E_EXCEPTION;
}

std::string KindText(WORD flags) {
  static const struct {
    WORD flag;
    const char* name;
  } kKinds[] = {{DISPATCH_METHOD, "METHOD"},
                {DISPATCH_PROPERTYGET, "GET"},
                {DISPATCH_PROPERTYPUT, "PUT"},
                {DISPATCH_PROPERTYPUTREF, "PUTREF"}};
  std::string text;
  WORD rest = flags;
  for (const auto& kind : kKinds) {
    if ((flags & kind.flag) == 0) continue;
    text += text.empty() ? "" : "|";
    text += kind.name;
    rest &= ~kind.flag;
  }
  if (rest != 0 || text.empty())
    text += (text.empty() ? "FLAGS" : "|FLAGS") + std::to_string(rest);
  return text;
}

// One Invoke as a log line: kind, member, the named arguments unless they
// are the usual single DISPID_PROPERTYPUT of a property write, then the
// arguments first to last.
std::string CallLine(WORD flags, const std::string& member,
                     const DISPPARAMS* params) {
  std::string line = KindText(flags) + " " + member;
  if (params == nullptr) return line + " (no parameters)";
  const UINT named = params->rgdispidNamedArgs ? params->cNamedArgs : 0;
  const bool put = flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF);
  const bool usualPut =
      put && named == 1 && params->rgdispidNamedArgs[0] == DISPID_PROPERTYPUT;
  if (put && named == 0) line += " named=none";
  if (!usualPut && named > 0) {
    line += " named=";
    for (UINT i = 0; i < named; ++i) {
      const DISPID id = params->rgdispidNamedArgs[i];
      line += i == 0 ? "" : ",";
      line += id == DISPID_PROPERTYPUT ? "PROPERTYPUT" : std::to_string(id);
    }
  }
  // NOTE: rgvarg holds the last argument first.
  const UINT count = params->rgvarg ? params->cArgs : 0;
  for (UINT i = count; i-- > 0;) {
    line += i + 1 == count ? " " : " ; ";
    line += DescribeVariant(params->rgvarg[i]);
  }
  return line;
}

bool SameName(const std::wstring& a, const wchar_t* b) {
  return _wcsicmp(a.c_str(), b) == 0;
}

bool Refused(const wchar_t* member) {
  for (const std::wstring& name : State().directives.refused)
    if (SameName(name, member)) return true;
  return false;
}

// A member told to answer late keeps its caller waiting first.
void ScriptedDelay(const wchar_t* member) {
  for (const MemberDelay& delay : State().directives.slowCalls) {
    if (SameName(delay.member, member)) {
      LogLine("SLOW " + Utf8(member));
      Sleep(delay.ms);
    }
  }
}

bool ScriptedFailure(const wchar_t* member, HRESULT& status) {
  for (const MemberFailure& failure : State().directives.failures) {
    if (SameName(failure.member, member)) {
      status = failure.status;
      return true;
    }
  }
  return false;
}

// The one value of a property write, converted as a host with a type
// library converts it; a write without the DISPID_PROPERTYPUT named
// argument is refused, as such a host refuses it.
HRESULT PutValue(const DISPPARAMS& params, VARTYPE type, VARIANT& value,
                 UINT* argErr) {
  if (params.cArgs != 1) return DISP_E_BADPARAMCOUNT;
  if (params.cNamedArgs != 1 ||
      params.rgdispidNamedArgs[0] != DISPID_PROPERTYPUT)
    return DISP_E_PARAMNOTFOUND;
  VariantInit(&value);
  if (FAILED(VariantChangeType(&value, &params.rgvarg[0], 0, type))) {
    if (argErr != nullptr) *argErr = 0;
    return DISP_E_TYPEMISMATCH;
  }
  return S_OK;
}

HRESULT CheckGet(const DISPPARAMS& params) {
  if (params.cArgs != 0) return DISP_E_BADPARAMCOUNT;
  return params.cNamedArgs != 0 ? DISP_E_NONAMEDARGS : S_OK;
}

void ReturnObject(VARIANT* result, IDispatch* object) {
  if (result == nullptr) return;
  object->AddRef();
  result->vt = VT_DISPATCH;
  result->pdispVal = object;
}

struct Member {
  const wchar_t* name;
  DISPID id;
};

// IUnknown and IDispatch over a table of member names; subclasses answer
// the invocations. Every call is logged before it is answered.
class DispatchObject : public IDispatch {
 public:
  DispatchObject(const Member* members, size_t count)
      : members_(members), count_(count) {
    ObjectCreated();
  }
  virtual ~DispatchObject() { ObjectGone(); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (out == nullptr) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch)) {
      *out = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override {
    return static_cast<ULONG>(InterlockedIncrement(&refs_));
  }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG left = InterlockedDecrement(&refs_);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }

  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    Touch();
    LogLine("TYPEINFOCOUNT");
    if (count == nullptr) return E_POINTER;
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
    Touch();
    LogLine("TYPEINFO");
    if (info != nullptr) *info = nullptr;
    return DISP_E_BADINDEX;
  }

  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names,
                                          UINT count, LCID,
                                          DISPID* ids) override {
    Touch();
    if (names == nullptr || ids == nullptr || count == 0) {
      LogLine("LOOKUP (nothing)");
      return E_INVALIDARG;
    }
    std::string line = "LOOKUP";
    for (UINT i = 0; i < count; ++i) {
      line += " " + Utf8(names[i]);
      ids[i] = DISPID_UNKNOWN;
    }
    if (!IsEqualIID(riid, IID_NULL)) {
      LogLine(line + " BAD-IID");
      return DISP_E_UNKNOWNINTERFACE;
    }
    const Member* member = nullptr;
    for (size_t i = 0; i < count_ && names[0] != nullptr; ++i)
      if (_wcsicmp(members_[i].name, names[0]) == 0) member = &members_[i];
    if (member != nullptr && Refused(member->name)) {
      LogLine(line + " REFUSED");
      return DISP_E_UNKNOWNNAME;
    }
    if (member != nullptr) ids[0] = member->id;
    // Parameter names are not known: a caller that asks for them gets
    // DISPID_UNKNOWN for them.
    if (member == nullptr || count > 1) {
      LogLine(line + " UNKNOWN");
      return DISP_E_UNKNOWNNAME;
    }
    LogLine(line);
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID, WORD flags,
                                   DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO* exception,
                                   UINT* argErr) override {
    Touch();
    const Member* member = nullptr;
    for (size_t i = 0; i < count_; ++i)
      if (members_[i].id == id) member = &members_[i];
    const std::string name =
        member ? Utf8(member->name) : "#" + std::to_string(id);
    LogLine(CallLine(flags, name, params));
    if (member != nullptr) ScriptedDelay(member->name);
    HRESULT status = S_OK;
    if (member == nullptr) {
      status = DISP_E_MEMBERNOTFOUND;
    } else if (!IsEqualIID(riid, IID_NULL)) {
      status = DISP_E_UNKNOWNINTERFACE;
    } else if (params == nullptr) {
      status = E_INVALIDARG;
    } else if (ScriptedFailure(member->name, status)) {
      if (status == DISP_E_EXCEPTION)
        Raise(exception, std::wstring(L"Told to fail: ") + member->name);
    } else {
      status = Call(id, flags, *params, result, exception, argErr);
    }
    if (FAILED(status)) LogLine("FAILED " + name + " " + HexStatus(status));
    return status;
  }

 protected:
  virtual HRESULT Call(DISPID id, WORD flags, const DISPPARAMS& params,
                       VARIANT* result, EXCEPINFO* exception, UINT* argErr) = 0;

 private:
  const Member* members_;
  size_t count_;
  LONG refs_ = 1;
};

// Close's positional parameters: SaveChanges, Filename, RouteWorkbook.
constexpr UINT kMaxCloseArguments = 3;
constexpr DISPID kClose = 1;
constexpr Member kWorkbookMembers[] = {{L"Close", kClose}};

// A workbook: the client gets it from Open or Add; it answers Close.
class Workbook : public DispatchObject {
 public:
  Workbook() : DispatchObject(kWorkbookMembers, 1) {}

 protected:
  HRESULT Call(DISPID, WORD flags, const DISPPARAMS& params, VARIANT*,
               EXCEPINFO*, UINT*) override {
    if ((flags & DISPATCH_METHOD) == 0) return DISP_E_MEMBERNOTFOUND;
    if (params.cNamedArgs != 0) return DISP_E_PARAMNOTFOUND;
    return params.cArgs > kMaxCloseArguments ? DISP_E_BADPARAMCOUNT : S_OK;
  }
};

DWORD WINAPI AddInThread(void* parameter) {
  std::unique_ptr<std::vector<ScriptStep>> steps(
      static_cast<std::vector<ScriptStep>*>(parameter));
  const ScriptStep::Kind end = PlayScript(*steps, State().stop);
  if (!State().exiting) LogLine("ADDIN-DONE");
  State().lastActivity = GetTickCount();
  if (end == ScriptStep::kQuit) State().quitByScript = true;
  if (end == ScriptStep::kCrash) State().crashByScript = true;
  State().addInRunning = false;
  SetEvent(State().wake);
  return 0;
}

// The add-in runs once the workbook is open, on its own thread, so that
// Open returns at once.
void StartAddIn(std::vector<ScriptStep> steps) {
  auto* owned = new std::vector<ScriptStep>(std::move(steps));
  State().addInRunning = true;
  State().addInThread =
      CreateThread(nullptr, 0, AddInThread, owned, 0, nullptr);
  if (State().addInThread == nullptr) {
    delete owned;
    State().addInRunning = false;
    LogLine("ADDIN-NOT-STARTED " + std::to_string(GetLastError()));
  }
}

constexpr DISPID kOpen = 1;
constexpr DISPID kAdd = 2;
constexpr Member kWorkbooksMembers[] = {{L"Open", kOpen}, {L"Add", kAdd}};

class Workbooks : public DispatchObject {
 public:
  Workbooks()
      : DispatchObject(kWorkbooksMembers, std::size(kWorkbooksMembers)) {}
  ~Workbooks() override {
    if (workbook_ != nullptr) workbook_->Release();
  }

 protected:
  HRESULT Call(DISPID id, WORD flags, const DISPPARAMS& params, VARIANT* result,
               EXCEPINFO* exception, UINT* argErr) override {
    if ((flags & DISPATCH_METHOD) == 0) return DISP_E_MEMBERNOTFOUND;
    if (params.cNamedArgs != 0) return DISP_E_PARAMNOTFOUND;
    if (id == kAdd) {
      // A new workbook each time, from an optional template.
      if (params.cArgs > 1) return DISP_E_BADPARAMCOUNT;
      Workbook* added = new Workbook;
      ReturnObject(result, added);
      added->Release();
      return S_OK;
    }
    if (params.cArgs == 0) return DISP_E_PARAMNOTOPTIONAL;
    if (params.cArgs > kMaxOpenArguments) return DISP_E_BADPARAMCOUNT;
    VARIANT path;
    VariantInit(&path);
    const UINT first = params.cArgs - 1;
    if (FAILED(VariantChangeType(&path, &params.rgvarg[first], 0, VT_BSTR))) {
      if (argErr != nullptr) *argErr = first;
      return DISP_E_TYPEMISMATCH;
    }
    const HRESULT status = Open(path.bstrVal ? path.bstrVal : L"", exception);
    VariantClear(&path);
    if (SUCCEEDED(status)) ReturnObject(result, workbook_);
    return status;
  }

 private:
  HRESULT Open(const std::wstring& path, EXCEPINFO* exception) {
    // A second Open finds the workbook open; its add-in has run already.
    if (workbook_ != nullptr) return S_OK;
    std::string bytes;
    if (!ReadScriptFile(path, bytes))
      return Raise(exception, L"Cannot open the file " + path);
    Script script = ParseScript(bytes);
    for (const std::string& error : script.errors)
      LogLine("SCRIPT-ERROR " + error);
    if (script.hangOpen) return HangOpen(exception);
    if (script.failOpenStarted) {
      // The add-in's code has started before the host reports the failure
      // (a workbook that opens with an error after its start-up code ran).
      StartAddIn(std::move(script.steps));
      return Raise(exception, L"Told to fail after the add-in started");
    }
    workbook_ = new Workbook;
    StartAddIn(std::move(script.steps));
    return S_OK;
  }

  // A host whose Open never returns, as behind a modal dialog: only the
  // quit event (or the host's end) releases the call.
  HRESULT HangOpen(EXCEPINFO* exception) {
    LogLine("HANG Open");
    const std::wstring quitName =
        kQuitEventPrefix + std::to_wstring(GetCurrentProcessId());
    const HANDLE quit = OpenEventW(SYNCHRONIZE, FALSE, quitName.c_str());
    WaitForSingleObject(quit != nullptr ? quit : GetCurrentProcess(), INFINITE);
    if (quit != nullptr) CloseHandle(quit);
    return Raise(exception, L"Open was abandoned");
  }

  Workbook* workbook_ = nullptr;
};

constexpr DISPID kVisible = 1;
constexpr DISPID kWorkbooks = 2;
constexpr DISPID kFileValidation = 3;
constexpr DISPID kWindowState = 4;
constexpr DISPID kHwnd = 5;
constexpr DISPID kVersion = 6;
constexpr DISPID kQuit = 7;
constexpr DISPID kAutomationSecurity = 8;
constexpr Member kApplicationMembers[] = {
    {L"Visible", kVisible},
    {L"Workbooks", kWorkbooks},
    {L"FileValidation", kFileValidation},
    {L"WindowState", kWindowState},
    {L"Hwnd", kHwnd},
    {L"Version", kVersion},
    {L"Quit", kQuit},
    {L"AutomationSecurity", kAutomationSecurity}};
// The version as the host gives it: major and minor, as text.
constexpr wchar_t kVersionText[] = L"16.0";

class Application : public DispatchObject {
 public:
  Application()
      : DispatchObject(kApplicationMembers, std::size(kApplicationMembers)) {}
  ~Application() override {
    if (workbooks_ != nullptr) workbooks_->Release();
  }

 protected:
  HRESULT Call(DISPID id, WORD flags, const DISPPARAMS& params, VARIANT* result,
               EXCEPINFO* exception, UINT* argErr) override {
    if (id == kWorkbooks) {
      if ((flags & DISPATCH_PROPERTYGET) == 0) return DISP_E_MEMBERNOTFOUND;
      const HRESULT status = CheckGet(params);
      if (FAILED(status)) return status;
      if (workbooks_ == nullptr) workbooks_ = new Workbooks;
      ReturnObject(result, workbooks_);
      return S_OK;
    }
    if (id == kHwnd) {
      // Read-only, as the host's own: its main window as a 32-bit number.
      if ((flags & DISPATCH_PROPERTYGET) == 0) return DISP_E_MEMBERNOTFOUND;
      const HRESULT status = CheckGet(params);
      if (FAILED(status) || result == nullptr) return status;
      result->vt = VT_I4;
      result->lVal =
          static_cast<LONG>(reinterpret_cast<LONG_PTR>(State().window));
      return S_OK;
    }
    if (id == kVersion) {
      if ((flags & DISPATCH_PROPERTYGET) == 0) return DISP_E_MEMBERNOTFOUND;
      const HRESULT status = CheckGet(params);
      if (FAILED(status) || result == nullptr) return status;
      result->vt = VT_BSTR;
      result->bstrVal = SysAllocString(kVersionText);
      return result->bstrVal != nullptr ? S_OK : E_OUTOFMEMORY;
    }
    if (id == kQuit) {
      // As the host does: it ends once its client has let go of it, even
      // when told to stay.
      if ((flags & DISPATCH_METHOD) == 0) return DISP_E_MEMBERNOTFOUND;
      if (params.cArgs != 0) return DISP_E_BADPARAMCOUNT;
      State().quitCalled = true;
      return S_OK;
    }
    LONG& stored = id == kVisible              ? visible_
                   : id == kFileValidation     ? fileValidation_
                   : id == kAutomationSecurity ? automationSecurity_
                                               : windowState_;
    if (flags & DISPATCH_PROPERTYPUT) {
      VARIANT value;
      const HRESULT status =
          PutValue(params, id == kVisible ? VT_BOOL : VT_I4, value, argErr);
      if (FAILED(status)) return status;
      const LONG number = id == kVisible ? value.boolVal : value.lVal;
      if (id == kWindowState && number != kMaximized && number != kMinimized &&
          number != kNormal)
        return Raise(exception, L"Unable to set the WindowState property");
      if (id == kFileValidation && number != 0 && number != 1)
        return Raise(exception, L"Unable to set the FileValidation property");
      if (id == kAutomationSecurity && (number < 1 || number > 3))
        return Raise(exception,
                     L"Unable to set the AutomationSecurity property");
      stored = number;
      return S_OK;
    }
    if (flags & DISPATCH_PROPERTYGET) {
      const HRESULT status = CheckGet(params);
      if (FAILED(status) || result == nullptr) return status;
      if (id == kVisible) {
        result->vt = VT_BOOL;
        result->boolVal = static_cast<VARIANT_BOOL>(stored);
      } else {
        result->vt = VT_I4;
        result->lVal = stored;
      }
      return S_OK;
    }
    return DISP_E_MEMBERNOTFOUND;
  }

 private:
  Workbooks* workbooks_ = nullptr;
  LONG visible_ = VARIANT_FALSE;
  LONG fileValidation_ = 0;
  LONG windowState_ = kNormal;
  // As the host: low at every start, unless a policy forces another value
  // (the script's automation-security).
  LONG automationSecurity_ = State().directives.automationSecurity;
};

class Factory : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (out == nullptr) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
      *out = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  // The factory lives as long as the process.
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid,
                                           void** out) override {
    Touch();
    LogLine("CREATE");
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    State().activated = true;
    Application* application = new Application;
    const HRESULT status = application->QueryInterface(riid, out);
    application->Release();
    return status;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    Touch();
    if (lock)
      ObjectCreated();
    else
      ObjectGone();
    return S_OK;
  }
};

}  // namespace

HostState& State() {
  static HostState state;
  return state;
}

IClassFactory* ClassFactory() {
  static Factory factory;
  return &factory;
}

}  // namespace standin
