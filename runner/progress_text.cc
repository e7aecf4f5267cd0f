#include "runner/progress_text.h"

#include <cwchar>

namespace {

constexpr wchar_t kQuitPrefix[] = L"QUIT";
constexpr size_t kQuitPrefixLength = 4;
constexpr wchar_t kDoneText[] = L"DONE";

// strftime's buffer for the time stamp; "\nhh:mm:ss" needs 10 bytes.
constexpr size_t kTimeStampBufferSize = 80;
constexpr char kTimeStampFormat[] = "\n%I:%M:%S";

}  // namespace

const wchar_t kSuccessText[] = L"QUIT - Task SUCCEEDED, process exit code 0";

const wchar_t kHostEndedText[] =
    L"Excel ended before the Ulvex Task reported its end";

bool IsQuitText(const std::wstring& text) {
  // Code unit by code unit and case-sensitive: "quit" is an ordinary text.
  return text.size() >= kQuitPrefixLength &&
         text.compare(0, kQuitPrefixLength, kQuitPrefix) == 0;
}

bool IsSuccessText(const std::wstring& text) { return text == kSuccessText; }

ProgressOutput DecideProgressOutput(const std::wstring& current,
                                    const std::wstring& previous) {
  if (current != previous) {
    if (current == kDoneText) return ProgressOutput::LineEndOnly;
    if (!current.empty()) return ProgressOutput::NewLine;
  }
  return ProgressOutput::Dot;
}

std::string FormatTimeStamp(const std::tm& localTime) {
  char buffer[kTimeStampBufferSize];
  const size_t length =
      strftime(buffer, sizeof buffer, kTimeStampFormat, &localTime);
  return std::string(buffer, length);
}
