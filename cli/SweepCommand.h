// `tembrix sweep`: the frequency-response sweep of the window's AFC button,
// through the same engine, written as CSV point by point.
#pragma once

#include "cli/CommandLine.h"
#include "cli/MeasurementCommand.h"
#include "cli/SweepRunner.h"

#include <string>

namespace cli {

class SweepCommand : public MeasurementCommand {
  public:
    explicit SweepCommand(const CommandLine& command);

    void SetTone() override;
    int Run(BlockHandOff& blocks, ResultFile& output, RunInfo run) override;

  private:
    // The summary for standard error: each channel's, and how they match.
    std::string Summary() const;

    const CommandLine& m_command;
    SweepRunner m_runner;
};

} // namespace cli
