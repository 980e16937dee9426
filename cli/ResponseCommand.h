// `tembrix response`: a frequency response, its phase, the delay and the
// harmonic distortion against frequency from a swept sine, in this order:
// the sweeps played and recorded, their analysis, the CSV, the impulse
// response, the summary. The only file that knows that order.
#pragma once

#include "cli/CommandLine.h"
#include "cli/MeasurementCommand.h"
#include "cli/SweptSineRunner.h"

namespace cli {

class ResponseCommand : public MeasurementCommand {
  public:
    explicit ResponseCommand(const CommandLine& command);

    void SetTone() override;
    int Run(BlockHandOff& blocks, ResultFile& output, RunInfo run) override;

  private:
    SweptSineRun DescribeSweep(const SweepResponse& response) const;
    void Say(const std::string& line) const;

    const CommandLine& m_command;
    SweptSineRunner m_runner;
};

} // namespace cli
