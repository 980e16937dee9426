#include "cli/ClockDriftRun.h"

#include "cli/ExitStatus.h"
#include "cli/SignalRecorder.h"
#include "dsp/SignalFormat.h"
#include "measure/NumberFormat.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <numbers>
#include <vector>

namespace cli {
namespace {

constexpr double ToneHz = 997;
constexpr double ToneDbfs = -6;
constexpr double ToneSeconds = 2;
constexpr int RetriesAfterAGap = 2;

std::vector<std::int16_t> DriftTone() {
    std::vector<std::int16_t> tone(static_cast<std::size_t>(ToneSeconds * SampleRate));
    const double peak = std::pow(10.0, ToneDbfs / 20) * (SampleFullScale - 1);
    for (std::size_t i = 0; i < tone.size(); ++i)
        tone[i] = static_cast<std::int16_t>(std::lround(
            peak * std::sin(2 * std::numbers::pi * ToneHz * static_cast<double>(i) / SampleRate)));
    return tone;
}

} // namespace

DriftRun MeasureDrift(BlockHandOff& blocks, const std::function<void(const std::string&)>& say) {
    const std::vector<std::int16_t> tone = DriftTone();
    const SignalToRecord request{tone, static_cast<std::size_t>(0.1 * SampleRate)};
    DriftRun run;
    for (int attempt = 0; attempt <= RetriesAfterAGap; ++attempt) {
        const RecordedSignal recorded = RecordSignal(blocks, request);
        run.end = recorded.end;
        if (recorded.end.status != ExitDone)
            return run;
        if (recorded.gap == InputRecording::Gap::None) {
            run.drift = MeasureClockDrift(ChannelSamples(recorded.samples, recorded.channels, 0),
                                          ToneHz, SampleRate);
            return run;
        }
        say("The recording held a gap (" + GapText(recorded.gap) + "): playing the tone again...");
    }
    return run; // the drift stays not measured, and the run goes on
}

DriftRun MeasureDriftAfterwards(BlockHandOff& blocks) {
    const auto say = [](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); };
    say("Clock drift (a 2 s tone)...");
    return MeasureDrift(blocks, say);
}

std::string DriftText(const std::optional<ClockDrift>& drift) {
    if (!drift)
        return "Clock drift: not measured\n";
    // A drift that rounds to nothing reads 0.00, never -0.00.
    const double ppm = std::abs(drift->ppm) < 0.005 ? 0.0 : drift->ppm;
    std::string text = "Clock drift: " + FixedText(ppm, 2) +
                       " ppm (the output's clock re "
                       "the input's)";
    if (ClocksOfTheirOwn(drift->ppm))
        text += ": beyond " + FixedText(ClockDriftFlagPpm, 0) +
                " ppm, the output and the input run on clocks of their own";
    return text + "\n";
}

} // namespace cli
