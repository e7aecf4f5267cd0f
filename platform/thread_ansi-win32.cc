#include <windows.h>

#include <climits>

#include "platform/thread_ansi.h"

bool ThreadAnsiToWide(const std::string& text, std::wstring& wide) {
  wide.clear();
  if (text.empty()) return true;
  if (text.size() > static_cast<size_t>(INT_MAX)) return false;
  const int length = static_cast<int>(text.size());
  const int needed =
      MultiByteToWideChar(CP_THREAD_ACP, 0, text.data(), length, nullptr, 0);
  if (needed <= 0) return false;
  wide.resize(static_cast<size_t>(needed));
  const int written = MultiByteToWideChar(CP_THREAD_ACP, 0, text.data(), length,
                                          &wide[0], needed);
  if (written != needed) {
    wide.clear();
    return false;
  }
  return true;
}
