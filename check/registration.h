// The host's class registration and DCOM identity as the checks see them,
// read through the run's own registration reader.
#pragma once

#include <vector>

#include "check/verdicts.h"
#include "ownership/host_registration.h"

/// What each view registers, whether its program is there and its kind
/// (32- or 64-bit), and the version a run acts on.
RegistrationFacts ReadRegistrationFacts(
    const std::vector<HostRegistration>& registrations);

/// The RunAs value of the first registered class's AppID (32-bit view
/// first), and whether it names this account.
DcomFacts ReadDcomFacts(const std::vector<HostRegistration>& registrations);

/// True when the RunAs of the host's class (read again) names an account
/// that is looked up and is not this one.
bool RunAsNamesAnotherAccount();
