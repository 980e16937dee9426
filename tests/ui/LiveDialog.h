// The main dialog driven block by block, without audio threads: a test fills
// SampleBlock and hands it over as the capture thread would.
#pragma once

#include "Audio.h"
#include "MainDlg.h"
#include "MessageBox.h"
#include "PlotView.h"
#include "Resource.h"
#include "Sweep.h"

#include <QLabel>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <numbers>
#include <string>

// Amplitude of the generator's tone at "-20dB", as the playback thread plays it.
constexpr double Minus20dBAmplitude = 6554.0 / 65536 * 32767 / 32768;

struct LiveDialog : ::testing::Test {
    platform::BoxRecorder boxes;
    std::unique_ptr<CMainDlg> dialog;
    double phase = 0.0;

    void SetUp() override {
        FftSize = 8192;
        GenPeriod = 32.5;
        FullScale = 32768.0;
        ASSERT_TRUE(AllocAudioBuffers());
        BlockReadyEvent.ResetEvent();
        DisplayReadyEvent.ResetEvent();
        SweepBlockCount = 0;
        SweepPeak = 0.0;
        NoiseFailCount = 0;
        dialog = std::make_unique<CMainDlg>();
    }

    void TearDown() override {
        dialog.reset();
        FreeAudioBuffers();
    }

    // What the capture thread does: the event, then the message.
    void handOver(WPARAM dropped = 0) {
        BlockReadyEvent.SetEvent();
        dialog->OnWindowMessage(WM_BLOCK_READY, dropped, 0);
    }

    // A phase-continuous sine as the playback thread makes it (16-bit,
    // truncated toward zero), plus an optional second line and DC offset.
    void fillTone(double frequency, double amplitude, double humHz = 0, double humAmplitude = 0,
                  double dc = 0) {
        double* block = SampleBlock();
        for (int i = 0; i < FftSize; ++i) {
            const auto sample =
                static_cast<std::int16_t>(std::sin(phase) * (FullScale - 1) * amplitude);
            phase += 2 * std::numbers::pi * frequency / 44100;
            const double hum = humAmplitude * std::sin(2 * std::numbers::pi * humHz * i / 44100);
            block[i] = sample / FullScale + hum + dc;
        }
        phase = std::fmod(phase, 2 * std::numbers::pi);
    }

    void fillConstant(double value) {
        for (int i = 0; i < FftSize; ++i)
            SampleBlock()[i] = value;
    }

    std::string power() const {
        return static_cast<QLabel*>(dialog->GetDlgItem(IDC_POWER))->text().toStdString();
    }

    bool displayReady() const { return WaitForSingleObject(DisplayReadyEvent, 0) == WAIT_OBJECT_0; }
};

// Pixels of that colour in a view.
inline int CountPixels(PlotView* view, COLORREF colour) {
    const CRect rect = view->viewRect();
    int count = 0;
    for (int y = 0; y <= rect.bottom; ++y)
        for (int x = 0; x <= rect.right; ++x)
            count += view->dc()->GetPixel(x, y) == colour;
    return count;
}
