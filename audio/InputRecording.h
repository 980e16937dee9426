// What the capture thread records while a played signal comes back: every
// captured block from the first one after the request, independently of the
// hand-off to the window (which drops blocks), into a buffer sized by the
// request, until a given number of frames after the signal's first sample.
// It knows whether it holds a gap, and then ends at once: the caller makes it
// again. Positions are those of the input's clock (see
// platform::HeaderInputPosition).
#pragma once

#include "platform/WaveAudio.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

class InputRecording {
  public:
    // Counts that change when a stream breaks; the capture thread reads them
    // afresh with each block.
    struct StreamBreaks {
        std::uint64_t outputGaps = 0; // platform::OutputGaps
        std::uint64_t reopens = 0;    // platform::StreamReopens
    };

    enum class Gap {
        None,
        LostFrames,     // the input lost frames before or inside a block
        OutputRanDry,   // the output played silence for want of samples
        StreamReopened, // a stream died and was opened again
        Incomplete,     // the signal's start or end did not fit in the recording
    };

    struct Result {
        // From `framesBefore` before the signal's first sample to
        // `framesAfter` after it, in frames of `channels` interleaved
        // samples; with a gap, what was recorded until then.
        std::vector<std::int16_t> samples;
        int channels = 1;
        std::size_t signalStart = 0; // index of the frame of the signal's first sample
        Gap gap = Gap::None;
    };

    // The requester's side, from one thread.

    // Makes room, and records blocks of `channels` interleaved channels from
    // the next one on. The capture thread never allocates: the room is what
    // the request may need, the queues' blocks before and after included.
    void Request(std::size_t framesBefore, std::size_t framesAfter, StreamBreaks now,
                 int channels = 1);
    // It has ended, whole or with a gap; the capture thread records no more.
    bool Finished() const { return m_finished.load(std::memory_order_acquire); }
    // Ends it now and releases its room; the capture thread records no more
    // once it returns.
    void Cancel();
    // Once finished.
    Result Take();

    // The capture thread's side.

    bool Requested() const { return m_requested.load(std::memory_order_acquire); }
    // Appends a returned capture block. `signalStart` is the input position
    // of the played signal's first sample once known.
    void Append(const WAVEHDR& header, std::optional<std::uint64_t> signalStart, StreamBreaks now);

  private:
    void finish(Gap gap); // caller holds m_mutex

    mutable std::mutex m_mutex; // all below but the two flags
    std::vector<std::int16_t> m_samples;
    int m_channels = 1;
    std::size_t m_recorded = 0;        // frames
    std::uint64_t m_firstPosition = 0; // of m_samples[0]
    std::size_t m_framesBefore = 0;
    std::size_t m_framesAfter = 0;
    std::optional<std::uint64_t> m_signalStart;
    StreamBreaks m_breaks;
    Gap m_gap = Gap::None;
    std::atomic<bool> m_requested{false};
    std::atomic<bool> m_finished{false};
};

// One channel (0: the first) of frames of `channels` interleaved samples.
std::vector<std::int16_t> ChannelSamples(std::span<const std::int16_t> frames, int channels,
                                         int channel);

// Why a recording must be made again, for the run's message.
std::string GapText(InputRecording::Gap gap);
