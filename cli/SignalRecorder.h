// A prepared signal played once through the card and recorded as it comes
// back: what a swept-sine measurement stands on. The playback thread plays
// the signal in place of the tone and then the tone again, at its frequency
// and level; the capture thread records every block meanwhile; the caller's
// thread serves the block hand-off until the recording is whole, as a
// command-line measurement waits for its blocks.
#pragma once

#include "audio/InputRecording.h"
#include "audio/SignalPlayback.h"
#include "cli/BlockHandOff.h"
#include "cli/ExitStatus.h"
#include "cli/MeasurementCommand.h"
#include "dsp/SignalFormat.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace cli {

// What comes back later than the signal's last sample: the card's delay and
// the decay of what it excited. A shorter margin is taken as this one.
constexpr std::size_t MinimumMarginFrames = static_cast<std::size_t>(SampleRate / 2);

struct SignalToRecord {
    // The signal. It stays the caller's; RecordSignal is done with it when
    // it returns.
    std::span<const std::int16_t> samples;
    // Silence played before the signal, so that the tone played before has
    // died away at the input when the signal arrives (it takes the card's
    // delay); recorded as well.
    std::size_t leadInFrames = 0;
    // Recorded after the signal's last sample was played.
    std::size_t marginFrames = MinimumMarginFrames;
    // The output channel that plays it (0: the first), or all of them.
    int channel = SignalPlayback::Program::EveryChannel;
};

struct RecordedSignal {
    // ExitDone, or how a stop signal or an input that stopped for
    // BlockHandOff::NoAudioLimit ended the wait (see EndOfWaiting).
    RunEnd end{ExitDone, ""};
    // With ExitDone: None, or why the recording must be made again
    // (GapText() says it in words).
    InputRecording::Gap gap = InputRecording::Gap::None;
    // Whole and without a gap: leadInFrames + the signal + marginFrames
    // frames as recorded, of `channels` interleaved samples each
    // (ChannelSamples takes one); with a gap, what was recorded until then.
    std::vector<std::int16_t> samples;
    int channels = 1;
    // The frame in `samples` of the input position at which the signal's
    // first sample was played: the card's delay follows it. On the virtual
    // card a wire of latency L brings that sample back at signalStart + L.
    std::size_t signalStart = 0;
};

// Plays `signal` once and records it with what surrounds it. Blocks the
// calling thread, which must be the one that takes the blocks (the main
// thread of a command-line run): first for one block, so that the input
// runs when the signal plays, then until the recording is whole or holds a
// gap, a stop signal came, or the input stopped. Whatever ends it, the
// playback thread has let go of the samples and plays the tone again, or is
// about to after the margin.
RecordedSignal RecordSignal(BlockHandOff& blocks, const SignalToRecord& signal);

} // namespace cli
