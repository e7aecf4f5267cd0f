// The one late-bound call into the host's automation objects.
#pragma once

#include <windows.h>
// Needs <windows.h> first.
#include <oleauto.h>

#include <string>

/// Calls member name of object by name: kind is DISPATCH_METHOD (1),
/// DISPATCH_PROPERTYGET (2) or DISPATCH_PROPERTYPUT (4); count VARIANTs
/// follow, passed by value. Prints its failure messages on stdout, each
/// followed by its line in words and, after DISP_E_EXCEPTION, by what the
/// host said (diagnosis/error_report.h), and returns the failing HRESULT.
HRESULT AutoWrap(int kind, VARIANT* result, IDispatch* object, LPOLESTR name,
                 int count, ...);

/// Sets what AutoWrap calls just before it ends the process for a null
/// object (after its message): the run stops its own threads there, as at
/// every other end.
void SetBeforeNoObjectExit(void (*beforeExit)());

/// From now on (retry true) a call the host ignores while busy
/// (VBA_E_IGNORE) is made again every kRetryDelayMs for as long as the
/// message filter retries a host that says "retry later"
/// (diagnosis/call_retry.h); only its last failure is printed. For the
/// launch, whose calls a host that has just started may ignore.
void SetRetryIgnoredCalls(bool retry);

/// A failed call as AutoWrap found it.
struct CallFailure {
  bool lookup = false;  ///< the name lookup failed (otherwise the call)
  HRESULT status = S_OK;
  std::wstring source;       ///< what the host said after DISP_E_EXCEPTION
  std::wstring description;  ///< (empty when it said nothing)
};

/// From now on AutoWrap keeps the failure of each call in failure instead
/// of printing its messages, and a null object fails with E_POINTER
/// instead of ending the process; null prints again. For a program that
/// reports failures in its own words.
void SetAutoWrapCapture(CallFailure* failure);
