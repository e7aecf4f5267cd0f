// The run's console control handler and its session watch: the stops that
// the shared sources (platform/stop_signals.h) are told of end the run
// through the claim of who ends it.
#include "platform/stop_signals.h"
#include "runner/interrupt.h"
#include "runner/run_ending.h"

namespace {

void InterruptFromSource(DWORD kind) { Interrupt(kind); }

void InterruptFromSourceUntilEnded(DWORD kind) { InterruptUntilEnded(kind); }

}  // namespace

void InstallInterruptHandler() {
  if (PrepareRunEnding())
    InstallConsoleStopHandler(InterruptFromSourceUntilEnded);
}

void WatchSessionEnd() {
  AddWatchThread(StartSessionWatch(
      WatchThreadsStop(), InterruptFromSourceUntilEnded, InterruptFromSource));
}
