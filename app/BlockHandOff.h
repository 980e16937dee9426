// The command line's side of the block hand-off: what the window's display
// cycle does with WM_BLOCK_READY and DisplayReadyEvent, without a window.
#pragma once

#include "platform/WinTypes.h"

#include <chrono>

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

  private:
    QueueWindow& m_window;
    std::chrono::steady_clock::time_point m_lastBlock;
};

} // namespace app
