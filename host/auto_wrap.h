// The one late-bound call into the host's automation objects.
#pragma once

#include <windows.h>
#include <oleauto.h>

/// Calls member name of object by name: kind is DISPATCH_METHOD (1),
/// DISPATCH_PROPERTYGET (2) or DISPATCH_PROPERTYPUT (4); count VARIANTs
/// follow, passed by value. Prints its failure messages on stdout and
/// returns the failing HRESULT.
HRESULT AutoWrap(int kind, VARIANT* result, IDispatch* object, LPOLESTR name,
                 int count, ...);
