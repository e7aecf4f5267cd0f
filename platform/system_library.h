// DLLs from the system folder only. A DLL of the same name planted beside
// the program (its folder comes first in the default search order) must
// never be loaded into a process that runs tasks for its user.
#pragma once

#include <windows.h>

/// Limits the DLL search of this process to the system folder. Call first
/// thing in main: later loads by name (ours and the system's own) then never
/// look in the program's folder, the current folder or PATH.
void RestrictDllSearchToSystemFolder();

/// Loads name (e.g. L"version.dll") from the system folder and nowhere
/// else. Null on failure, with the platform's last error set.
HMODULE LoadSystemLibrary(const wchar_t* name);

/// Looks up a function of module as the given pointer type; false (and a
/// null pointer) when the module does not export it.
template <typename Function>
bool ResolveFunction(HMODULE module, const char* name, Function& function) {
  function = reinterpret_cast<Function>(
      reinterpret_cast<void*>(GetProcAddress(module, name)));
  return function != nullptr;
}
