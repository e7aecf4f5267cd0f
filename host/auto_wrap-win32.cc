// STUB: replaced by the real implementation.
#include "host/auto_wrap.h"
HRESULT AutoWrap(int, VARIANT*, IDispatch*, LPOLESTR, int, ...) { return E_NOTIMPL; }
