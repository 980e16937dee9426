#include "cli/SweepRunner.h"

#include "audio/Audio.h"
#include "cli/ExitStatus.h"
#include "cli/SweepProgress.h"
#include "measure/BlockAnalysis.h"
#include "measure/SweepPlan.h"

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
    : m_sweep(FftSize), m_frequency(SweepStartFrequency(FftSize)),
      m_timeoutBlocks(
          static_cast<std::uint64_t>(std::ceil(pointTimeoutSeconds * SampleRate / FftSize))),
      m_timeoutSeconds(pointTimeoutSeconds) {
    m_fft.InitWindow(BlockOrder, windowType);
}

void SweepRunner::SetTone(int level) {
    m_frequency = SweepStartFrequency(FftSize);
    GenPeriod = SampleRate / m_frequency;
    SoundOutThread->PostThreadMessage(WM_SET_LEVEL, LevelCommands[level], 0);
}

RunEnd SweepRunner::Run(BlockHandOff& blocks, SweepProgress& progress,
                        const PointMeasured& pointMeasured) {
    m_sweep.Start();
    m_shownAtFrequency = 0;
    // A line about the input keeps clear of the progress bar.
    blocks.SayThrough([&](const std::string& line) { progress.Say(line.c_str()); });
    const RunEnd end = SweepBlocks(blocks, progress, pointMeasured);
    blocks.SayThrough(nullptr);
    return end;
}

RunEnd SweepRunner::SweepBlocks(BlockHandOff& blocks, SweepProgress& progress,
                                const PointMeasured& pointMeasured) {
    for (;;) {
        BlockHandOff::Block shown;
        const BlockHandOff::Wait wait = blocks.Next(shown);
        if (wait != BlockHandOff::Wait::Block)
            return EndOfWaiting(wait);
        double* block = SampleBlock();
        SubtractOffset(block, FftSize, OffsetBesideTone(block, FftSize, m_frequency));
        m_fft.Transform(block, Spectrum());
        const FrequencySweep::Step step =
            m_sweep.Advance(Spectrum(), shown.droppedBefore, m_frequency, m_fft, shown.hasGap);
        blocks.Done();
        ++m_shownAtFrequency;

        switch (step.kind) {
        case FrequencySweep::Step::Finished:
            return {ExitDone, ""};
        case FrequencySweep::Step::NoiseLines:
            progress.Say("There are noise lines.");
            break;
        case FrequencySweep::Step::Point: {
            m_frequency = step.nextFrequency;
            m_shownAtFrequency = 0;
            GenPeriod = SampleRate / m_frequency;
            RunEnd end{ExitDone, ""};
            if (!pointMeasured(m_sweep.Points().back(), end))
                return end;
            progress.PointMeasured(m_sweep.Points().back(),
                                   static_cast<int>(m_sweep.Points().size()));
            break;
        }
        case FrequencySweep::Step::Waiting:
            break;
        }
        if (m_sweep.BlocksAtFrequency() > m_timeoutBlocks &&
            m_shownAtFrequency > BlocksExaminedBeforeGivingUp)
            return {ExitPointTimeout, "no point at " + NumberText(m_frequency) + " Hz within " +
                                          NumberText(m_timeoutSeconds) + " s of audio; " +
                                          std::to_string(m_sweep.Points().size()) +
                                          " points measured"};
    }
}

} // namespace cli
