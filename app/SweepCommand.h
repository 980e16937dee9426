// `tembrix sweep`: the frequency-response sweep of the window's AFC button,
// through the same engine, written as CSV point by point.
#pragma once

#include "app/CommandLine.h"
#include "app/MeasurementCommand.h"
#include "app/SweepRunner.h"

namespace app {

class SweepCommand : public MeasurementCommand {
  public:
    explicit SweepCommand(const CommandLine& command);

    void SetTone() override;
    int Run(BlockHandOff& blocks, ResultFile& output, RunInfo run) override;

  private:
    const CommandLine& m_command;
    SweepRunner m_runner;
};

} // namespace app
