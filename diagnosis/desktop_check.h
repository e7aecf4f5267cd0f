// The advice for a run without an interactive desktop whose Open fails or
// never returns: worked out before Open, printed by the run's thread when
// Open fails, or by the thread that ends the run when the time limit runs
// out inside Open.
#pragma once

#include <string>
#include <vector>

#include "diagnosis/desktop_advice.h"

/// Works out the advice line (diagnosis/desktop_advice.h) for this run and marks
/// the run as inside Open. Call right before the call to Open.
void BeginOpen();

/// Marks the run as out of Open. Call right after the call to Open.
void EndOpen();

/// Prints the advice line with "\n", if there is one. For a failed Open.
void PrintDesktopAdvice();

/// The advice line with "\n" in the ANSI code page while the run is inside
/// Open, otherwise "". For the thread that ends the run: it only reads a
/// buffer filled before Open, takes no lock and allocates nothing.
const char* DesktopAdviceForEnding();

/// What the run's desktop check finds for this process, for a report.
struct DesktopFinding {
  SessionFacts session;
  bool interactive = true;
  std::wstring profile;                     ///< the account's profile folder
  std::vector<DesktopFolderState> folders;  ///< without a desktop only
  std::wstring advice;                      ///< the run's line, "" for none
};

/// Looks as the run looks before Open; prints nothing.
DesktopFinding CheckDesktop();
