#include "cli/BinLevelsCommand.h"

#include "audio/Audio.h"
#include "cli/ExitStatus.h"
#include "cli/ResultFile.h"
#include "dsp/FFT.h"
#include "measure/BlockAnalysis.h"
#include "measure/ToneSettling.h"

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace cli {

void BinLevelsCommand::SetTone() {
    if (m_command.toneHz)
        GenPeriod = SampleRate / *m_command.toneHz;
    SoundOutThread->PostThreadMessage(WM_SET_LEVEL, LevelCommands[m_command.level], 0);
}

// The blocks that may still carry what played before the tone are skipped,
// as the sweep skips them, and so are a block with a gap and those that may
// still carry the tone cut short by it; the rest are shown as the window shows them, with
// the mean removed, and their powers summed bin by bin.
int BinLevelsCommand::Run(BlockHandOff& blocks, ResultFile& output, RunInfo run) {
    CFFT fft;
    fft.InitWindow(BlockOrder, m_command.windowType);
    ToneSettling settling;
    settling.Retuned();
    std::vector<double> powerSum(FftSize / 2, 0.0);
    std::string power;
    int captured = 0;
    RunEnd end{ExitDone, ""};
    while (captured < m_command.blocks) {
        BlockHandOff::Block shown;
        const BlockHandOff::Wait wait = blocks.Next(shown);
        if (wait != BlockHandOff::Wait::Block) {
            end = EndOfWaiting(wait);
            break;
        }
        settling.BlockShown(shown.droppedBefore);
        if (shown.hasGap)
            settling.Interrupted();
        if (!settling.MayCarryOldTone()) {
            double* block = SampleBlock();
            SubtractOffset(block, FftSize, BlockMean(block, FftSize));
            power = PowerText(MeanSquare(block, FftSize));
            fft.Transform(block, Spectrum());
            for (int k = 0; k < FftSize / 2; ++k)
                powerSum[k] += std::pow(10.0, Spectrum()[k] / 10);
            ++captured;
        }
        blocks.Done();
    }

    // What was captured before a stop is written too.
    if (captured > 0) {
        std::vector<double> levels(FftSize / 2);
        for (int k = 0; k < FftSize / 2; ++k)
            levels[k] = 10 * std::log10(powerSum[k] / captured);
        run.window = WindowName(m_command.windowType);
        run.toneHz = SampleRate / GenPeriod;
        run.blocks = captured;
        if (!output.Write(SpectrumCsv(run, levels, SampleRate / FftSize)))
            return Report({ExitFailed, output.Error()});
        std::fprintf(stderr, "Power: %s\n", power.c_str());
    }
    std::fprintf(stderr, "%s\n", GapCountsLine().c_str());
    return Report(end);
}

} // namespace cli
