#include "cli/ResponseCommand.h"

#include "audio/Audio.h"
#include "cli/ExitStatus.h"
#include "cli/ResultFile.h"
#include "measure/NumberFormat.h"
#include "measure/ResponseFrequencies.h"
#include "measure/ResponseSummary.h"
#include "measure/SweepPlan.h"
#include "platform/AtomicFile.h"

#include <cstdio>
#include <vector>

namespace cli {

ResponseCommand::ResponseCommand(const CommandLine& command)
    : m_command(command), m_runner(command.sweep, command.sweeps) {}

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
    const SweepResponse response = m_runner.Analyse(frequencies);
    const SweptSineRun described = DescribeSweep(response);

    const auto failed = [&end](const std::string& why) {
        if (end.status == ExitDone)
            end = {ExitFailed, why};
        else
            Report({ExitFailed, why});
    };
    if (!output.Write(SweptSineCsv(run, described, response.points)))
        failed(output.Error());
    std::string error;
    if (!m_command.impulsePath.empty() &&
        !platform::WriteFileAtomically(
            m_command.impulsePath,
            ImpulseCsv(run, described, response.impulseStart, response.impulse), error))
        failed("cannot write " + m_command.impulsePath + ": " + error);

    if (!m_command.quiet) {
        if (m_runner.Averaged() < m_command.sweeps)
            std::fprintf(stderr, "Averaged %d of %d sweeps\n", m_runner.Averaged(),
                         m_command.sweeps);
        std::fputs(SweptSineSummaryText(response.delaySamples, response.points).c_str(), stderr);
        std::fprintf(stderr, "%s\n", GapCountsLine().c_str());
    }
    return Report(end);
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
