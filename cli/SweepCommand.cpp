#include "cli/SweepCommand.h"

#include "audio/Audio.h"
#include "cli/ExitStatus.h"
#include "cli/ResultFile.h"
#include "cli/SweepProgress.h"
#include "measure/ResponseSummary.h"
#include "measure/SweepPlan.h"

#include <cstdio>

namespace cli {

SweepCommand::SweepCommand(const CommandLine& command)
    : m_command(command), m_runner(command.windowType, command.pointTimeoutSeconds) {}

void SweepCommand::SetTone() {
    m_runner.SetTone(m_command.level);
}

int SweepCommand::Run(BlockHandOff& blocks, ResultFile& output, RunInfo run) {
    run.window = WindowName(m_command.windowType);
    const bool twoChannels = ChannelCount == 2;
    output.HoldUntilFirstWrite(ResultComments(run) +
                               (twoChannels ? ChannelHeader(ResponseHeader) : ResponseHeader) +
                               "\n");
    SweepProgress progress(SweepProgress::StyleFor(stderr, m_command.quiet),
                           static_cast<int>(SweepPointFrequencies(FftSize).size()));
    const RunEnd end = m_runner.Run(
        blocks, progress, [&](int channel, const ResponsePoint& point, RunEnd& failed) {
            const std::string row = ResponseRow(point);
            if (output.Write(twoChannels ? ChannelRows(row, ChannelName(channel)) : row))
                return true;
            failed = {ExitFailed, output.Error()};
            return false;
        });
    progress.Finish();
    if (end.status == ExitDone && !m_command.quiet)
        for (int channel = 0; channel < ChannelCount; ++channel) {
            if (twoChannels)
                std::fprintf(stderr, "%s channel:\n", channel == 0 ? "Left" : "Right");
            std::fputs(SummaryText(SummariseResponse(m_runner.Sweep(channel).Points())).c_str(),
                       stderr);
        }
    if (!m_command.quiet)
        std::fprintf(stderr, "%s\n", GapCountsLine().c_str());
    return Report(end);
}

} // namespace cli
