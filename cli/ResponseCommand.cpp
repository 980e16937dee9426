#include "cli/ResponseCommand.h"

#include "audio/Audio.h"
#include "cli/ClockDriftRun.h"
#include "cli/ExitStatus.h"
#include "cli/ResultFile.h"
#include "measure/NumberFormat.h"
#include "measure/ResponseFrequencies.h"
#include "measure/ResponseSummary.h"
#include "measure/SweepPlan.h"
#include "platform/AtomicFile.h"

#include <cstdio>
#include <optional>
#include <vector>

namespace cli {

namespace {

// The reference channel's index (0 or 1) from the command line's number.
std::optional<int> ReferenceIndex(const CommandLine& command) {
    if (!command.referenceChannel)
        return std::nullopt;
    return *command.referenceChannel - 1;
}

} // namespace

ResponseCommand::ResponseCommand(const CommandLine& command)
    : m_command(command),
      m_runner(command.sweep, command.sweeps, command.channels, ReferenceIndex(command)) {}

// Silence between the sweeps: nothing of a tone reaches their recordings.
void ResponseCommand::SetTone() {
    SoundOutThread->PostThreadMessage(WM_SET_LEVEL, 0, 0);
}

int ResponseCommand::Run(BlockHandOff& blocks, ResultFile& output, RunInfo run) {
    const SweepSignal& sweep = m_runner.Signal();
    run.level = SignificantText(sweep.Settings().levelDbfs, 6) + " dBFS";
    run.window.clear();
    Say("Sweeping " + SignificantText(sweep.StartHz(), 6) + " Hz to " +
        SignificantText(sweep.EndHz(), 6) + " Hz at " + run.level + " for " +
        FixedText(sweep.LengthSeconds(), 2) + " s (" +
        SignificantText(sweep.Settings().lengthSeconds, 6) + " s asked), " +
        std::to_string(m_command.sweeps) + (m_command.sweeps == 1 ? " time" : " times"));

    Say("Clock drift (a 2 s tone)...");
    const DriftRun drift = MeasureDrift(blocks, [this](const std::string& line) { Say(line); });
    if (drift.end.status != ExitDone)
        return Report(drift.end);
    const bool correctDrift = drift.drift && ClocksOfTheirOwn(drift.drift->ppm);
    if (correctDrift)
        m_runner.CorrectClockDrift(drift.drift->ppm);
    RunEnd end = m_runner.Run(blocks, [this](const std::string& line) { Say(line); });
    // A run that ended early still writes the average of the sweeps it
    // recorded, and says how many.
    if (m_runner.Averaged() == 0) {
        if (!m_command.quiet)
            std::fprintf(stderr, "%s\n", GapCountsLine().c_str());
        return Report(end);
    }
    if (m_runner.Clipped())
        std::fputs("tembrix: the recording reached full scale: the response holds the clipping's "
                   "distortion; measure again at a lower --level\n",
                   stderr);

    const std::vector<double> frequencies = m_command.pointsPerOctave > 0
                                                ? PerOctaveFrequencies(m_command.pointsPerOctave)
                                                : SweepPointFrequencies(FftSize);
    const Results results = m_command.referenceChannel ? OverReference(run, frequencies)
                            : m_command.channels == 2  ? TwoChannels(run, frequencies)
                                                       : OneChannel(run, frequencies);

    const auto failed = [&end](const std::string& why) {
        if (end.status == ExitDone)
            end = {ExitFailed, why};
        else
            Report({ExitFailed, why});
    };
    if (!output.Write(results.csv))
        failed(output.Error());
    std::string error;
    if (!m_command.impulsePath.empty() &&
        !platform::WriteFileAtomically(m_command.impulsePath, results.impulseCsv, error))
        failed("cannot write " + m_command.impulsePath + ": " + error);

    if (!m_command.quiet) {
        if (m_runner.Averaged() < m_command.sweeps)
            std::fprintf(stderr, "Averaged %d of %d sweeps\n", m_runner.Averaged(),
                         m_command.sweeps);
        std::fputs((results.summary + DriftText(drift.drift)).c_str(), stderr);
        if (correctDrift)
            std::fputs("The sweep's recordings were read onto the output's clock before their "
                       "analysis\n",
                       stderr);
        std::fprintf(stderr, "%s\n", GapCountsLine().c_str());
    }
    return Report(end);
}

ResponseCommand::Results ResponseCommand::OneChannel(const RunInfo& run,
                                                     std::span<const double> frequencies) {
    const SweepResponse response = m_runner.Analyse(frequencies);
    const SweptSineRun described = DescribeSweep(response);
    return {SweptSineCsv(run, described, response.points),
            ImpulseCsv(run, described, response.impulseStart, response.impulse),
            SweptSineSummaryText(response.delaySamples, response.points)};
}

// Rows of both channels' responses, then of the crosstalk each way, named
// "left_to_right" (the right input while only the left output played, re the
// left input) and "right_to_left".
ResponseCommand::Results ResponseCommand::TwoChannels(const RunInfo& run,
                                                      std::span<const double> frequencies) {
    const SweepResponse left = m_runner.Analyse(frequencies, 0);
    const SweepResponse right = m_runner.Analyse(frequencies, 1);
    const Crosstalk leftToRight = m_runner.CrosstalkInto(1, frequencies);
    const Crosstalk rightToLeft = m_runner.CrosstalkInto(0, frequencies);
    const SweptSineRun described = DescribeSweep(left);
    const std::string comments =
        SweptSineComments(run, described) +
        CommentLine("right_latency_samples", right.delaySamples) +
        CommentLine("crosstalk", "left_to_right: the right input re the left while only the "
                                 "left output plays; right_to_left the other way");

    Results results;
    results.csv = comments + ChannelHeader(SweptSineHeader) + "\n" +
                  ChannelRows(SweptSineRows(left.points), "left") +
                  ChannelRows(SweptSineRows(right.points), "right") +
                  ChannelRows(SweptSineRows(leftToRight.points), "left_to_right") +
                  ChannelRows(SweptSineRows(rightToLeft.points), "right_to_left");
    results.impulseCsv =
        comments + ChannelHeader(ImpulseHeader) + "\n" +
        ChannelRows(ImpulseRows(SampleRate, left.impulseStart, left.impulse), "left") +
        ChannelRows(ImpulseRows(SampleRate, right.impulseStart, right.impulse), "right");
    results.summary = "Left channel:\n" + SweptSineSummaryText(left.delaySamples, left.points) +
                      "Right channel:\n" + SweptSineSummaryText(right.delaySamples, right.points) +
                      CrosstalkText(leftToRight, rightToLeft) +
                      ChannelMatchText(MatchChannels(left, right));
    return results;
}

// The measured channel over the reference, written as one channel's
// response: the card's own response and delay have dropped out of it.
ResponseCommand::Results ResponseCommand::OverReference(const RunInfo& run,
                                                        std::span<const double> frequencies) {
    const int reference = *m_command.referenceChannel - 1;
    const int measured = 1 - reference;
    const SweepResponse measuredResponse = m_runner.Analyse(frequencies, measured);
    const SweepResponse referenceResponse = m_runner.Analyse(frequencies, reference);
    const SweptSineRatio ratio = SweptSineRatioOf(measuredResponse, referenceResponse);
    SweptSineRun described = DescribeSweep(measuredResponse);
    described.latencySamples = ratio.delaySamples;
    const std::string comments =
        CommentLine("reference_channel", ChannelName(reference)) +
        CommentLine("measured_channel", ChannelName(measured)) +
        CommentLine("reference_latency_samples", referenceResponse.delaySamples);

    Results results;
    results.csv = SweptSineComments(run, described) + comments + SweptSineHeader + "\n" +
                  SweptSineRows(ratio.points);
    results.impulseCsv = SweptSineComments(run, described) + comments +
                         ChannelHeader(ImpulseHeader) + "\n" +
                         ChannelRows(ImpulseRows(SampleRate, measuredResponse.impulseStart,
                                                 measuredResponse.impulse),
                                     ChannelName(measured)) +
                         ChannelRows(ImpulseRows(SampleRate, referenceResponse.impulseStart,
                                                 referenceResponse.impulse),
                                     ChannelName(reference));
    results.summary = std::string(measured == 0 ? "Left" : "Right") + " channel re the " +
                      ChannelName(reference) + " (reference):\n" +
                      SweptSineSummaryText(ratio.delaySamples, ratio.points);
    return results;
}

SweptSineRun ResponseCommand::DescribeSweep(const SweepResponse& response) const {
    const SweepSignal& sweep = m_runner.Signal();
    SweptSineRun described;
    described.startHz = sweep.StartHz();
    described.endHz = sweep.EndHz();
    described.lengthSeconds = sweep.LengthSeconds();
    described.levelDbfs = sweep.Settings().levelDbfs;
    described.sweeps = m_runner.Averaged();
    described.latencySamples = response.delaySamples;
    described.recordingLatencySamples = m_runner.RecordingDelays();
    return described;
}

void ResponseCommand::Say(const std::string& line) const {
    if (!m_command.quiet)
        std::fprintf(stderr, "%s\n", line.c_str());
}

} // namespace cli
