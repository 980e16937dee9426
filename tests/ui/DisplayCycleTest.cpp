// The display cycle, one handed-off block at a time: what each block draws,
// what it reads out and when the capture thread is released.
#include "measure/SweepPlan.h"
#include "tests/ui/LiveDialog.h"

#include <QApplication>
#include <QPushButton>

#include <vector>

namespace {

constexpr COLORREF Green = RGB(0, 255, 0);
constexpr COLORREF Yellow = RGB(255, 255, 0);
constexpr COLORREF Black = RGB(0, 0, 0);

struct DisplayCycle : LiveDialog {
    std::vector<COLORREF> ScopePixels() const {
        PlotView* scope = dialog->ScopeView();
        const CRect rect = scope->viewRect();
        std::vector<COLORREF> pixels;
        for (int y = 0; y <= rect.bottom; ++y)
            for (int x = 0; x <= rect.right; ++x)
                pixels.push_back(scope->dc()->GetPixel(x, y));
        return pixels;
    }
};

TEST_F(DisplayCycle, AMessageWithoutTheBlockEventChangesNothing) {
    fillTone(1000, 1.0);
    dialog->ScopeView()->dc()->SetPixel(2, 2, Yellow);
    dialog->SpectrumView()->dc()->SetPixel(2, 2, Yellow);
    const std::string before = power();

    dialog->OnWindowMessage(WM_BLOCK_READY, 0, 0);

    EXPECT_EQ(dialog->ScopeView()->dc()->GetPixel(2, 2), Yellow);
    EXPECT_EQ(dialog->SpectrumView()->dc()->GetPixel(2, 2), Yellow);
    EXPECT_EQ(power(), before);
    EXPECT_FALSE(displayReady()) << "the capture thread is not released";
}

TEST_F(DisplayCycle, ABlockIsDrawnInBothViewsAndReleasesTheCaptureThread) {
    fillTone(1000, 1.0);
    dialog->ScopeView()->dc()->SetPixel(2, 2, Yellow);
    dialog->SpectrumView()->dc()->SetPixel(2, 2, Yellow);

    handOver();

    EXPECT_TRUE(displayReady());
    EXPECT_FALSE(WaitForSingleObject(BlockReadyEvent, 0) == WAIT_OBJECT_0) << "taken";
    EXPECT_NE(dialog->ScopeView()->dc()->GetPixel(2, 2), Yellow) << "erased first";
    EXPECT_NE(dialog->SpectrumView()->dc()->GetPixel(2, 2), Yellow) << "erased first";
    EXPECT_GT(CountPixels(dialog->ScopeView(), Green), 50) << "the trace";
    EXPECT_GT(CountPixels(dialog->SpectrumView(), Green), 50) << "the curve";
    const int bin = GeneratorBin(1000, FftSize);
    EXPECT_NEAR(Spectrum()[bin], 0.0, 0.9) << "a full-scale tone is near 0 dB";
}

TEST_F(DisplayCycle, WithMemoryCurvesPileUpWhileThePowerChangesAndAnExposeErasesThem) {
    dialog->show();
    QApplication::processEvents();
    static_cast<QPushButton*>(dialog->GetDlgItem(IDC_MEMORY))->click();
    ASSERT_EQ(dialog->m_Memory, 1);
    dialog->ScopeView()->dc()->SetPixel(2, 2, Yellow);
    dialog->SpectrumView()->dc()->SetPixel(2, 2, Yellow);

    fillTone(1000, 0.01); // small: the scope trace keeps to the centre
    handOver();
    QApplication::processEvents();
    const int firstCurve = CountPixels(dialog->SpectrumView(), Green);
    const std::string firstPower = power();
    fillTone(5000, 0.001);
    handOver();
    QApplication::processEvents(); // the label repaints behind itself

    EXPECT_NE(power(), firstPower);
    EXPECT_EQ(dialog->ScopeView()->dc()->GetPixel(2, 2), Yellow);
    EXPECT_EQ(dialog->SpectrumView()->dc()->GetPixel(2, 2), Yellow);
    EXPECT_GT(CountPixels(dialog->SpectrumView(), Green), firstCurve) << "two curves";

    dialog->repaint();
    EXPECT_EQ(dialog->SpectrumView()->dc()->GetPixel(2, 2), Black);
    EXPECT_EQ(CountPixels(dialog->SpectrumView(), Green), 0);
    EXPECT_EQ(CountPixels(dialog->ScopeView(), Green), 0);
}

TEST_F(DisplayCycle, SilenceAndAPureOffsetReadTooLow) {
    fillConstant(0.0);
    handOver();
    EXPECT_EQ(power(), "Too low");
    const std::vector<COLORREF> silentScope = ScopePixels();

    fillTone(1000, 1.0);
    handOver();
    ASSERT_NE(power(), "Too low");

    fillConstant(0.25);
    handOver();
    EXPECT_EQ(power(), "Too low") << "the offset is removed";
    for (int i = 0; i < FftSize; ++i)
        ASSERT_EQ(SampleBlock()[i], 0.0) << i;

    EXPECT_TRUE(silentScope == ScopePixels()) << "a flat trace, as silence draws it";
}

TEST_F(DisplayCycle, AnOffsetIsKeptWithoutRemoval) {
    static_cast<QPushButton*>(dialog->GetDlgItem(IDC_REMOVE_DC))->click();
    ASSERT_EQ(dialog->m_RemoveDC, 0);
    fillConstant(0.25);
    handOver();
    EXPECT_EQ(power(), "-9.") << "10 log10(0.0625) + 3";
}

TEST_F(DisplayCycle, AFullScaleToneReadsCloseToZeroInExponentForm) {
    fillTone(44100.0 * 64 / FftSize, 1.0);
    handOver();
    EXPECT_EQ(power(), "-1.1e-002");
}

} // namespace
