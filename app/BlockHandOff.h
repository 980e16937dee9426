// The command line's side of the block hand-off: what the window's display
// cycle does with WM_BLOCK_READY and DisplayReadyEvent, without a window.
#pragma once

#include "platform/WinTypes.h"

#include <chrono>
#include <cstdint>
#include <functional>

class QueueWindow;

namespace app {

class BlockHandOff {
  public:
    // No block for this long means the input has stopped.
    static constexpr std::chrono::seconds NoAudioLimit{10};

    explicit BlockHandOff(QueueWindow& window);

    enum class Wait { Block, NoAudio, Stopped };
    // Block: SampleBlock holds the next block, `droppedBefore` the blocks the
    // capture thread discarded before it. Stopped: a stop signal came.
    Wait Next(WPARAM& droppedBefore);
    // The block is done with: the capture thread may hand over the next.
    void Done();
    // Makes `change` (of the tone) while holding a block, as the window does,
    // so that every block handed over afterwards was recorded after the
    // block being recorded at the change: the tone-settling rule counts from
    // there. A block that waited meanwhile was recorded before the change.
    Wait ChangeAtNextBlock(const std::function<void()>& change);
    // Times the input lost frames since the block before this one.
    std::uint64_t GapsBefore() const { return m_gapsBefore; }

  private:
    QueueWindow& m_window;
    std::chrono::steady_clock::time_point m_lastBlock;
    std::uint64_t m_gaps = 0;
    std::uint64_t m_gapsBefore = 0;
};

} // namespace app
