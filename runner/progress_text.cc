// STUB: replaced by the real implementation.
#include "runner/progress_text.h"
const wchar_t kSuccessText[] = L"QUIT - Task SUCCEEDED, process exit code 0";
bool IsQuitText(const std::wstring& t) { return t.compare(0, 4, L"QUIT") == 0 && t.size() >= 4; }
bool IsSuccessText(const std::wstring& t) { return t == kSuccessText; }
ProgressOutput DecideProgressOutput(const std::wstring&, const std::wstring&) { return ProgressOutput::Dot; }
std::string FormatTimeStamp(const std::tm&) { return {}; }
