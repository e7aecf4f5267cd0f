// Starts the host with the add-in workbook and lets go of it at the end.
#pragma once

#include <windows.h>
// Needs <windows.h> first.
#include <oleauto.h>

#include "ownership/host_job.h"
#include "platform/win_resource.h"

/// The host objects held from the launch to the release, and the host's
/// process (null when the host did not name its window), whose end the wait
/// for the add-in watches: a process the window names that is not the
/// registered host is held with SYNCHRONIZE only, to watch its end.
struct ExcelSession {
  ulvex::ComPtr<IDispatch> application;
  ulvex::ComPtr<IDispatch> workbooks;
  ulvex::UniqueHandle hostProcess;
  /// Visible was set: the host is under the user's control and outlives
  /// the last reference to it, as a visible Excel does.
  bool underUserControl = false;
};

/// How the launch ended.
enum class LaunchOutcome {
  Opened,           ///< the host runs with the add-in workbook opened
  Ended,            ///< the run ends with status 1; its message is printed
  WorkbookNotOpen,  ///< the host runs, but Open failed; the call's
                    ///< failure is printed, PrintWorkbookNotOpen is the
                    ///< caller's (the add-in may have ended its task
                    ///< inside Open)
  Interrupted,      ///< interrupted before the host was asked for, or
                    ///< while it started (then it is tied and recorded);
                    ///< nothing is printed
};

/// How the start of the host ended.
enum class StartOutcome {
  Started,       ///< the host runs; its window was read and the tie tried
  ClassUnknown,  ///< the class cannot be found; nothing was started
  NotCreated,    ///< the host could not be created
  Interrupted,   ///< interrupted before the host was asked for
};

/// What the start found, for the lines of whoever called it.
struct HostStart {
  HRESULT status = S_OK;  ///< the failure of ClassUnknown and NotCreated
  HWND window = nullptr;  ///< the host's main window, when it named one
  HostWindowFacts found;  ///< the process behind the window, and what it is
  bool tied = false;      ///< the host is in a job that ends it with us
  DWORD untiedError = 0;  ///< why not: 0 when the host named no window
};

/// The start of the host that every program of ours shares: COM apartment
/// and the busy-host message filter, the class of "Excel.Application", the
/// host created out of process and, straight after it and before any other
/// call, a quiet read of its window (Hwnd) and the tie of its process to a
/// job that ends it with this process (ownership/host_job.h). interrupted is
/// asked right before the host is asked for. From then on an interruption
/// waits for this thread (BeginHostStart): for Started and NotCreated the
/// caller calls EndHostStart once it has done what must come first (the
/// run records the host). Prints nothing; output is flushed before the
/// host is asked for.
StartOutcome StartExcel(ExcelSession& session, bool (*interrupted)(),
                        HostStart& start);

/// Initialises COM and creates the host (StartExcel); straight after it
/// returns, reads the host's window, ties the host to the run and records it,
/// before any other call. Then makes it visible and maximised and opens the
/// add-in workbook. interrupted is asked right before the host is asked for and
/// right after it is tied. Standard output is flushed before each call
/// into the host, so that no line is lost if the process is ended there.
LaunchOutcome LaunchExcel(ExcelSession& session, bool (*interrupted)());

/// The lines of a run whose add-in workbook could not be opened: which
/// workbook, and the advice for a run without an interactive desktop.
void PrintWorkbookNotOpen();

/// Releases the workbooks collection and the application, and nothing
/// else: COM stays, and ReleaseExcel later releases what is still held.
/// A host closed while a client holds any of its objects only hides and
/// goes on running; without them, it ends and the wait sees it end.
void LetGoOfHostObjects(ExcelSession& session);

/// Takes the object out of a property's or a method's value; false when the
/// value holds no object.
bool TakeHostObject(ulvex::Variant& value, ulvex::ComPtr<IDispatch>& object);

/// Releases the workbooks collection, then the application, then leaves COM.
void ReleaseExcel(ExcelSession& session);
