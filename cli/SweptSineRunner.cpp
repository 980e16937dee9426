#include "cli/SweptSineRunner.h"

#include "cli/ExitStatus.h"
#include "cli/SignalRecorder.h"
#include "dsp/SignalFormat.h"

#include <cmath>
#include <span>

namespace cli {
namespace {

std::size_t Frames(double seconds) {
    return static_cast<std::size_t>(std::ceil(seconds * SampleRate));
}

} // namespace

SweptSineRunner::SweptSineRunner(const SweepSettings& settings, int sweeps)
    : m_signal(settings), m_analysis(m_signal, MarginSeconds), m_sweeps(sweeps) {
    m_delays.reserve(static_cast<std::size_t>(sweeps));
}

RunEnd SweptSineRunner::Run(BlockHandOff& blocks, const Say& say) {
    while (Averaged() < m_sweeps) {
        say("Sweep " + std::to_string(Averaged() + 1) + " of " + std::to_string(m_sweeps) + "...");
        if (RunEnd end = RecordOne(blocks, say); end.status != ExitDone)
            return end;
    }
    return {ExitDone, ""};
}

RunEnd SweptSineRunner::RecordOne(BlockHandOff& blocks, const Say& say) {
    const SignalToRecord request{m_signal.Samples(), Frames(LeadInSeconds),
                                 m_analysis.RecordingFrames() - m_signal.Samples().size()};
    for (int attempt = 0;; ++attempt) {
        const RecordedSignal recorded = RecordSignal(blocks, request);
        if (recorded.end.status != ExitDone)
            return recorded.end;
        if (recorded.gap != InputRecording::Gap::None) {
            if (attempt == RetriesAfterAGap)
                return {ExitPointTimeout,
                        "the sweep's recording held a gap " + std::to_string(attempt + 1) +
                            " times, the last time because " + GapText(recorded.gap)};
            say("The recording held a gap (" + GapText(recorded.gap) + "): sweeping again...");
            continue;
        }

        const SweepRecording added =
            m_analysis.Add(std::span(recorded.samples).subspan(recorded.signalStart));
        switch (added.verdict) {
        case SweepRecording::Verdict::Found:
            m_delays.push_back(added.delaySamples);
            m_clipped = m_clipped || added.clipped;
            return {ExitDone, ""};
        case SweepRecording::Verdict::Silent:
            return {ExitLoopCheck, "the sweep did not come back: the input is silent"};
        case SweepRecording::Verdict::NoResponse:
            return {ExitLoopCheck, "the sweep did not come back: no impulse response stands out "
                                   "of the noise"};
        case SweepRecording::Verdict::TooShort:
            break;
        }
        return {ExitFailed, "the sweep's recording is shorter than the sweep"};
    }
}

} // namespace cli
