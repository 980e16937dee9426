// SIGINT, SIGTERM and SIGHUP (the terminal closed) during a command-line run:
// instead of ending the process at once, they are noted, and the run ends
// between two blocks after writing what it has measured.
#pragma once

namespace cli {

void CatchStopSignals();
// SIGINT, SIGTERM and SIGHUP call `handler`, which may do only
// async-signal-safe work.
void HandleStopSignals(void (*handler)(int));
// The stop signal caught, or 0.
int CaughtStopSignal();

} // namespace cli
