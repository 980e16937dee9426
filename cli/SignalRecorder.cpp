#include "cli/SignalRecorder.h"

#include "audio/Audio.h"
#include "audio/SignalRecording.h"

#include <algorithm>
#include <utility>

namespace cli {
namespace {

RecordedSignal Ended(RunEnd end) {
    RecordedSignal recorded;
    recorded.end = std::move(end);
    return recorded;
}

} // namespace

RecordedSignal RecordSignal(BlockHandOff& blocks, const SignalToRecord& signal) {
    // Once a block has come the input runs: a signal played before would
    // come back unrecorded.
    BlockHandOff::Block block;
    if (const BlockHandOff::Wait wait = blocks.Next(block); wait != BlockHandOff::Wait::Block)
        return Ended(EndOfWaiting(wait));
    blocks.Done();

    const SignalPlayback::Program program{signal.samples, signal.leadInFrames,
                                          std::max(signal.marginFrames, MinimumMarginFrames),
                                          signal.channel};
    if (const std::optional<std::string> refused = audio::StartSignalRecording(program))
        return Ended({ExitFailed, *refused});

    while (!Recording.Finished()) {
        const BlockHandOff::Wait wait = blocks.Next(block);
        if (wait != BlockHandOff::Wait::Block) {
            audio::CancelSignalRecording();
            return Ended(EndOfWaiting(wait));
        }
        blocks.Done();
    }
    InputRecording::Result result = audio::TakeSignalRecording();
    RecordedSignal recorded;
    recorded.gap = result.gap;
    recorded.samples = std::move(result.samples);
    recorded.channels = result.channels;
    recorded.signalStart = result.signalStart;
    return recorded;
}

} // namespace cli
