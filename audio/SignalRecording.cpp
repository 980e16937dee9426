#include "audio/SignalRecording.h"

#include "audio/Audio.h"

namespace audio {

std::optional<std::string> StartSignalRecording(const SignalPlayback::Program& program) {
    if (!QueuedSignal.Queue(program))
        return "another signal is still playing";
    // Requested after the queueing, so that the recording never sees the
    // start of a signal played before; and before the message, so that it
    // holds what comes before the lead-in.
    Recording.Request(program.leadInFrames, program.samples.size() + program.marginFrames,
                      CurrentStreamBreaks(), ChannelCount);
    if (!SoundOutThread->PostThreadMessage(WM_PLAY_SIGNAL, 0, 0)) {
        CancelSignalRecording();
        return "the playback thread has ended";
    }
    return std::nullopt;
}

InputRecording::Result TakeSignalRecording() {
    QueuedSignal.Finish(SoundOutThread);
    return Recording.Take();
}

void CancelSignalRecording() {
    Recording.Cancel();
    QueuedSignal.Finish(SoundOutThread);
}

} // namespace audio
