// `tembrix report`: a loop-back quality report in one run, in this order: a
// loop check, the frequency response (a swept sine, or the stepped sweep),
// THD and THD+N, the dynamic range, the noise. The only file that knows that
// order.
#pragma once

#include "cli/CommandLine.h"
#include "cli/MeasurementCommand.h"
#include "cli/SweepRunner.h"
#include "cli/SweptSineRunner.h"
#include "measure/LoopbackReport.h"

#include <functional>
#include <optional>

namespace cli {

class SweepProgress;

class ReportCommand : public MeasurementCommand {
  public:
    explicit ReportCommand(const CommandLine& command);

    void SetTone() override;
    int Run(BlockHandOff& blocks, ResultFile& output, RunInfo run) override;

  private:
    RunEnd CheckTheLoop(BlockHandOff& blocks);
    // Each stores its figures, and marks its part measured, only when it
    // measured them whole.
    RunEnd MeasureSweptSineResponse(BlockHandOff& blocks);
    RunEnd MeasureSteppedResponse(BlockHandOff& blocks);
    RunEnd MeasureDistortion(BlockHandOff& blocks);
    RunEnd MeasureDynamicRange(BlockHandOff& blocks);
    RunEnd MeasureNoise(BlockHandOff& blocks);
    // The report's tone at `toneDbfs`, measured over settled blocks.
    RunEnd MeasureTone(BlockHandOff& blocks, double toneDbfs, DistortionMeter::Result& result);

    // The report's tone at 997 Hz, rounded to the nearest 16-bit value.
    void PlayTestTone(double dbfs);
    void PlaySilence();
    // Skips the blocks that may still carry what played before, then hands
    // `count` blocks with no dropped blocks or gaps before them to `take`.
    RunEnd TakeSettledBlocks(BlockHandOff& blocks, int count,
                             const std::function<void(const double*)>& take);
    int WriteReport(ResultFile& output, const RunEnd& end);
    void Say(const char* line) const;

    const CommandLine& m_command;
    SweepRunner m_runner;
    std::optional<SweptSineRunner> m_sweptSine; // unless the stepped sweep is asked for
    LoopbackReport m_report;
};

} // namespace cli
