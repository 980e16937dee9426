#include "cli/MeasurementCommand.h"

#include "audio/Audio.h"
#include "cli/ExitStatus.h"
#include "cli/StopSignals.h"

#include <csignal>
#include <cstdio>

namespace cli {

namespace {

RunEnd EndBySignal(int signal) {
    switch (signal) {
    case SIGTERM:
        return {ExitTerminated, "ended by SIGTERM"};
    case SIGHUP:
        return {ExitHangUp, "ended by SIGHUP"};
    default:
        return {ExitInterrupted, "interrupted by SIGINT"};
    }
}

} // namespace

RunEnd EndOfWaiting(BlockHandOff::Wait wait) {
    if (wait == BlockHandOff::Wait::NoAudio)
        return {ExitNoAudio, "no audio from the input for " +
                                 std::to_string(BlockHandOff::NoAudioLimit.count()) + " s"};
    return EndBySignal(CaughtStopSignal());
}

int Report(const RunEnd& end) {
    if (!end.why.empty())
        std::fprintf(stderr, "tembrix: %s\n", end.why.c_str());
    return end.status;
}

std::string ChannelLabel(int channel) {
    if (ChannelCount == 1)
        return "";
    return std::string(" (") + ChannelName(channel) + ")";
}

} // namespace cli
