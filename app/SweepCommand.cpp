#include "app/SweepCommand.h"

#include "app/ExitStatus.h"
#include "app/ResultFile.h"
#include "app/SweepProgress.h"
#include "audio/Audio.h"
#include "measure/BlockAnalysis.h"
#include "measure/ResponseSummary.h"
#include "measure/SweepPlan.h"

#include <cmath>
#include <cstdio>

namespace app {
namespace {

std::uint64_t BlocksInSeconds(double seconds) {
    return static_cast<std::uint64_t>(std::ceil(seconds * SampleRate / FftSize));
}

std::string NumberText(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", value);
    return text;
}

} // namespace

SweepCommand::SweepCommand(const CommandLine& command)
    : m_command(command), m_sweep(FftSize), m_frequency(SweepStartFrequency(FftSize)) {
    m_fft.InitWindow(BlockOrder, command.windowType);
}

void SweepCommand::SetTone() {
    GenPeriod = SampleRate / m_frequency;
    SoundOutThread->PostThreadMessage(WM_SET_LEVEL, LevelCommands[m_command.level], 0);
}

int SweepCommand::Run(BlockHandOff& blocks, ResultFile& output, RunInfo run) {
    run.window = WindowName(m_command.windowType);
    if (!output.Write(ResultComments(run) + ResponseHeader + "\n"))
        return Report({ExitFailed, output.Error()});
    SweepProgress progress(SweepProgress::StyleFor(stderr, m_command.quiet),
                           static_cast<int>(SweepPointFrequencies(FftSize).size()));
    const RunEnd end = Sweep(blocks, output, progress);
    progress.Finish();
    if (end.status == ExitDone && !m_command.quiet)
        std::fputs(SummaryText(SummariseResponse(m_sweep.Points())).c_str(), stderr);
    return Report(end);
}

// Each block as the window's display cycle takes it while a sweep runs: the
// offset fitted beside the tone removed, the spectrum, the sweep's step.
RunEnd SweepCommand::Sweep(BlockHandOff& blocks, ResultFile& output, SweepProgress& progress) {
    const std::uint64_t timeoutBlocks = BlocksInSeconds(m_command.pointTimeoutSeconds);
    m_sweep.Start();
    for (;;) {
        WPARAM dropped = 0;
        const BlockHandOff::Wait wait = blocks.Next(dropped);
        if (wait != BlockHandOff::Wait::Block)
            return EndOfWaiting(wait);
        double* block = SampleBlock();
        SubtractOffset(block, FftSize, OffsetBesideTone(block, FftSize, m_frequency));
        m_fft.Transform(block, Spectrum());
        const FrequencySweep::Step step = m_sweep.Advance(Spectrum(), dropped, m_frequency, m_fft);
        blocks.Done();

        switch (step.kind) {
        case FrequencySweep::Step::Finished:
            return {ExitDone, ""};
        case FrequencySweep::Step::NoiseLines:
            progress.Say("There are noise lines.");
            break;
        case FrequencySweep::Step::Point:
            m_frequency = step.nextFrequency;
            GenPeriod = SampleRate / m_frequency;
            if (!output.Write(ResponseRow(m_sweep.Points().back())))
                return {ExitFailed, output.Error()};
            progress.PointMeasured(m_sweep.Points().back(),
                                   static_cast<int>(m_sweep.Points().size()));
            break;
        case FrequencySweep::Step::Waiting:
            break;
        }
        if (m_sweep.BlocksAtFrequency() > timeoutBlocks)
            return {ExitPointTimeout,
                    "no point at " + NumberText(m_frequency) + " Hz within " +
                        NumberText(m_command.pointTimeoutSeconds) + " s of audio; " +
                        std::to_string(m_sweep.Points().size()) + " points written"};
    }
}

} // namespace app
