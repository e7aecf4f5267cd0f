#include <cwchar>

#include "handoff/handoff_store.h"
#include "handoff/progress_data.h"
#include "platform/console.h"
#include "platform/thread_ansi.h"
#include "platform/win_resource.h"

namespace {

constexpr wchar_t kCommandLineValue[] = L"CommandLine";
constexpr wchar_t kProgressValue[] = L"Progress";
constexpr wchar_t kReadErrorText[] = L"GetStringRegKey Error";

// One read of "Progress" takes at most this much data: 4,095 characters of
// text and the terminating NUL.
constexpr DWORD kProgressReadBytes = 8192;

// Opens the existing hand-off key for writing; the key is never created.
LSTATUS OpenForWriting(ulvex::UniqueHkey& key) {
  const std::wstring path = HandoffKeyPathW();
  return RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_SET_VALUE,
                       key.put());
}

class Win32Writer : public HandoffWriter {
 public:
  // Writes text as REG_SZ, the byte count including the terminating NUL.
  bool WriteString(const wchar_t* name, const wchar_t* text) override {
    ulvex::UniqueHkey key;
    if (OpenForWriting(key) != ERROR_SUCCESS) return false;
    const size_t byteCount = (wcslen(text) + 1) * sizeof(wchar_t);
    return RegSetValueExW(key.get(), name, 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(text),
                          static_cast<DWORD>(byteCount)) == ERROR_SUCCESS;
  }
};

}  // namespace

LSTATUS OpenHandoffKeyOnly(REGSAM access) {
  ulvex::UniqueHkey key;
  return RegOpenKeyExW(HKEY_CURRENT_USER, HandoffKeyPathW().c_str(), 0, access,
                       key.put());
}

LSTATUS ProbeHandoffKey(HandoffKeyOpener open) {
  // One open with all the rights together: a key that grants setting but
  // not notifying fails every run at its wait.
  return open(kHandoffRunAccess);
}

HandoffWriter& Win32HandoffWriter() {
  static Win32Writer writer;
  return writer;
}

const char kHandoffKeyPath[] = "Software\\Quennet\\Ulvex";

std::wstring HandoffKeyPathW() {
  std::wstring path;
  ThreadAnsiToWide(kHandoffKeyPath, path);  // empty when it cannot convert
  return path;
}

bool SetCommandLineRegKey(HandoffWriter& writer) {
  // The raw line, not one rebuilt from the parsed options: the add-in sees
  // the caller's quoting, spacing and every argument.
  if (writer.WriteString(kCommandLineValue, GetCommandLineW())) return true;
  const std::wstring pathWithSeparator = HandoffKeyPathW() + L"\\";
  PrintWide(L"Command line ERR: Failed to set Registry value : %ls%ls\n",
            pathWithSeparator.c_str(), kCommandLineValue);
  return false;
}

bool ResetProgressRegKey(HandoffWriter& writer) {
  // Without this an earlier run's final "QUIT" text would end the wait.
  if (writer.WriteString(kProgressValue, L"")) return true;
  PrintWide(
      L"Progress ERR: Failed to set Ulvex Progress Registry value : %ls\n",
      kProgressValue);
  return false;
}

bool HandOffCommandLine(HandoffWriter& writer) {
  // Both writes always run, so that each failure is reported.
  const bool commandLineStored = SetCommandLineRegKey(writer);
  const bool progressEmptied = ResetProgressRegKey(writer);
  return commandLineStored && progressEmptied;
}

std::wstring GetStringRegKey(HKEY key) {
  // DWORD elements keep the buffer aligned for the code units it holds.
  DWORD buffer[kProgressReadBytes / sizeof(DWORD)];
  DWORD byteCount = kProgressReadBytes;
  DWORD type = REG_NONE;
  const LSTATUS status =
      RegQueryValueExW(key, kProgressValue, nullptr, &type,
                       reinterpret_cast<BYTE*>(buffer), &byteCount);
  if (status != ERROR_SUCCESS || byteCount > kProgressReadBytes)
    return kReadErrorText;
  // Only a string is a text: the bytes of a number, a binary value or a
  // string list could otherwise spell out the success text. An expandable
  // string is taken as it stands, unexpanded.
  if (type != REG_SZ && type != REG_EXPAND_SZ) return kReadErrorText;
  return ProgressTextFromData(reinterpret_cast<const unsigned char*>(buffer),
                              byteCount);
}
