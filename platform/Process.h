// Ending the process at once from any thread.
#pragma once

namespace platform {
// Flushes the standard streams and ends the process with `status` without
// running static destructors, which other live threads may still be using.
[[noreturn]] void ExitProcessNow(int status);

// From now on an end through ExitProcessNow with status 0 ends with 1: where
// every such end is a failure (the command line's runs end normally by
// returning from main), a script must never read one as success.
void TreatEveryProcessEndAsFailure();
} // namespace platform
