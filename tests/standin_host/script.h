// The scripted add-in: a small line-based language that says how the host
// answers the automation calls and what the "add-in" writes to the hand-off
// key once the workbook is open. The language is described in README.md.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace standin {

struct ScriptStep {
  enum Kind {
    kProgress,
    kSleep,
    kDeleteProgress,
    kIdle,
    kQuit,
    kCrash,
    kChild
  };
  Kind kind;
  std::wstring text;  ///< kProgress: the text to write
  DWORD ms = 0;       ///< kSleep; kChild: how long the child idles
};

struct MemberFailure {
  std::wstring member;
  HRESULT status;
};

struct MemberDelay {
  std::wstring member;
  DWORD ms;
};

struct Script {
  std::vector<ScriptStep> steps;        ///< played after Open
  std::vector<std::wstring> refused;    ///< lookups that fail
  std::vector<MemberFailure> failures;  ///< invocations that fail
  std::vector<MemberDelay> slowCalls;   ///< invocations that answer late
  std::vector<std::string> errors;      ///< "line 3: ...", for the log
  bool hangOpen = false;                ///< Open never returns
  bool failOpenStarted = false;         ///< Open starts the add-in, then fails
  bool stay = false;            ///< the host stays after its last release
  DWORD slowStartMs = 0;        ///< before the class is registered
  DWORD slowReleaseMs = 0;      ///< in the client's last release
  LONG automationSecurity = 1;  ///< AutomationSecurity at start-up
};

/// The largest script file the host reads.
constexpr DWORD kMaxScriptBytes = 1 << 20;

/// Reads the whole file; false when it cannot be read or is too large.
bool ReadScriptFile(const std::wstring& path, std::string& bytes);

/// Parses UTF-8 script text (a byte-order mark is skipped).
Script ParseScript(const std::string& text);

/// Plays the steps as the add-in would: logs the hand-off "CommandLine",
/// then writes and deletes "Progress" and sleeps as told. A sleep ends
/// early when stop is signalled. The step that ended the script: kQuit or
/// kCrash when it asked the host to end, kIdle otherwise.
ScriptStep::Kind PlayScript(const std::vector<ScriptStep>& steps, HANDLE stop);

}  // namespace standin
