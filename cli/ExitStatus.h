// How every run ends, the window's and the command line's: one table, also
// in --help and the README. A run that fails never ends with ExitDone.
#pragma once

namespace cli {

enum ExitStatus : int {
    ExitDone = 0,
    ExitFailed = 1,        // a device, memory or file failure, with its message
    ExitUsage = 2,         // bad usage, refused before any device is opened
    ExitPointTimeout = 3,  // a sweep point (or a report's figure) not measured in time, or a
                           // swept sine's recording that held a gap each time
    ExitNoAudio = 4,       // no audio from the input
    ExitLoopCheck = 5,     // the loop-back check before a report failed, or a swept sine
                           // that did not come back
    ExitHangUp = 129,      // SIGHUP (the terminal closed), after writing what was measured
    ExitInterrupted = 130, // SIGINT, likewise
    ExitTerminated = 143,  // SIGTERM, likewise
};

} // namespace cli
