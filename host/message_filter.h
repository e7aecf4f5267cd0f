// A COM message filter for the run's thread: a call that a busy host
// rejects (a dialog open, a recalculation running) is tried again for a
// while instead of failing at once.
#pragma once

/// Registers the filter for the calling thread's apartment (after COM is
/// initialised). Failures are silent: calls then fail as without it.
void RegisterBusyHostFilter();
