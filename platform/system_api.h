// The functions of ole32, oleaut32, user32 and shell32 that the program calls,
// bound at run time from the system folder. Through the import table these
// DLLs, and the DLLs they import in turn, would be loaded before main, and
// so before the DLL search is limited to the system folder
// (platform/system_library.h): a DLL planted beside the program could
// answer for one of them.
#pragma once

#include <windows.h>
// Needs <windows.h> first.
#include <objbase.h>
#include <oleauto.h>
#include <shlobj.h>

namespace ulvex {

struct SystemApi {
  // ole32
  decltype(&::CoInitialize) CoInitialize;
  decltype(&::CoUninitialize) CoUninitialize;
  decltype(&::CLSIDFromProgID) CLSIDFromProgID;
  decltype(&::CoCreateInstance) CoCreateInstance;
  decltype(&::CoRegisterMessageFilter) CoRegisterMessageFilter;
  decltype(&::CoTaskMemFree) CoTaskMemFree;
  // oleaut32
  decltype(&::SysAllocString) SysAllocString;
  decltype(&::SysFreeString) SysFreeString;
  decltype(&::VariantInit) VariantInit;
  decltype(&::VariantClear) VariantClear;
  decltype(&::VariantChangeType) VariantChangeType;
  // user32
  decltype(&::CharUpperBuffW) CharUpperBuffW;
  decltype(&::MsgWaitForMultipleObjectsEx) MsgWaitForMultipleObjectsEx;
  decltype(&::PeekMessageW) PeekMessageW;
  decltype(&::GetMessageW) GetMessageW;
  decltype(&::TranslateMessage) TranslateMessage;
  decltype(&::DispatchMessageW) DispatchMessageW;
  decltype(&::GetWindowThreadProcessId) GetWindowThreadProcessId;
  decltype(&::RegisterClassExW) RegisterClassExW;
  decltype(&::CreateWindowExW) CreateWindowExW;
  decltype(&::DefWindowProcW) DefWindowProcW;
  decltype(&::GetProcessWindowStation) GetProcessWindowStation;
  decltype(&::GetUserObjectInformationW) GetUserObjectInformationW;
  // shell32
  decltype(&::SHGetKnownFolderPath) SHGetKnownFolderPath;
};

/// The functions, bound on first use. Should a system DLL or one of its
/// functions be missing, the run cannot go on: a message names it and the
/// process ends with status 1.
const SystemApi& System();

}  // namespace ulvex
