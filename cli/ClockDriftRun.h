// The drift between the output's clock and the input's, measured with a
// tone played and recorded without a gap: two devices with clocks of their
// own drift apart by tens of ppm, which stretches every recording against
// the signal played.
#pragma once

#include "cli/BlockHandOff.h"
#include "cli/MeasurementCommand.h"
#include "measure/ClockDrift.h"

#include <functional>
#include <optional>
#include <string>

namespace cli {

struct DriftRun {
    RunEnd end{0, ""};
    std::optional<ClockDrift> drift; // none when the tone did not come back whole
};

// Plays a 997 Hz tone at -6 dBFS for 2 s and measures the drift from its
// recording's first input channel. A recording with a gap is made again, at
// most twice; `say` gets the progress.
DriftRun MeasureDrift(BlockHandOff& blocks, const std::function<void(const std::string&)>& say);

// For a measurement that plays no signal of its own: the drift measured
// after it, for its summary, with the progress on standard error. A run
// that ends meanwhile (a stop, a stall) ends the command.
DriftRun MeasureDriftAfterwards(BlockHandOff& blocks);

// "Clock drift: 0.00 ppm (the output's clock re the input's)", with a
// warning beyond ClockDriftFlagPpm, or "Clock drift: not measured"; a line.
std::string DriftText(const std::optional<ClockDrift>& drift);

} // namespace cli
