// The stand-in host's state and its automation objects: the application,
// its workbooks collection and the workbooks it opens, each a hand-written
// IDispatch without a type library, as a late-bound client sees them.
#pragma once

#include <windows.h>
// Needs <windows.h> first.
#include <oleauto.h>

#include <atomic>

#include "tests/standin_host/script.h"

namespace standin {

struct HostState {
  Script directives;      ///< read at start-up: refusals and failures
  HANDLE wake = nullptr;  ///< auto-reset: the main loop looks again
  HANDLE stop = nullptr;  ///< manual-reset: the add-in stops
  HANDLE addInThread = nullptr;
  std::atomic<bool> addInRunning{false};
  std::atomic<bool> quitByScript{false};
  std::atomic<bool> crashByScript{false};
  std::atomic<bool> closeByScript{false};  ///< the user closed the window
  std::atomic<bool> quitCalled{false};     ///< the client called Quit
  /// Visible is True: the host is under the user's control and stays after
  /// its last release, as a visible Excel does.
  std::atomic<bool> userControl{false};
  std::atomic<DWORD> createdTick{0};  ///< when the application was made
  HWND window = nullptr;              ///< the main window, named by "Hwnd"
  std::atomic<LONG> liveObjects{0};   ///< objects and server locks
  std::atomic<bool> activated{false};
  std::atomic<bool> exiting{false};
  std::atomic<DWORD> lastActivity{0};  ///< tick of the last call or step
};

HostState& State();

/// The class factory registered for the host's class (not reference
/// counted: it lives as long as the process).
IClassFactory* ClassFactory();

}  // namespace standin
