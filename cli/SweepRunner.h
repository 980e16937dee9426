// A frequency-response sweep driven by the blocks as they come, as the
// window's display cycle drives it: the tone set, each block's offset fitted
// beside the tone removed, its spectrum, the sweep's step, the tone retuned
// after each point. Shared by the sweep and the report.
#pragma once

#include "cli/MeasurementCommand.h"
#include "dsp/FFT.h"
#include "measure/FrequencySweep.h"

#include <functional>

namespace cli {

class SweepProgress;

class SweepRunner {
  public:
    SweepRunner(int windowType, double pointTimeoutSeconds);

    // The start frequency at `level` (as the window's level buttons).
    void SetTone(int level);
    // Until the last frequency, a point that takes too long, or a wait that
    // ends. `pointMeasured` may end the run by returning false with `end` set.
    using PointMeasured = std::function<bool(const ResponsePoint& point, RunEnd& end)>;
    RunEnd Run(BlockHandOff& blocks, SweepProgress& progress, const PointMeasured& pointMeasured);

    const FrequencySweep& Sweep() const { return m_sweep; }

  private:
    // Run's loop, block by block.
    RunEnd SweepBlocks(BlockHandOff& blocks, SweepProgress& progress,
                       const PointMeasured& pointMeasured);

    CFFT m_fft;
    FrequencySweep m_sweep;
    double m_frequency; // the generator's
    std::uint64_t m_timeoutBlocks;
    int m_shownAtFrequency = 0;
    double m_timeoutSeconds;
};

} // namespace cli
