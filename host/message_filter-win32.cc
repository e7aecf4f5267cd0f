#include <windows.h>

#include "host/message_filter.h"
// Needs <windows.h> first.
#include <objbase.h>

#include "diagnosis/call_retry.h"
#include "platform/system_api.h"

namespace {

static_assert(kServerCallRejected == SERVERCALL_REJECTED, "");
static_assert(kServerCallRetryLater == SERVERCALL_RETRYLATER, "");

// Lives as long as the process; COM holds it from registration on.
class BusyHostFilter : public IMessageFilter {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (out == nullptr) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) ||
        IsEqualIID(riid, IID_IMessageFilter)) {
      *out = static_cast<IMessageFilter*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  // Calls into this program (none are expected) are served as they come.
  DWORD STDMETHODCALLTYPE HandleInComingCall(DWORD, HTASK, DWORD,
                                             LPINTERFACEINFO) override {
    return SERVERCALL_ISHANDLED;
  }
  DWORD STDMETHODCALLTYPE RetryRejectedCall(HTASK, DWORD elapsedMs,
                                            DWORD rejectType) override {
    return static_cast<DWORD>(RetryDelayFor(rejectType, elapsedMs));
  }
  // While a call is outstanding, messages are handled as without a filter.
  DWORD STDMETHODCALLTYPE MessagePending(HTASK, DWORD, DWORD) override {
    return PENDINGMSG_WAITDEFPROCESS;
  }
};

}  // namespace

void RegisterBusyHostFilter() {
  static BusyHostFilter filter;
  IMessageFilter* previous = nullptr;
  ulvex::System().CoRegisterMessageFilter(&filter, &previous);
}
