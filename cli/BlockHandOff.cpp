#include "cli/BlockHandOff.h"

#include "audio/Audio.h"
#include "cli/StopSignals.h"
#include "platform/QueueWindow.h"

#include <cstdio>

namespace cli {
namespace {
// How often a wait looks for a stop signal and a stalled input.
constexpr std::chrono::milliseconds SignalCheck{100};

void sayOnStandardError(const std::string& line) {
    std::fprintf(stderr, "%s\n", line.c_str());
}
} // namespace

BlockHandOff::BlockHandOff(QueueWindow& window) : m_window(window), m_say(sayOnStandardError) {}

BlockHandOff::Wait BlockHandOff::Next(Block& block) {
    for (;;) {
        if (CaughtStopSignal() != 0)
            return Wait::Stopped;
        sayAudioPath(m_audioPath.Take());
        const auto message = m_window.take(SignalCheck);
        const auto now = std::chrono::steady_clock::now();
        if (message && message->message == WM_BLOCK_READY &&
            WaitForSingleObject(BlockReadyEvent, 0) == WAIT_OBJECT_0) {
            if (const auto gone = m_watch.BlockArrived(now))
                m_say(InputWatch::ResumedLine(*gone));
            block = {message->wParam, message->lParam != 0};
            if (m_tellAudioPath && !m_audioPath.Started())
                m_audioPath.Start();
            const std::uint64_t gaps = platform::InputGaps(*InDevice());
            // A reopened input counts afresh.
            m_gapsBefore = gaps >= m_gaps ? gaps - m_gaps : gaps;
            m_gaps = gaps;
            return Wait::Block;
        }
        m_watch.InputOpened(platform::InputOpenedAt(*InDevice()));
        if (m_watch.CheckStalled(now))
            m_say(m_watch.StoppedLine());
        if (m_watch.Waiting(now) > NoAudioLimit)
            return Wait::NoAudio;
    }
}

void BlockHandOff::Done() {
    DisplayReadyEvent.SetEvent();
}

BlockHandOff::Wait BlockHandOff::ChangeAtNextBlock(const std::function<void()>& change) {
    Block block;
    const Wait wait = Next(block);
    if (wait != Wait::Block)
        return wait;
    change();
    Done();
    return wait;
}

void BlockHandOff::SayThrough(Say say) {
    m_say = say ? std::move(say) : Say(sayOnStandardError);
}

void BlockHandOff::TellAudioPath(bool quiet) {
    m_tellAudioPath = true;
    m_quietAudioPath = quiet;
}

void BlockHandOff::FinishAudioPath() {
    sayAudioPath(m_audioPath.TakeWaiting());
}

const std::optional<AudioPath>& BlockHandOff::KnownAudioPath() {
    if (!m_knownPath)
        FinishAudioPath();
    return m_knownPath;
}

void BlockHandOff::sayAudioPath(const std::optional<AudioPath>& path) {
    if (!path)
        return;
    m_knownPath = path;
    if (!m_quietAudioPath || path->Flagged())
        m_say(AudioPathLine(*path));
}

std::string GapCountsLine() {
    return "Gaps: " + std::to_string(platform::InputGaps(*InDevice())) + " in the input, " +
           std::to_string(platform::OutputGaps(*OutDevice())) +
           " in the output; streams reopened: " + std::to_string(platform::StreamReopens());
}

} // namespace cli
