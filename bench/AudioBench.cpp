// The per-block work of the audio threads: the capture thread's conversion of
// a block and the playback thread's tone fill. Both must stay far below the
// 186 ms that one block of 8192 samples lasts.
#include "audio/Audio.h"
#include "audio/SoundInp.h"
#include "audio/SoundOut.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

namespace {

void setUpSharedState() {
    FftSize = 8192;
    FullScale = 32768.0;
    GenPeriod = 32.5;
}

void BM_ConvertBlock(benchmark::State& state) {
    setUpSharedState();
    std::vector<std::int16_t> samples(FftSize);
    for (int i = 0; i < FftSize; ++i)
        samples[i] = static_cast<std::int16_t>(i * 7919);
    std::vector<double> block(FftSize);
    for (auto _ : state) {
        ConvertBlock(samples.data(), block.data(), FftSize);
        benchmark::DoNotOptimize(block.data());
    }
    state.SetItemsProcessed(state.iterations() * FftSize);
}
BENCHMARK(BM_ConvertBlock);

void BM_FillToneBuffer(benchmark::State& state) {
    setUpSharedState();
    CSoundOut generator;
    std::vector<std::int16_t> buffer(FftSize);
    for (auto _ : state) {
        generator.FillToneBuffer(buffer.data());
        benchmark::DoNotOptimize(buffer.data());
    }
    state.SetItemsProcessed(state.iterations() * FftSize);
}
BENCHMARK(BM_FillToneBuffer);

} // namespace

BENCHMARK_MAIN();
