// The one late-bound call into the host's automation objects.
#pragma once

#include <windows.h>
// Needs <windows.h> first.
#include <oleauto.h>

/// Calls member name of object by name: kind is DISPATCH_METHOD (1),
/// DISPATCH_PROPERTYGET (2) or DISPATCH_PROPERTYPUT (4); count VARIANTs
/// follow, passed by value. Prints its failure messages on stdout, each
/// followed by its line in words and, after DISP_E_EXCEPTION, by what the
/// host said (host/error_report.h), and returns the failing HRESULT.
HRESULT AutoWrap(int kind, VARIANT* result, IDispatch* object, LPOLESTR name,
                 int count, ...);

/// Sets what AutoWrap calls just before it ends the process for a null
/// object (after its message): the run stops its own threads there, as at
/// every other end.
void SetBeforeNoObjectExit(void (*beforeExit)());
