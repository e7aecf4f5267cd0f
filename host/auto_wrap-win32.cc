#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <vector>

#include "diagnosis/call_retry.h"
#include "diagnosis/error_report.h"
#include "host/auto_wrap.h"

namespace {

// Bytes of the narrow copy of a member name shown in the messages. The
// longest name the program uses ("FileValidation") needs 15.
constexpr int kMemberNameBufferSize = 64;
// A name whose ANSI form does not fit is shown cut, ending with this.
constexpr char kCutMarker[] = "...";

// A missing object means the host could not be created: the run cannot go
// on and has not succeeded.
constexpr int kExitNoObject = 1;

void (*beforeNoObjectExit)() = nullptr;
CallFailure* capture = nullptr;
bool retryIgnored = false;

// True when unit is the first half of a UTF-16 surrogate pair.
bool IsHighSurrogate(wchar_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }

// Bytes (terminator excluded) of the ANSI form of the first count units.
int AnsiBytes(const wchar_t* name, int count) {
  return WideCharToMultiByte(CP_ACP, 0, name, count, nullptr, 0, nullptr,
                             nullptr);
}

// Writes the ANSI form of name into buffer (kMemberNameBufferSize bytes),
// always terminated. A name that does not fit keeps as many leading
// characters as leave room for the cut marker, never half a character.
void NarrowMemberName(const wchar_t* name, char* buffer) {
  buffer[0] = '\0';
  if (name == nullptr) return;
  if (WideCharToMultiByte(CP_ACP, 0, name, -1, buffer, kMemberNameBufferSize,
                          nullptr, nullptr) > 0)
    return;
  // NOTE: a failed conversion leaves the buffer's content undefined.
  buffer[0] = '\0';
  const int room = kMemberNameBufferSize - static_cast<int>(sizeof kCutMarker);
  // Every character takes at least one byte, so no more than room
  // characters can fit.
  const size_t length = wcslen(name);
  int count =
      length < static_cast<size_t>(room) ? static_cast<int>(length) : room;
  for (; count > 0; --count) {
    if (IsHighSurrogate(name[count - 1])) continue;
    const int bytes = AnsiBytes(name, count);
    if (bytes > 0 && bytes <= room) break;
  }
  int written = 0;
  if (count > 0)
    written = WideCharToMultiByte(CP_ACP, 0, name, count, buffer, room, nullptr,
                                  nullptr);
  if (written < 0) written = 0;
  snprintf(buffer + written, kMemberNameBufferSize - written, "%s", kCutMarker);
}

}  // namespace

void SetBeforeNoObjectExit(void (*beforeExit)()) {
  beforeNoObjectExit = beforeExit;
}

void SetAutoWrapCapture(CallFailure* failure) { capture = failure; }

void SetRetryIgnoredCalls(bool retry) { retryIgnored = retry; }

HRESULT AutoWrap(int kind, VARIANT* result, IDispatch* object, LPOLESTR name,
                 int count, ...) {
  if (capture != nullptr) *capture = CallFailure();
  if (object == nullptr && capture != nullptr) {
    capture->status = E_POINTER;
    return E_POINTER;
  }
  if (object == nullptr) {
    fputs("NULL IDispatch passed to AutoWrap()\n", stdout);
    fflush(stdout);
    PrintDeferredCodeInWords();
    if (beforeNoObjectExit != nullptr) beforeNoObjectExit();
    std::_Exit(kExitNoObject);
  }

  char narrowName[kMemberNameBufferSize];
  NarrowMemberName(name, narrowName);

  // What is printed so far reaches the file or pipe even if the process is
  // ended during the call.
  fflush(stdout);
  DISPID dispatchId = 0;
  HRESULT status = object->GetIDsOfNames(IID_NULL, &name, 1,
                                         LOCALE_USER_DEFAULT, &dispatchId);
  if (FAILED(status) && capture != nullptr) {
    capture->lookup = true;
    capture->status = status;
    return status;
  }
  if (FAILED(status)) {
    printf("IDispatch::GetIDsOfNames(\"%s\") failed w/err 0x%08lx\n",
           narrowName, static_cast<unsigned long>(status));
    PrintCodeInWords(status);
    return status;
  }

  // Bitwise copies of the caller's values, first to first; what they refer
  // to stays the caller's. The vector frees the array on every path.
  std::vector<VARIANT> arguments(count > 0 ? static_cast<size_t>(count) : 0);
  va_list values;
  va_start(values, count);
  for (VARIANT& argument : arguments) argument = va_arg(values, VARIANT);
  va_end(values);

  DISPPARAMS parameters = {};
  parameters.rgvarg = arguments.empty() ? nullptr : arguments.data();
  parameters.cArgs = static_cast<UINT>(arguments.size());
  // A property write names its single value as the value to store.
  DISPID propertyPut = DISPID_PROPERTYPUT;
  if (kind & DISPATCH_PROPERTYPUT) {
    parameters.cNamedArgs = 1;
    parameters.rgdispidNamedArgs = &propertyPut;
  }

  // The host's own explanation of a failure comes back in exception.
  HostException exception;
  status = object->Invoke(dispatchId, IID_NULL, LOCALE_SYSTEM_DEFAULT,
                          static_cast<WORD>(kind), &parameters, result,
                          exception.get(), nullptr);
  // NOTE: a host that ignores a call answers it with VBA_E_IGNORE itself,
  // past the message filter, and leaves the call unmade and the exception
  // information empty: the same call is made again.
  const ULONGLONG firstTry = GetTickCount64();
  while (retryIgnored &&
         RetryIgnoredCall(static_cast<uint32_t>(status),
                          static_cast<uint32_t>(GetTickCount64() - firstTry))) {
    Sleep(kRetryDelayMs);
    status = object->Invoke(dispatchId, IID_NULL, LOCALE_SYSTEM_DEFAULT,
                            static_cast<WORD>(kind), &parameters, result,
                            exception.get(), nullptr);
  }
  if (FAILED(status) && capture != nullptr) {
    capture->status = status;
    if (status == DISP_E_EXCEPTION)
      exception.Take(capture->source, capture->description);
    return status;
  }
  if (FAILED(status)) {
    printf("IDispatch ()::Invoke(\"%s\"=%08lx) failed w/ err0x%08lx\n",
           narrowName, static_cast<unsigned long>(dispatchId),
           static_cast<unsigned long>(status));
    PrintCodeInWords(status);
    if (status == DISP_E_EXCEPTION) exception.Print();
  }
  return status;
}
