// Starts the host with the add-in workbook and lets go of it at the end.
#pragma once

#include <windows.h>
// Needs <windows.h> first.
#include <oleauto.h>

#include "platform/win_resource.h"

/// The host objects held from the launch to the release, and the host's
/// process (null when the host did not name its window), whose end the wait
/// for the add-in watches: a process the window names that is not the
/// registered host is held with SYNCHRONIZE only, to watch its end.
struct ExcelSession {
  ulvex::ComPtr<IDispatch> application;
  ulvex::ComPtr<IDispatch> workbooks;
  ulvex::UniqueHandle hostProcess;
};

/// How the launch ended.
enum class LaunchOutcome {
  Opened,           ///< the host runs with the add-in workbook opened
  Ended,            ///< the run ends with status 1; its message is printed
  WorkbookNotOpen,  ///< the host runs, but Open failed; the messages are
                    ///< printed and no progress can come
  Interrupted,      ///< interrupted before the host was asked for, or
                    ///< while it started (then it is tied and recorded);
                    ///< nothing is printed
};

/// Initialises COM and creates the host; straight after it returns, reads
/// the host's window, ties the host to the run and records it, before any
/// other call. Then makes it visible and maximised and opens the add-in
/// workbook. interrupted is asked right before the host is asked for and
/// right after it is tied. Standard output is flushed before each call
/// into the host, so that no line is lost if the process is ended there.
LaunchOutcome LaunchExcel(ExcelSession& session, bool (*interrupted)());

/// Releases the workbooks collection, then the application, then leaves COM.
void ReleaseExcel(ExcelSession& session);
