// The record of a host that an earlier run left, as the check sees it.
#pragma once

#include "check/verdicts.h"

/// Looks at the record as the next run would, and says what that run would
/// do with the process it names; runInProgress: the run lock is held, so
/// the record is that run's.
LeftoverFacts ReadLeftoverFacts(bool runInProgress);
