// The per-block work of the audio threads: the capture thread's conversion of
// a block and its append to a recording, the playback thread's tone fill and
// its fill from a signal played once. All must stay far below the 186 ms that
// one block of 8192 samples lasts.
#include "audio/Audio.h"
#include "audio/SoundInp.h"
#include "audio/SoundOut.h"
#include "platform/WaveDevice.h"

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

// A signal that ends half-way through the buffer, so that the tone fills the
// rest, as at the end of a signal.
void BM_FillBufferFromSignal(benchmark::State& state) {
    setUpSharedState();
    CSoundOut generator;
    std::vector<std::int16_t> buffer(FftSize), signal(FftSize / 2, 1000);
    WAVEHDR header{};
    header.lpData = reinterpret_cast<char*>(buffer.data());
    for (auto _ : state) {
        state.PauseTiming();
        QueuedSignal.Finish(ThreadIdentity());
        QueuedSignal.Queue({signal, 0, 0});
        generator.OnPlaySignal(0, 0);
        state.ResumeTiming();
        generator.FillBuffer(&header);
        benchmark::DoNotOptimize(buffer.data());
    }
    state.SetItemsProcessed(state.iterations() * FftSize);
}
BENCHMARK(BM_FillBufferFromSignal);

void BM_AppendToRecording(benchmark::State& state) {
    setUpSharedState();
    constexpr std::size_t Blocks = 64;
    std::vector<std::int16_t> samples(FftSize, 1000);
    WAVEHDR header{};
    header.lpData = reinterpret_cast<char*>(samples.data());
    header.dwBytesRecorded = static_cast<DWORD>(FftSize * 2);
    InputRecording recording;
    std::uint64_t position = 0;
    for (auto _ : state) {
        if (position % (Blocks * FftSize) == 0) {
            state.PauseTiming();
            recording.Request(0, Blocks * FftSize, {});
            state.ResumeTiming();
        }
        header.reserved = static_cast<std::uintptr_t>(position << HeaderPositionShift);
        recording.Append(header, std::nullopt, {});
        position += FftSize;
    }
    state.SetItemsProcessed(state.iterations() * FftSize);
}
BENCHMARK(BM_AppendToRecording);

} // namespace

BENCHMARK_MAIN();
