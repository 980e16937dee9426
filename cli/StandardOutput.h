// What the program prints on standard output itself (help, version, the
// device list) must reach it: a full disk, a closed descriptor or a reader
// gone is a failure, never a silent success.
#pragma once

#include <string_view>

namespace cli {

// Writes `text` and flushes it: ExitDone when all of it reached standard
// output, else ExitFailed after "tembrix: cannot write standard output:
// REASON" on standard error.
int WriteStandardOutput(std::string_view text);

} // namespace cli
