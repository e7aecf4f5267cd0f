// STUB: replaced by the real implementation.
#include "handoff/handoff_store.h"
const char kHandoffKeyPath[] = "Software\\Quennet\\Ulvex";
std::wstring HandoffKeyPathW() { return L"Software\\Quennet\\Ulvex"; }
void SetCommandLineRegKey() {}
void ResetProgressRegKey() {}
std::wstring GetStringRegKey(HKEY) { return L"GetStringRegKey Error"; }
