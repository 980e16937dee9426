#include "tests/harness/AppRunner.h"

#include "app/MeterApp.h"
#include "audio/Audio.h"
#include "platform/AudioBackend.h"
#include "ui/MainDlg.h"

#include <QTimer>

#include <cmath>

namespace {

double rmsDb(const double* block, int n) {
    long double sum = 0;
    for (int i = 0; i < n; ++i)
        sum += static_cast<long double>(block[i]) * block[i];
    return 10.0 * std::log10(static_cast<double>(sum / n));
}

// The frequency of a clean tone, from its rising zero crossings interpolated
// between samples. Cheap enough for the display cycle.
double toneFrequency(const double* block, int n) {
    double first = -1, last = -1;
    int periods = -1;
    for (int i = 1; i < n; ++i) {
        if (block[i - 1] < 0 && block[i] >= 0) {
            const double crossing = i - 1 + block[i - 1] / (block[i - 1] - block[i]);
            if (first < 0)
                first = crossing;
            last = crossing;
            ++periods;
        }
    }
    return periods > 0 ? periods * 44100.0 / (last - first) : 0.0;
}

} // namespace

void UseVirtualCard(const DeviceModel& model, VirtualCard::Clock clock) {
    platform::UseSoundCard(sim::TheVirtualCard(), platform::AudioBackend::Virtual);
    VirtualCard& card = sim::TheVirtualCard();
    card.reset();
    card.setModel(model);
    card.setClock(clock);
}

RunResult RunProgram(int blocks, std::function<void(const ShownBlock&)> onBlock) {
    RunResult result;
    platform::BoxRecorder boxes;
    CMeterApp app;
    DroppedBlockCount = 0; // a program run earlier in this process may have left some
    CMainDlg::SetBlockObserver([&](WPARAM dropped) {
        if (static_cast<int>(result.blocks.size()) >= blocks)
            return;
        const ShownBlock shown{dropped, rmsDb(SampleBlock(), FftSize),
                               toneFrequency(SampleBlock(), FftSize),
                               std::chrono::steady_clock::now()};
        result.blocks.push_back(shown);
        result.outputThreadId = SoundOutThread->id();
        result.inputThreadId = SoundInpThread->id();
        if (onBlock)
            onBlock(shown);
        if (static_cast<int>(result.blocks.size()) == blocks)
            QTimer::singleShot(0, [&app] { app.mainDialog()->reject(); });
    });
    app.InitInstance();
    CMainDlg::SetBlockObserver(nullptr);
    result.boxes = boxes.boxes();
    return result;
}
