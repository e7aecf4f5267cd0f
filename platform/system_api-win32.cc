#include <cstdio>
#include <cstdlib>

#include "platform/system_api.h"
#include "platform/system_library.h"

namespace ulvex {

namespace {

// A system DLL or function the program cannot do without is missing: stop
// in order, with the failure status.
[[noreturn]] void MissingFromSystem(const char* dll, const char* function) {
  const unsigned long error = GetLastError();
  fflush(stdout);
  printf("Cannot load %s%s%s from the system folder (%lu)\n", dll,
         function != nullptr ? ": " : "", function != nullptr ? function : "",
         error);
  fflush(stdout);
  std::_Exit(1);
}

class Binder {
 public:
  Binder(const wchar_t* dll, const char* name) : name_(name) {
    module_ = LoadSystemLibrary(dll);
    if (module_ == nullptr) MissingFromSystem(name_, nullptr);
  }
  template <typename Function>
  void operator()(Function& function, const char* functionName) const {
    if (!ResolveFunction(module_, functionName, function))
      MissingFromSystem(name_, functionName);
  }

 private:
  HMODULE module_;
  const char* name_;
};

SystemApi Bind() {
  SystemApi api{};
  const Binder ole32(L"ole32.dll", "ole32.dll");
  ole32(api.CoInitialize, "CoInitialize");
  ole32(api.CoUninitialize, "CoUninitialize");
  ole32(api.CLSIDFromProgID, "CLSIDFromProgID");
  ole32(api.CoCreateInstance, "CoCreateInstance");
  ole32(api.CoRegisterMessageFilter, "CoRegisterMessageFilter");
  ole32(api.CoTaskMemFree, "CoTaskMemFree");
  const Binder oleaut32(L"oleaut32.dll", "oleaut32.dll");
  oleaut32(api.SysAllocString, "SysAllocString");
  oleaut32(api.SysFreeString, "SysFreeString");
  oleaut32(api.VariantInit, "VariantInit");
  oleaut32(api.VariantClear, "VariantClear");
  oleaut32(api.VariantChangeType, "VariantChangeType");
  const Binder user32(L"user32.dll", "user32.dll");
  user32(api.CharUpperBuffW, "CharUpperBuffW");
  user32(api.MsgWaitForMultipleObjectsEx, "MsgWaitForMultipleObjectsEx");
  user32(api.PeekMessageW, "PeekMessageW");
  user32(api.GetMessageW, "GetMessageW");
  user32(api.TranslateMessage, "TranslateMessage");
  user32(api.DispatchMessageW, "DispatchMessageW");
  user32(api.GetWindowThreadProcessId, "GetWindowThreadProcessId");
  user32(api.RegisterClassExW, "RegisterClassExW");
  user32(api.CreateWindowExW, "CreateWindowExW");
  user32(api.DefWindowProcW, "DefWindowProcW");
  user32(api.GetProcessWindowStation, "GetProcessWindowStation");
  user32(api.GetUserObjectInformationW, "GetUserObjectInformationW");
  const Binder shell32(L"shell32.dll", "shell32.dll");
  shell32(api.SHGetKnownFolderPath, "SHGetKnownFolderPath");
  return api;
}

}  // namespace

const SystemApi& System() {
  // Bound once, on the first call; C++ makes the initialisation safe when
  // two threads (the run and the session watch) get here together.
  static const SystemApi api = Bind();
  return api;
}

}  // namespace ulvex
