// `tembrix sweep`: the frequency-response sweep of the window's AFC button,
// through the same engine, written as CSV point by point.
#pragma once

#include "app/CommandLine.h"
#include "app/MeasurementCommand.h"
#include "dsp/FFT.h"
#include "measure/FrequencySweep.h"

namespace app {

class SweepProgress;

class SweepCommand : public MeasurementCommand {
  public:
    explicit SweepCommand(const CommandLine& command);

    void SetTone() override;
    int Run(BlockHandOff& blocks, ResultFile& output, RunInfo run) override;

  private:
    RunEnd Sweep(BlockHandOff& blocks, ResultFile& output, SweepProgress& progress);

    const CommandLine& m_command;
    CFFT m_fft;
    FrequencySweep m_sweep;
    double m_frequency; // the generator's
};

} // namespace app
