// The spectrum engine against FFTW doing the same job: window an 8192-sample
// block, transform it and convert the first half of the bins to dB.
#include "dsp/FFT.h"

#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <cmath>
#include <complex>
#include <random>
#include <vector>

namespace {

constexpr int Order = 13;
constexpr int Size = 1 << Order;

std::vector<double> NoiseBlock() {
    std::mt19937 random(42);
    std::uniform_real_distribution<double> sample(-1.0, 1.0);
    std::vector<double> block(Size);
    for (double& s : block)
        s = sample(random);
    return block;
}

// The same conversion as the engine's, so that only the transforms differ.
double PowerDb(double re, double im) {
    const double power = re * re + im * im;
    return power >= 1e-24 ? 10.0 * std::log10(power) : -250.0;
}

void BM_InitWindow(benchmark::State& state) {
    CFFT fft;
    for (auto _ : state)
        benchmark::DoNotOptimize(fft.InitWindow(Order, CFFT::QuasiChebyshev));
}
BENCHMARK(BM_InitWindow);

void BM_Transform(benchmark::State& state) {
    CFFT fft;
    fft.InitWindow(Order, static_cast<int>(state.range(0)));
    const std::vector<double> block = NoiseBlock();
    std::vector<double> spectrum(Size / 2);
    for (auto _ : state) {
        fft.Transform(block.data(), spectrum.data());
        benchmark::DoNotOptimize(spectrum.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_Transform)->Arg(CFFT::Rectangle)->Arg(CFFT::QuasiChebyshev);

// The natural way to do the job with FFTW: a real-input transform.
void BM_FftwRealInput(benchmark::State& state) {
    CFFT fft;
    fft.InitWindow(Order, CFFT::QuasiChebyshev);
    const auto window = fft.Window();
    const std::vector<double> block = NoiseBlock();
    std::vector<double> spectrum(Size / 2);
    double* in = fftw_alloc_real(Size);
    fftw_complex* out = fftw_alloc_complex(Size / 2 + 1);
    fftw_plan plan = fftw_plan_dft_r2c_1d(Size, in, out, FFTW_MEASURE);
    for (auto _ : state) {
        for (int i = 0; i < Size; ++i)
            in[i] = block[i] * window[i];
        fftw_execute(plan);
        for (int k = 0; k < Size / 2; ++k)
            spectrum[k] = PowerDb(out[k][0], out[k][1]);
        benchmark::DoNotOptimize(spectrum.data());
        benchmark::ClobberMemory();
    }
    fftw_destroy_plan(plan);
    fftw_free(out);
    fftw_free(in);
}
BENCHMARK(BM_FftwRealInput);

// The engine's own shape of the job: a complex transform with zero imaginary parts.
void BM_FftwComplex(benchmark::State& state) {
    CFFT fft;
    fft.InitWindow(Order, CFFT::QuasiChebyshev);
    const auto window = fft.Window();
    const std::vector<double> block = NoiseBlock();
    std::vector<double> spectrum(Size / 2);
    fftw_complex* in = fftw_alloc_complex(Size);
    fftw_complex* out = fftw_alloc_complex(Size);
    fftw_plan plan = fftw_plan_dft_1d(Size, in, out, FFTW_FORWARD, FFTW_MEASURE);
    for (auto _ : state) {
        for (int i = 0; i < Size; ++i) {
            in[i][0] = block[i] * window[i];
            in[i][1] = 0.0;
        }
        fftw_execute(plan);
        for (int k = 0; k < Size / 2; ++k)
            spectrum[k] = PowerDb(out[k][0], out[k][1]);
        benchmark::DoNotOptimize(spectrum.data());
        benchmark::ClobberMemory();
    }
    fftw_destroy_plan(plan);
    fftw_free(out);
    fftw_free(in);
}
BENCHMARK(BM_FftwComplex);

// The dB conversion alone, which both sides pay in full.
void BM_PowerDbOnly(benchmark::State& state) {
    const std::vector<double> block = NoiseBlock();
    std::vector<double> spectrum(Size / 2);
    for (auto _ : state) {
        for (int k = 0; k < Size / 2; ++k)
            spectrum[k] = PowerDb(block[2 * k], block[2 * k + 1]);
        benchmark::DoNotOptimize(spectrum.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_PowerDbOnly);

} // namespace

BENCHMARK_MAIN();
