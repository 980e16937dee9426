// `tembrix report`: a loop-back quality report in one run, in this order: a
// loop check, the frequency response (a swept sine, or the stepped sweep),
// THD and THD+N, the dynamic range, the noise. The only file that knows that
// order. With two channels each figure is measured on both inputs at once,
// and the crosstalk and channel match follow; with a reference channel the
// figures are the other channel's, its response re the reference.
#pragma once

#include "cli/CommandLine.h"
#include "cli/MeasurementCommand.h"
#include "cli/SweepRunner.h"
#include "cli/SweptSineRunner.h"
#include "measure/LoopbackReport.h"

#include <functional>
#include <optional>
#include <vector>

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
    // The report's tone at `toneDbfs`, measured over settled blocks on each
    // channel reported.
    RunEnd MeasureTone(BlockHandOff& blocks, double toneDbfs,
                       std::vector<DistortionMeter::Result>& results);
    void SetMeasured(ReportPart part);

    // The report's tone at 997 Hz, rounded to the nearest 16-bit value.
    void PlayTestTone(double dbfs);
    void PlaySilence();
    // Skips the blocks that may still carry what played before, then calls
    // `take` for `count` blocks with no dropped blocks or gaps before them,
    // each in SampleBlock.
    RunEnd TakeSettledBlocks(BlockHandOff& blocks, int count, const std::function<void()>& take);
    int WriteReport(ResultFile& output, const RunEnd& end);
    void Say(const char* line) const;

    const CommandLine& m_command;
    std::optional<int> m_reference; // the reference channel's index
    // The input channels reported, each with its report: the only one, both,
    // or the one measured re the reference.
    std::vector<int> m_reported;
    std::vector<LoopbackReport> m_reports;
    SweepRunner m_runner;
    std::optional<SweptSineRunner> m_sweptSine; // unless the stepped sweep is asked for
    // Two channels without a reference: how they compare.
    std::optional<Crosstalk> m_leftToRight;
    std::optional<Crosstalk> m_rightToLeft;
    std::optional<ChannelMatch> m_match;
    // The report's tone as the input's clock counts it, once the drift is known.
    double m_toneHzOnInputClock = ReportToneHz;
};

} // namespace cli
