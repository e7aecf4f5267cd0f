// The checks that start the host as a run does: host-start and workbook.
// Every call into the host is bounded by the watchdog (check/watchdog.h);
// each check that ends the checks of the host lets the host go and makes
// sure it has ended.
#pragma once

#include <string>

#include "check/check_report.h"

/// The facts the host checks need besides the report so far.
struct HostCheckContext {
  const CheckReport* report = nullptr;  ///< for the watchdog's texts
  std::wstring limitText;     ///< ULVEX_TIME_LIMIT as given, "" without one
  bool lacksDesktop = false;  ///< the desktop check found a folder missing
};

/// host-start: starts the host with the run's own start routine (tied to a
/// job that ends it with this check, not recorded) and reads its Version.
/// When the host cannot go on to the workbook check, it is let go of and
/// ended here. started tells whether it is running for that check.
CheckResult CheckHostStart(const HostCheckContext& context, bool& started);

/// workbook: Workbooks.Add, then that workbook's Close with SaveChanges
/// False; then Quit, the release, and the host's end.
CheckResult CheckWorkbook(const HostCheckContext& context);
