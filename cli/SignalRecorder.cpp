#include "cli/SignalRecorder.h"

#include "audio/Audio.h"

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
                                          std::max(signal.marginFrames, MinimumMarginFrames)};
    if (!QueuedSignal.Queue(program))
        return Ended({ExitFailed, "another signal is still playing"});
    // Requested after the queueing, so that the recording never sees the
    // start of a signal played before; and before the message, so that it
    // holds what comes before the lead-in.
    Recording.Request(program.leadInFrames, program.samples.size() + program.marginFrames,
                      CurrentStreamBreaks());
    if (!SoundOutThread->PostThreadMessage(WM_PLAY_SIGNAL, 0, 0)) {
        Recording.Cancel();
        QueuedSignal.Finish(SoundOutThread);
        return Ended({ExitFailed, "the playback thread has ended"});
    }

    while (!Recording.Finished()) {
        const BlockHandOff::Wait wait = blocks.Next(block);
        if (wait != BlockHandOff::Wait::Block) {
            Recording.Cancel();
            QueuedSignal.Finish(SoundOutThread);
            return Ended(EndOfWaiting(wait));
        }
        blocks.Done();
    }
    QueuedSignal.Finish(SoundOutThread);
    InputRecording::Result result = Recording.Take();
    RecordedSignal recorded;
    recorded.gap = result.gap;
    recorded.samples = std::move(result.samples);
    recorded.signalStart = result.signalStart;
    return recorded;
}

} // namespace cli
