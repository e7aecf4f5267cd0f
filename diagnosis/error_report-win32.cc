#include <cstdio>
#include <string>

#include "diagnosis/error_report.h"
#include "diagnosis/error_text.h"
#include "platform/console.h"
#include "platform/system_api.h"

namespace {

HRESULT deferredStatus = S_OK;

// The system's text for code in the user's language ("" when it has none),
// without inserts: the text is shown, never formatted with arguments.
std::wstring SystemText(DWORD code) {
  wchar_t* buffer = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
          FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring text;
  if (length > 0 && buffer != nullptr) text.assign(buffer, length);
  if (buffer != nullptr) LocalFree(buffer);
  return OneLine(text);
}

std::wstring SystemTextForStatus(HRESULT status) {
  std::wstring text = SystemText(static_cast<DWORD>(status));
  // NOTE: the system's table may hold a Windows error only under its own
  // number, not under the HRESULT made of it.
  if (text.empty() && HRESULT_FACILITY(status) == FACILITY_WIN32)
    text = SystemText(HRESULT_CODE(status));
  return text;
}

// Up to the first NUL: what a host's explanation shows.
std::wstring Text(BSTR text) {
  return text != nullptr ? std::wstring(text) : std::wstring();
}

}  // namespace

void PrintCodeInWords(HRESULT status) {
  const std::string words = CodeInWords(static_cast<uint32_t>(status));
  if (!words.empty()) {
    printf("%s\n", words.c_str());
  } else {
    const std::wstring text = SystemTextForStatus(status);
    if (!text.empty()) WriteWideText((text + L"\n").c_str());
  }
  FlushOutput();
}

std::wstring CodeInWordsText(HRESULT status) {
  const std::string words = CodeInWords(static_cast<uint32_t>(status));
  // The table's lines are ASCII.
  if (!words.empty()) return std::wstring(words.begin(), words.end());
  return SystemTextForStatus(status);
}

void DeferCodeInWords(HRESULT status) { deferredStatus = status; }

void PrintDeferredCodeInWords() {
  if (!FAILED(deferredStatus)) return;
  const HRESULT status = deferredStatus;
  deferredStatus = S_OK;
  PrintCodeInWords(status);
}

HostException::~HostException() {
  const ulvex::SystemApi& system = ulvex::System();
  for (BSTR* text :
       {&info_.bstrSource, &info_.bstrDescription, &info_.bstrHelpFile}) {
    if (*text != nullptr) system.SysFreeString(*text);
    *text = nullptr;
  }
}

void HostException::FillIn() {
  // A host may leave the information to be filled in when it is asked for.
  if (info_.pfnDeferredFillIn != nullptr) {
    info_.pfnDeferredFillIn(&info_);
    info_.pfnDeferredFillIn = nullptr;
  }
}

void HostException::Take(std::wstring& source, std::wstring& description) {
  FillIn();
  source = Text(info_.bstrSource);
  description = Text(info_.bstrDescription);
}

void HostException::Print() {
  FillIn();
  const std::wstring line =
      HostSaidLine(Text(info_.bstrSource), Text(info_.bstrDescription));
  if (!line.empty()) WriteWideText((line + L"\n").c_str());
  FlushOutput();
}
