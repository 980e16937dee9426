// `tembrix response`: a frequency response, its phase, the delay and the
// harmonic distortion against frequency from a swept sine, in this order:
// the sweeps played and recorded, their analysis, the CSV, the impulse
// response, the summary. The only file that knows that order. With two
// channels the CSV holds each channel's response and the crosstalk both
// ways; with a reference channel, the measured channel's response re the
// reference's.
#pragma once

#include "cli/CommandLine.h"
#include "cli/MeasurementCommand.h"
#include "cli/SweptSineRunner.h"

#include <string>
#include <vector>

namespace cli {

class ResponseCommand : public MeasurementCommand {
  public:
    explicit ResponseCommand(const CommandLine& command);

    void SetTone() override;
    int Run(BlockHandOff& blocks, ResultFile& output, RunInfo run) override;

  private:
    // What the analysis gives, as the files and the summary show it.
    struct Results {
        std::string csv;
        std::string impulseCsv;
        std::string summary;
    };
    Results OneChannel(const RunInfo& run, std::span<const double> frequencies);
    Results TwoChannels(const RunInfo& run, std::span<const double> frequencies);
    Results OverReference(const RunInfo& run, std::span<const double> frequencies);

    SweptSineRun DescribeSweep(const SweepResponse& response) const;
    void Say(const std::string& line) const;

    const CommandLine& m_command;
    SweptSineRunner m_runner;
};

} // namespace cli
