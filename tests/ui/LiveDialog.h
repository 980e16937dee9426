// The main dialog driven block by block, without audio threads: a test fills
// SampleBlock and hands it over as the capture thread would.
#pragma once

#include "audio/Audio.h"
#include "platform/MessageBox.h"
#include "res/Resource.h"
#include "tests/measure/ToneBlocks.h"
#include "ui/MainDlg.h"
#include "ui/PlotView.h"

#include <QLabel>

#include <gtest/gtest.h>

#include <memory>
#include <string>

struct LiveDialog : ::testing::Test {
    platform::BoxRecorder boxes;
    std::unique_ptr<CMainDlg> dialog;
    ToneBlocks tone;

    void SetUp() override {
        FftSize = 8192;
        GenPeriod = 32.5;
        FullScale = 32768.0;
        ASSERT_TRUE(AllocAudioBuffers());
        BlockReadyEvent.ResetEvent();
        DisplayReadyEvent.ResetEvent();
        dialog = std::make_unique<CMainDlg>();
    }

    void TearDown() override {
        dialog.reset();
        FreeAudioBuffers();
    }

    // What the capture thread does: the event, then the message (lParam 1
    // for a block with a gap).
    void handOver(WPARAM dropped = 0, LPARAM gap = 0) {
        BlockReadyEvent.SetEvent();
        dialog->OnWindowMessage(WM_BLOCK_READY, dropped, gap);
    }

    // The generator's tone as the loop-back brings it (see ToneBlocks).
    void fillTone(double frequency, double amplitude, double humHz = 0, double humAmplitude = 0,
                  double dc = 0) {
        tone.Fill(SampleBlock(), FftSize, frequency, amplitude, humHz, humAmplitude, dc);
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
