// Starts the host with the add-in workbook and lets go of it at the end.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include "platform/win_resource.h"

/// The host objects held from the launch to the release.
struct ExcelSession {
  ulvex::ComPtr<IDispatch> application;
  ulvex::ComPtr<IDispatch> workbooks;
};

/// Initialises COM, creates the host, makes it visible and maximised and
/// opens the add-in workbook. False when the run must end with status 1
/// (its message has been printed).
bool LaunchExcel(ExcelSession& session);

/// Releases the workbooks collection, then the application, then leaves COM.
void ReleaseExcel(ExcelSession& session);
