#include "cli/SweepCommand.h"

#include "audio/Audio.h"
#include "cli/ClockDriftRun.h"
#include "cli/ExitStatus.h"
#include "cli/ResultFile.h"
#include "cli/SweepProgress.h"
#include "measure/ChannelComparison.h"
#include "measure/ResponseSummary.h"
#include "measure/SweepPlan.h"

#include <cstdio>
#include <optional>
#include <span>
#include <string>

namespace cli {

SweepCommand::SweepCommand(const CommandLine& command)
    : m_command(command), m_runner(command.windowType, command.pointTimeoutSeconds) {}

void SweepCommand::SetTone() {
    m_runner.SetTone(m_command.level);
}

// Two channels' rows each lead with the channel; with a reference channel
// the rows are the measured channel's alone, each level re the reference's.
int SweepCommand::Run(BlockHandOff& blocks, ResultFile& output, RunInfo run) {
    run.window = WindowName(m_command.windowType);
    const std::optional<int> reference =
        m_command.referenceChannel ? std::optional(*m_command.referenceChannel - 1) : std::nullopt;
    const bool channelColumn = ChannelCount == 2 && !reference;
    std::string head = ResultComments(run);
    if (reference)
        head += CommentLine("reference_channel", ChannelName(*reference)) +
                CommentLine("measured_channel", ChannelName(1 - *reference));
    output.HoldUntilFirstWrite(
        head + (channelColumn ? ChannelHeader(ResponseHeader) : ResponseHeader) + "\n");
    SweepProgress progress(SweepProgress::StyleFor(stderr, m_command.quiet),
                           static_cast<int>(SweepPointFrequencies(FftSize).size()));
    const RunEnd end = m_runner.Run(
        blocks, progress, [&](int channel, const ResponsePoint& point, RunEnd& failed) {
            std::string row;
            if (reference && channel == ChannelCount - 1) {
                const int measured = 1 - *reference;
                row = ResponseRow(
                    SteppedRatio(std::span(&m_runner.Sweep(measured).Points().back(), 1),
                                 std::span(&m_runner.Sweep(*reference).Points().back(), 1))
                        .front());
            } else if (channelColumn) {
                row = ChannelRows(ResponseRow(point), ChannelName(channel));
            } else if (!reference) {
                row = ResponseRow(point);
            }
            if (row.empty() || output.Write(row))
                return true;
            failed = {ExitFailed, output.Error()};
            return false;
        });
    progress.Finish();
    if (end.status != ExitDone || m_command.quiet) {
        if (!m_command.quiet)
            std::fprintf(stderr, "%s\n", GapCountsLine().c_str());
        return Report(end);
    }
    // Its figures are for the summary alone: a quiet run saves the tone.
    const DriftRun drift = MeasureDriftAfterwards(blocks);
    if (drift.end.status == ExitDone)
        std::fputs((Summary() + DriftText(drift.drift)).c_str(), stderr);
    // Each point is read at its tone's nominal frequency, where a drifting
    // input no longer has it.
    if (drift.drift && ClocksOfTheirOwn(drift.drift->ppm))
        std::fputs("tembrix: with clocks of their own the stepped sweep reads the tones where "
                   "the output put them, not where the input heard them: its levels at high "
                   "frequencies are off (by 0.8 dB at 17 kHz for 100 ppm); tembrix response "
                   "corrects for the drift\n",
                   stderr);
    std::fprintf(stderr, "%s\n", GapCountsLine().c_str());
    return Report(drift.end);
}

std::string SweepCommand::Summary() const {
    const auto summary = [](std::span<const ResponsePoint> points) {
        return SummaryText(SummariseResponse(points));
    };
    if (m_command.referenceChannel) {
        const int reference = *m_command.referenceChannel - 1;
        const int measured = 1 - reference;
        return std::string(measured == 0 ? "Left" : "Right") + " channel re the " +
               ChannelName(reference) + " (reference):\n" +
               summary(SteppedRatio(m_runner.Sweep(measured).Points(),
                                    m_runner.Sweep(reference).Points()));
    }
    if (ChannelCount == 1)
        return summary(m_runner.Sweep().Points());
    return "Left channel:\n" + summary(m_runner.Sweep(0).Points()) + "Right channel:\n" +
           summary(m_runner.Sweep(1).Points()) +
           ChannelMatchText(MatchChannels(m_runner.Sweep(0).Points(), m_runner.Sweep(1).Points()));
}

} // namespace cli
