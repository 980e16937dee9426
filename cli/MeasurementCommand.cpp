#include "cli/MeasurementCommand.h"

#include "cli/ExitStatus.h"
#include "cli/StopSignals.h"

#include <csignal>
#include <cstdio>

namespace cli {

RunEnd EndOfWaiting(BlockHandOff::Wait wait) {
    if (wait == BlockHandOff::Wait::NoAudio)
        return {ExitNoAudio, "no audio from the input for " +
                                 std::to_string(BlockHandOff::NoAudioLimit.count()) + " s"};
    const int signal = CaughtStopSignal();
    return {signal == SIGTERM ? ExitTerminated : ExitInterrupted,
            signal == SIGTERM ? "ended by SIGTERM" : "interrupted by SIGINT"};
}

int Report(const RunEnd& end) {
    if (!end.why.empty())
        std::fprintf(stderr, "tembrix: %s\n", end.why.c_str());
    return end.status;
}

} // namespace cli
