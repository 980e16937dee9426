#include "cli/SweepRunner.h"

#include "audio/Audio.h"
#include "cli/ExitStatus.h"
#include "cli/SweepProgress.h"
#include "measure/BlockAnalysis.h"
#include "measure/SweepPlan.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace cli {
namespace {

// A frequency is given up only after this many of its blocks were examined: a
// run that was held up (so that the capture thread dropped the blocks) has
// not shown that the frequency yields no point.
constexpr int BlocksExaminedBeforeGivingUp =
    2 * (ToneSettling::StaleBlocks + FrequencySweep::CountedBlocks);

std::string NumberText(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", value);
    return text;
}

} // namespace

SweepRunner::SweepRunner(int windowType, double pointTimeoutSeconds)
    : m_spectra(static_cast<std::size_t>(ChannelCount - 1),
                std::vector<double>(static_cast<std::size_t>(FftSize / 2))),
      m_hasPoint(static_cast<std::size_t>(ChannelCount), false),
      m_frequency(SweepStartFrequency(FftSize)),
      m_timeoutBlocks(
          static_cast<std::uint64_t>(std::ceil(pointTimeoutSeconds * SampleRate / FftSize))),
      m_timeoutSeconds(pointTimeoutSeconds) {
    // Made in place: a copy would not keep the room each reserves for its
    // points.
    m_sweeps.reserve(m_hasPoint.size());
    for (std::size_t channel = 0; channel < m_hasPoint.size(); ++channel)
        m_sweeps.emplace_back(FftSize);
    m_fft.InitWindow(BlockOrder, windowType);
}

void SweepRunner::SetTone(int level) {
    m_frequency = SweepStartFrequency(FftSize);
    GenPeriod = SampleRate / m_frequency;
    SoundOutThread->PostThreadMessage(WM_SET_LEVEL, LevelCommands[level], 0);
}

RunEnd SweepRunner::Run(BlockHandOff& blocks, SweepProgress& progress,
                        const PointMeasured& pointMeasured) {
    for (FrequencySweep& sweep : m_sweeps)
        sweep.Start();
    std::fill(m_hasPoint.begin(), m_hasPoint.end(), false);
    m_shownAtFrequency = 0;
    // A line about the input keeps clear of the progress bar.
    blocks.SayThrough([&](const std::string& line) { progress.Say(line.c_str()); });
    const RunEnd end = SweepBlocks(blocks, progress, pointMeasured);
    blocks.SayThrough(nullptr);
    return end;
}

RunEnd SweepRunner::SweepBlocks(BlockHandOff& blocks, SweepProgress& progress,
                                const PointMeasured& pointMeasured) {
    const auto channels = static_cast<int>(m_sweeps.size());
    for (;;) {
        BlockHandOff::Block shown;
        const BlockHandOff::Wait wait = blocks.Next(shown);
        if (wait != BlockHandOff::Wait::Block)
            return EndOfWaiting(wait);
        bool finished = false;
        double next = m_frequency;
        for (int channel = 0; channel < channels; ++channel) {
            if (m_hasPoint[channel])
                continue; // waits for the other channel's
            double* block = SampleBlock(channel);
            double* spectrum = channel == 0 ? Spectrum() : m_spectra[channel - 1].data();
            SubtractOffset(block, FftSize, OffsetBesideTone(block, FftSize, m_frequency));
            m_fft.Transform(block, spectrum);
            const FrequencySweep::Step step = m_sweeps[channel].Advance(
                spectrum, shown.droppedBefore, m_frequency, m_fft, shown.hasGap);
            switch (step.kind) {
            case FrequencySweep::Step::Finished:
                m_hasPoint[channel] = true;
                finished = true;
                break;
            case FrequencySweep::Step::NoiseLines:
                progress.Say(("There are noise lines" + ChannelLabel(channel) + ".").c_str());
                break;
            case FrequencySweep::Step::Point:
                m_hasPoint[channel] = true;
                next = step.nextFrequency;
                break;
            case FrequencySweep::Step::Waiting:
                break;
            }
        }
        blocks.Done();
        ++m_shownAtFrequency;

        if (std::all_of(m_hasPoint.begin(), m_hasPoint.end(), [](bool has) { return has; })) {
            if (finished)
                return {ExitDone, ""};
            // Every channel counts afresh from the retuning, not from its
            // own point.
            m_frequency = next;
            m_shownAtFrequency = 0;
            GenPeriod = SampleRate / m_frequency;
            for (int channel = 0; channel < channels; ++channel) {
                m_sweeps[channel].Retuned();
                m_hasPoint[channel] = false;
                RunEnd end{ExitDone, ""};
                if (!pointMeasured(channel, m_sweeps[channel].Points().back(), end))
                    return end;
            }
            progress.PointMeasured(m_sweeps[0].Points().back(),
                                   static_cast<int>(m_sweeps[0].Points().size()));
        }
        if (BlocksWaited() > m_timeoutBlocks && m_shownAtFrequency > BlocksExaminedBeforeGivingUp)
            return {ExitPointTimeout, "no point at " + NumberText(m_frequency) + " Hz within " +
                                          NumberText(m_timeoutSeconds) + " s of audio; " +
                                          std::to_string(m_sweeps[0].Points().size()) +
                                          " points measured"};
    }
}

std::uint64_t SweepRunner::BlocksWaited() const {
    std::uint64_t longest = 0;
    for (std::size_t channel = 0; channel < m_sweeps.size(); ++channel)
        if (!m_hasPoint[channel])
            longest = std::max(longest, m_sweeps[channel].BlocksAtFrequency());
    return longest;
}

} // namespace cli
