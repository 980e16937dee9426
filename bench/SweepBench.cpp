// The swept sine's analysis alone, at the default length: what a run spends
// between the end of the recording and its figures. The recording of the
// default virtual card is made once, outside the timing.
#include "dsp/SignalFormat.h"
#include "measure/ResponseFrequencies.h"
#include "measure/SweepAnalysis.h"
#include "measure/SweepPlan.h"
#include "sim/DeviceModel.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

std::vector<std::int16_t> Recording(const SweepSignal& sweep, std::size_t frames) {
    std::vector<std::int16_t> played(frames, 0), recorded(frames);
    std::copy(sweep.Samples().begin(), sweep.Samples().end(), played.begin());
    DeviceSimulator(DeviceModel::ConsumerCard()).process(played.data(), recorded.data(), frames);
    return recorded;
}

// Planning, the sweep's inverse, one recording and its figures: range(0) is
// 0 for the stepped sweep's 99 frequencies, else points per octave.
void BM_AnalyseDefaultSweep(benchmark::State& state) {
    const SweepSignal sweep{SweepSettings{}};
    const auto recording = Recording(sweep, SweepAnalysis(sweep).RecordingFrames());
    const auto perOctave = static_cast<int>(state.range(0));
    const auto frequencies =
        perOctave == 0 ? SweepPointFrequencies(BlockSize) : PerOctaveFrequencies(perOctave);
    for (auto _ : state) {
        SweepAnalysis analysis(sweep);
        analysis.Add(recording);
        benchmark::DoNotOptimize(analysis.Analyse(frequencies));
    }
}
BENCHMARK(BM_AnalyseDefaultSweep)->Arg(0)->Arg(24)->Arg(96)->Unit(benchmark::kMillisecond);

// A further recording for the average of --sweeps=N.
void BM_AddRecording(benchmark::State& state) {
    const SweepSignal sweep{SweepSettings{}};
    SweepAnalysis analysis(sweep);
    const auto recording = Recording(sweep, analysis.RecordingFrames());
    for (auto _ : state)
        benchmark::DoNotOptimize(analysis.Add(recording));
}
BENCHMARK(BM_AddRecording)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
