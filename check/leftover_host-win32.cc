#include <string>

#include "check/leftover_host.h"
#include "ownership/host_record.h"

LeftoverFacts ReadLeftoverFacts(bool runInProgress) {
  const LeftoverHost leftover = LookForLeftoverHost();
  LeftoverFacts facts;
  facts.runInProgress = runInProgress;
  facts.processId = leftover.processId;
  facts.image = leftover.image;
  if (!leftover.recorded) return facts;
  facts.state = LeftoverFacts::Stale;
  if (!leftover.running) return facts;
  // What EndLeftoverHost does with it.
  switch (leftover.check) {
    case HostCheck::Host:
      facts.state = LeftoverFacts::Ended;
      break;
    case HostCheck::OtherProgram:
    case HostCheck::OtherUser:
      facts.state = LeftoverFacts::LeftAlone;
      facts.reason = HostCheckReason(leftover.check);
      break;
    case HostCheck::Unchecked:
      facts.state = LeftoverFacts::Holds;
      facts.reason = "it could not be checked: error " +
                     std::to_string(leftover.detail.error);
      break;
    default:
      facts.state = LeftoverFacts::Holds;
      facts.reason = HostCheckReason(leftover.check);
      break;
  }
  return facts;
}
