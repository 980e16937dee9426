#include "app/BlockHandOff.h"

#include "app/StopSignals.h"
#include "audio/Audio.h"
#include "platform/QueueWindow.h"

namespace app {
namespace {
// How often a wait looks for a stop signal.
constexpr std::chrono::milliseconds SignalCheck{100};
} // namespace

BlockHandOff::BlockHandOff(QueueWindow& window)
    : m_window(window), m_lastBlock(std::chrono::steady_clock::now()) {}

BlockHandOff::Wait BlockHandOff::Next(WPARAM& droppedBefore) {
    for (;;) {
        if (CaughtStopSignal() != 0)
            return Wait::Stopped;
        const auto message = m_window.take(SignalCheck);
        const auto now = std::chrono::steady_clock::now();
        if (message && message->message == WM_BLOCK_READY &&
            WaitForSingleObject(BlockReadyEvent, 0) == WAIT_OBJECT_0) {
            m_lastBlock = now;
            droppedBefore = message->wParam;
            const std::uint64_t gaps = platform::InputGaps(*InDevice());
            m_gapsBefore = gaps - m_gaps;
            m_gaps = gaps;
            return Wait::Block;
        }
        if (now - m_lastBlock > NoAudioLimit)
            return Wait::NoAudio;
    }
}

void BlockHandOff::Done() {
    DisplayReadyEvent.SetEvent();
}

BlockHandOff::Wait BlockHandOff::ChangeAtNextBlock(const std::function<void()>& change) {
    WPARAM dropped = 0;
    const Wait wait = Next(dropped);
    if (wait != Wait::Block)
        return wait;
    change();
    Done();
    return wait;
}

} // namespace app
