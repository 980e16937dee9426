// Ending the process at once from any thread.
#pragma once

namespace platform {
// Flushes the standard streams and ends the process with `status` without
// running static destructors, which other live threads may still be using.
[[noreturn]] void ExitProcessNow(int status);
} // namespace platform
