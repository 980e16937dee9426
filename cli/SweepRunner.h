// A frequency-response sweep driven by the blocks as they come, as the
// window's display cycle drives it: the tone set, each block's offset fitted
// beside the tone removed, its spectrum, the sweep's step, the tone retuned
// after each point. Shared by the sweep and the report. In a run of two
// channels each channel is swept as one would be, on the same tone, which
// moves on once both have their point.
#pragma once

#include "cli/MeasurementCommand.h"
#include "dsp/FFT.h"
#include "measure/FrequencySweep.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace cli {

class SweepProgress;

class SweepRunner {
  public:
    SweepRunner(int windowType, double pointTimeoutSeconds);

    // The start frequency at `level` (as the window's level buttons).
    void SetTone(int level);
    // Until the last frequency, a point that takes too long, or a wait that
    // ends. `pointMeasured` is called for each channel's point in turn once
    // every channel has it, and may end the run by returning false with `end`
    // set.
    using PointMeasured = std::function<bool(int channel, const ResponsePoint& point, RunEnd& end)>;
    RunEnd Run(BlockHandOff& blocks, SweepProgress& progress, const PointMeasured& pointMeasured);

    // The first channel's sweep, or the channel's asked for.
    const FrequencySweep& Sweep(int channel = 0) const { return m_sweeps[channel]; }

  private:
    // Run's loop, block by block.
    RunEnd SweepBlocks(BlockHandOff& blocks, SweepProgress& progress,
                       const PointMeasured& pointMeasured);

    // The longest any channel that still lacks its point has waited at the
    // frequency, in blocks recorded.
    std::uint64_t BlocksWaited() const;

    CFFT m_fft;
    // Per channel. The first channel's spectrum is Spectrum(), the others'
    // are in m_spectra.
    std::vector<std::vector<double>> m_spectra;
    std::vector<bool> m_hasPoint; // at the tone's frequency
    std::vector<FrequencySweep> m_sweeps;
    double m_frequency; // the generator's
    std::uint64_t m_timeoutBlocks;
    int m_shownAtFrequency = 0;
    double m_timeoutSeconds;
};

} // namespace cli
