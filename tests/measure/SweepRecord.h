// What an input records of the swept sine through a simulated device.
#pragma once

#include "measure/SweepSignal.h"
#include "sim/DeviceModel.h"

#include <algorithm>
#include <cstdint>
#include <vector>

// What the input records while the sweep, then silence, is played.
inline std::vector<std::int16_t> Record(const SweepSignal& sweep, const DeviceModel& card,
                                        std::size_t frames) {
    std::vector<std::int16_t> played(frames, 0), recorded(frames);
    std::copy(sweep.Samples().begin(), sweep.Samples().end(), played.begin());
    DeviceSimulator(card).process(played.data(), recorded.data(), frames);
    return recorded;
}
