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
    const auto bins = static_cast<std::size_t>(FftSize / 2);
    std::vector<std::vector<double>> powerSums(ChannelCount, std::vector<double>(bins, 0.0));
    std::vector<std::string> powers(ChannelCount);
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
            for (int channel = 0; channel < ChannelCount; ++channel) {
                double* block = SampleBlock(channel);
                SubtractOffset(block, FftSize, BlockMean(block, FftSize));
                powers[channel] = PowerText(MeanSquare(block, FftSize));
                fft.Transform(block, Spectrum());
                for (std::size_t k = 0; k < bins; ++k)
                    powerSums[channel][k] += std::pow(10.0, Spectrum()[k] / 10);
            }
            ++captured;
        }
        blocks.Done();
    }

    // What was captured before a stop is written too.
    if (captured > 0) {
        run.window = WindowName(m_command.windowType);
        run.toneHz = SampleRate / GenPeriod;
        run.blocks = captured;
        if (!output.Write(SpectrumFile(run, powerSums, captured)))
            return Report({ExitFailed, output.Error()});
        for (int channel = 0; channel < ChannelCount; ++channel)
            std::fprintf(stderr, "Power%s: %s\n", ChannelLabel(channel).c_str(),
                         powers[channel].c_str());
    }
    std::fprintf(stderr, "%s\n", GapCountsLine().c_str());
    return Report(end);
}

// One channel's CSV as always; two channels' with a column that names each.
std::string BinLevelsCommand::SpectrumFile(const RunInfo& run,
                                           const std::vector<std::vector<double>>& powerSums,
                                           int captured) {
    std::vector<std::vector<double>> levels;
    for (const std::vector<double>& sums : powerSums) {
        std::vector<double>& channel = levels.emplace_back(sums.size());
        for (std::size_t k = 0; k < sums.size(); ++k)
            channel[k] = 10 * std::log10(sums[k] / captured);
    }
    const double binWidth = SampleRate / FftSize;
    if (levels.size() == 1)
        return SpectrumCsv(run, levels[0], binWidth);
    std::string csv = ResultComments(run) + ChannelHeader(SpectrumHeader) + "\n";
    for (std::size_t channel = 0; channel < levels.size(); ++channel) {
        std::string rows;
        for (std::size_t k = 0; k < levels[channel].size(); ++k)
            rows += SpectrumRow(static_cast<double>(k) * binWidth, levels[channel][k]);
        csv += ChannelRows(rows, ChannelName(static_cast<int>(channel)));
    }
    return csv;
}

} // namespace cli
