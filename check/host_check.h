// The checks that start the host as a run does: host-start, macros and
// workbook, then the host let go of. Every call into the host, leaving
// COM included, is bounded by the watchdog (check/watchdog.h).
#pragma once

#include <string>

#include "check/check_report.h"

/// The facts the host checks need besides the report so far.
struct HostCheckContext {
  std::wstring limitText;     ///< ULVEX_TIME_LIMIT as given, "" without one
  bool lacksDesktop = false;  ///< the desktop check found a folder missing
};

/// host-start: starts the host with the run's own start routine (tied to a
/// job that ends it with this check, not recorded) and reads its Version.
/// started tells whether it runs for the checks that follow.
CheckResult CheckHostStart(const HostCheckContext& context, bool& started);

/// macros: the host's Application.AutomationSecurity.
CheckResult CheckMacros();

/// workbook: writes a small text file of the check's own under the
/// temporary folder, opens it with Workbooks.Open as a run opens its
/// workbook, closes it with SaveChanges False and deletes it.
CheckResult CheckWorkbook(const HostCheckContext& context);

/// After the host checks' results are in the report: Quit, the release,
/// COM left, and the host's own end waited for (ended through its job if
/// it does not come). A call that does not return here adds a note to the
/// report's last line.
void LetGoOfHost();
