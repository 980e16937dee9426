#include "audio/SignalPlayback.h"

#include "audio/Audio.h"

bool SignalPlayback::Queue(const Program& program) {
    if (m_state.load(std::memory_order_acquire) != State::Idle)
        return false;
    m_program = program;
    m_number.fetch_add(1, std::memory_order_relaxed);
    m_state.store(State::Queued, std::memory_order_release);
    return true;
}

void SignalPlayback::Finish(const ThreadIdentity& player) {
    State queued = State::Queued;
    if (m_state.compare_exchange_strong(queued, State::Idle, std::memory_order_acq_rel))
        return;
    // The playback thread lets go on this message, or as it ends; a thread
    // that refuses it has ended already.
    if (queued == State::Playing && player->PostThreadMessage(WM_STOP_SIGNAL, 0, 0))
        m_state.wait(State::Playing, std::memory_order_acquire);
    m_state.store(State::Idle, std::memory_order_release);
}

std::optional<std::uint64_t> SignalPlayback::StartPosition() const {
    if (m_startedNumber.load(std::memory_order_acquire) != m_number.load(std::memory_order_relaxed))
        return std::nullopt;
    return m_startPosition.load(std::memory_order_relaxed);
}

bool SignalPlayback::Take(Program& program, std::uint64_t& number) {
    State queued = State::Queued;
    if (!m_state.compare_exchange_strong(queued, State::Playing, std::memory_order_acq_rel))
        return false;
    program = m_program;
    number = m_number.load(std::memory_order_relaxed);
    return true;
}

void SignalPlayback::Started(std::uint64_t number, std::uint64_t inputPosition) {
    m_startPosition.store(inputPosition, std::memory_order_relaxed);
    m_startedNumber.store(number, std::memory_order_release);
}

// Only the signal being played: a later one queued meanwhile stays queued.
void SignalPlayback::LetGo() {
    State playing = State::Playing;
    if (m_state.compare_exchange_strong(playing, State::Played, std::memory_order_acq_rel))
        m_state.notify_all();
}
