// The display cycle: one OnBlockReady run on a dialog of its default size, on
// Qt's offscreen platform. Aim: well under 1 ms per block (0.5 % of the
// 186 ms block time).
//   display_bench --benchmark_repetitions=10
#include "audio/Audio.h"
#include "platform/MessageBox.h"
#include "ui/MainDlg.h"

#include <QApplication>

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <numbers>
#include <vector>

namespace {

// What the capture thread hands over: a -20 dB tone at `frequency` Hz.
std::vector<double> ToneBlock(double frequency) {
    std::vector<double> block(FftSize);
    for (int i = 0; i < FftSize; ++i)
        block[i] = 0.1 * std::sin(2 * std::numbers::pi * frequency * i / 44100) + 1e-3;
    return block;
}

struct LiveInstrument {
    platform::BoxRecorder boxes;
    CMainDlg dialog;

    LiveInstrument() { dialog.show(); }

    void showBlock(const std::vector<double>& block) {
        std::copy(block.begin(), block.end(), SampleBlock());
        BlockReadyEvent.SetEvent();
        dialog.OnWindowMessage(WM_BLOCK_READY, 0, 0);
    }
};

// The handler alone, as the block arrives; the views repaint later.
void BM_DisplayCycle(benchmark::State& state) {
    LiveInstrument instrument;
    const std::vector<double> block = ToneBlock(1000);
    for (auto _ : state)
        instrument.showBlock(block);
}
BENCHMARK(BM_DisplayCycle)->Unit(benchmark::kMicrosecond);

// The handler and the repaints it causes (views and power read-out).
void BM_DisplayCycleWithRepaint(benchmark::State& state) {
    LiveInstrument instrument;
    const std::vector<double> block = ToneBlock(1000);
    for (auto _ : state) {
        instrument.showBlock(block);
        QApplication::processEvents();
    }
}
BENCHMARK(BM_DisplayCycleWithRepaint)->Unit(benchmark::kMicrosecond);

// With a sweep running: the offset fitted beside the tone, the noise test and
// the step on every block.
void BM_DisplayCycleSweeping(benchmark::State& state) {
    LiveInstrument instrument;
    instrument.dialog.OnAFC();
    const std::vector<double> block = ToneBlock(instrument.dialog.m_Frequency);
    for (auto _ : state) {
        if (!instrument.dialog.m_AFC)
            instrument.dialog.OnAFC();
        instrument.showBlock(block);
    }
}
BENCHMARK(BM_DisplayCycleSweeping)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    FftSize = 8192;
    GenPeriod = 32.5;
    FullScale = 32768.0;
    if (!AllocAudioBuffers())
        return 1;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    FreeAudioBuffers();
    return 0;
}
