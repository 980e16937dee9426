// A loop-back report of two input channels: each channel's own report, and
// how the two compare: the crosstalk each way at 1 kHz and against
// frequency (from the swept sine, each output driven alone) and the channel
// match (the gain difference at 1 kHz and over 20 Hz - 20 kHz, and with the
// swept sine the phase difference against frequency).
#pragma once

#include "measure/ChannelComparison.h"
#include "measure/LoopbackReport.h"

#include <array>
#include <optional>
#include <string>

struct ChannelsReport {
    std::array<LoopbackReport, 2> channels; // left, right
    // Swept sine only: none until measured.
    std::optional<Crosstalk> leftToRight;
    std::optional<Crosstalk> rightToLeft;
    std::optional<ChannelMatch> match;
};

// Each channel's table (ReportTable), then "Channels": the crosstalk both
// ways and the channel match, "not measured" where they were not.
std::string ChannelsTable(const ChannelsReport& report, const FormatLimits& limits);
// {"channels": 2, "left": ..., "right": ... (each as ReportJson),
// "crosstalk_db": {"left_to_right", "right_to_left", "curves": {each:
// [[frequency_hz, db], ...]}}, "channel_match": {"gain_difference_db",
// "gain_difference_range_db": [lowest, highest], "phase_difference_deg":
// [[frequency_hz, degrees], ...]}}; a figure not measured is null, and a
// crosstalk into digital silence too, with "digital_silence" saying which.
std::string ChannelsJson(const ChannelsReport& report, const FormatLimits& limits);
// The "Channels" lines of the table.
std::string ChannelsSummaryText(const ChannelsReport& report);
