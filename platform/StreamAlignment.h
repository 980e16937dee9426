// Where the output's frames stand on the input's clock, for a card whose two
// directions are separate streams, each called back on its own schedule:
// how far the input had counted when the output was called says little about
// when the output's frames leave the card (on a sound server it wandered by
// a whole period, 37 ms). The times at which the card says a block leaves or
// entered it, on a clock both directions share, say more, but through a
// sound server each of them is a millisecond or so off, and that error
// wanders over seconds. While both streams run on without losing a frame,
// though, an output frame and the input position at which it leaves the card
// stay a fixed number of frames apart. So that offset is estimated once, from
// the first quarter second of times of both directions (a median of each,
// weighted by frames, since the card's short blocks are timed worst), and
// then held until the streams are paired anew: every recording in between
// finds the card's delay the same to the sample.
//
// Times are given in frames: seconds times the sample rate.
//
// The input's and the output's audio threads each call their own side;
// nothing allocates, locks or waits. The input's times reach the output's
// thread through a ring.
#pragma once

#include "platform/SpscRing.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>

class StreamAlignment {
  public:
    // How much of each direction's timing the offset rests on, in frames of
    // 44100 Hz; blocks of a few frames settle on fewer.
    static constexpr std::size_t SettleFrames = 11025;
    static constexpr std::size_t MaxTimedBlocks = 64;

    // From any thread: what was learnt no longer holds (a stream was started
    // or opened again, or one of them lost frames).
    void restart() { m_pairing.fetch_add(1, std::memory_order_acq_rel); }
    // From any thread: how many times the streams were paired anew.
    std::uint32_t pairings() const { return m_pairing.load(std::memory_order_relaxed); }

    // The input's audio thread: the frame at input position `position`
    // entered the card at `time`, the first of `frames`.
    void inputEntered(std::uint64_t position, std::size_t frames, double time);

    // The output's audio thread: the output's frame `frame`, as it counts
    // them, leaves the card at `time`, the first of `frames`.
    void outputLeaves(std::uint64_t frame, std::size_t frames, double time);
    // The output's audio thread: the input position at which the output's
    // frame `frame` leaves the card. Nothing until both directions told
    // their times since the last restart, nor for a frame that leaves before
    // the input's first.
    std::optional<std::uint64_t> inputPositionOf(std::uint64_t frame) const;

  private:
    // A block's first frame, as its stream counts it, less its time: the
    // same for every block of a stream but for the timing's error (and for a
    // drift of the card's clock against the timing clock, the same in both
    // directions).
    struct BlockOffset {
        double offset = 0;
        std::size_t frames = 0;
    };
    struct InputBlock {
        std::uint32_t pairing = 0;
        BlockOffset block;
    };

    class Offsets {
      public:
        void add(BlockOffset block);
        void clear() {
            m_count = 0;
            m_frames = 0;
        }
        bool empty() const { return m_count == 0; }
        bool enough() const { return m_frames >= SettleFrames || m_count == MaxTimedBlocks; }
        // The offset that half of the frames lie at or below.
        double median() const;

      private:
        std::array<BlockOffset, MaxTimedBlocks> m_blocks{};
        std::size_t m_count = 0;
        std::uint64_t m_frames = 0;
    };

    void followPairing();

    std::atomic<std::uint32_t> m_pairing{0};
    SpscRing<InputBlock, MaxTimedBlocks> m_inputTimes;

    // The output's thread's.
    std::uint32_t m_pairingSeen = 0;
    Offsets m_input;
    Offsets m_output;
    std::optional<std::int64_t> m_offset; // input position less output frame
    bool m_settled = false;
};
