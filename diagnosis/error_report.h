// The line in words that follows each failure line of the automation
// layer, and the host's own explanation of a failed call.
#pragma once

#include <windows.h>
// Needs <windows.h> first.
#include <oleauto.h>

#include <string>

/// Prints the line in words for status (diagnosis/error_text.h), or the
/// system's own text for a code the table does not hold (in the user's
/// language, any script), or nothing when the system has none. Ends with
/// "\n" and flushes.
void PrintCodeInWords(HRESULT status);

/// The same words as text: the table's line, or the system's own text, or
/// "" when there is neither.
std::wstring CodeInWordsText(HRESULT status);

/// Keeps status for PrintDeferredCodeInWords: the failure line of a host
/// that could not be created goes on with AutoWrap's null-object line,
/// and the words follow that.
void DeferCodeInWords(HRESULT status);

/// Prints the words of a status kept by DeferCodeInWords, once.
void PrintDeferredCodeInWords();

/// The exception information a call into the host may return. Its strings
/// are the caller's to free: the destructor frees them.
class HostException {
 public:
  HostException() : info_() {}
  HostException(const HostException&) = delete;
  HostException& operator=(const HostException&) = delete;
  ~HostException();
  EXCEPINFO* get() { return &info_; }

  /// Prints "Excel said (<source>): <description>\n" from what the host
  /// gave (after its deferred fill-in), or nothing when it gave neither.
  void Print();

  /// What the host gave (after its deferred fill-in), as text; empty where
  /// it gave nothing.
  void Take(std::wstring& source, std::wstring& description);

 private:
  void FillIn();

  EXCEPINFO info_;
};
