#include "cli/SweptSineRunner.h"

#include "audio/SignalPlayback.h"
#include "cli/ExitStatus.h"
#include "cli/SignalRecorder.h"
#include "dsp/SignalFormat.h"
#include "measure/ResultCsv.h"

#include <algorithm>
#include <cmath>
#include <span>

namespace cli {
namespace {

std::size_t Frames(double seconds) {
    return static_cast<std::size_t>(std::ceil(seconds * SampleRate));
}

} // namespace

SweptSineRunner::SweptSineRunner(const SweepSettings& settings, int sweeps, int channels,
                                 std::optional<int> reference)
    : m_signal(settings), m_sweeps(sweeps), m_channels(channels),
      m_delays(static_cast<std::size_t>(channels)) {
    const auto analysis = [this] {
        return std::make_unique<SweepAnalysis>(m_signal, MarginSeconds);
    };
    for (int channel = 0; channel < channels; ++channel) {
        m_direct.push_back(analysis());
        m_delays[channel].reserve(static_cast<std::size_t>(sweeps));
    }
    constexpr int Both = SignalPlayback::Program::EveryChannel;
    if (channels == 1) {
        m_passes.push_back({Both, 0, m_direct[0].get(), std::nullopt, nullptr});
    } else if (reference) {
        const int measured = 1 - *reference;
        m_passes.push_back(
            {Both, *reference, m_direct[*reference].get(), measured, m_direct[measured].get()});
    } else {
        for (int driven = 0; driven < 2; ++driven) {
            m_leak.push_back(analysis());
            m_passes.push_back({driven, driven, m_direct[driven].get(), std::nullopt, nullptr});
        }
        for (int driven = 0; driven < 2; ++driven) {
            m_passes[driven].companion = 1 - driven;
            m_passes[driven].companionAnalysis = m_leak[1 - driven].get();
        }
    }
}

int SweptSineRunner::Averaged() const {
    int averaged = m_sweeps;
    for (const Pass& pass : m_passes)
        averaged = std::min(averaged, pass.leadAnalysis->Recordings());
    return averaged;
}

void SweptSineRunner::CorrectClockDrift(double ppm) {
    for (auto* analyses : {&m_direct, &m_leak})
        for (const std::unique_ptr<SweepAnalysis>& analysis : *analyses)
            analysis->CorrectClockDrift(ppm);
}

RunEnd SweptSineRunner::Run(BlockHandOff& blocks, const Say& say) {
    while (Averaged() < m_sweeps) {
        for (const Pass& pass : m_passes) {
            say("Sweep " + std::to_string(Averaged() + 1) + " of " + std::to_string(m_sweeps) +
                ChannelWords(pass) + "...");
            if (RunEnd end = RecordOne(blocks, pass, say); end.status != ExitDone)
                return end;
        }
    }
    return {ExitDone, ""};
}

std::string SweptSineRunner::ChannelWords(const Pass& pass) const {
    if (m_channels == 1)
        return "";
    if (pass.output == SignalPlayback::Program::EveryChannel)
        return " on both channels";
    return std::string(" on the ") + ChannelName(pass.output) + " channel";
}

Crosstalk SweptSineRunner::CrosstalkInto(int silent, std::span<const double> frequencies) {
    const SweepResponse driven = Analyse(frequencies, 1 - silent);
    const SweepResponse picked = m_leak[silent]->AnalyseAt(frequencies, driven.delaySamples);
    return CrosstalkOf(driven, picked);
}

RunEnd SweptSineRunner::RecordOne(BlockHandOff& blocks, const Pass& pass, const Say& say) {
    SignalToRecord request{m_signal.Samples(), Frames(LeadInSeconds),
                           pass.leadAnalysis->RecordingFrames() - m_signal.Samples().size()};
    request.channel = pass.output;
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

        const auto channel = [&](int input) {
            std::vector<std::int16_t> samples =
                ChannelSamples(recorded.samples, recorded.channels, input);
            samples.erase(samples.begin(),
                          samples.begin() + static_cast<std::ptrdiff_t>(recorded.signalStart));
            return samples;
        };
        const SweepRecording added = pass.leadAnalysis->Add(channel(pass.lead));
        const std::string where =
            m_channels == 1 ? "" : std::string(" on the ") + ChannelName(pass.lead) + " channel";
        switch (added.verdict) {
        case SweepRecording::Verdict::Found:
            m_delays[pass.lead].push_back(added.delaySamples);
            m_clipped = m_clipped || added.clipped;
            if (pass.companion) {
                const SweepRecording aligned =
                    pass.companionAnalysis->AddAlignedTo(channel(*pass.companion), added);
                m_clipped = m_clipped || aligned.clipped;
            }
            return {ExitDone, ""};
        case SweepRecording::Verdict::Silent:
            return {ExitLoopCheck, "the sweep did not come back" + where + ": the input is silent"};
        case SweepRecording::Verdict::NoResponse:
            return {ExitLoopCheck, "the sweep did not come back" + where +
                                       ": no impulse response stands out of the noise"};
        case SweepRecording::Verdict::TooShort:
            break;
        }
        return {ExitFailed, "the sweep's recording is shorter than the sweep"};
    }
}

} // namespace cli
