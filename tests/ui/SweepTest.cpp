// The frequency-response sweep, driven one displayed block at a time with
// synthetic loop-back blocks: the tone the generator is set to, as it comes
// back.
#include "LevelRecorder.h"
#include "LiveDialog.h"

#include <QLineEdit>
#include <QPushButton>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <tuple>
#include <vector>

namespace {

struct MeasuredPoint {
    double f;
    double peakDb;
    double levelDb;
};

const int SettingControls[] = {IDC_FREQUENCY,  IDC_MEMORY,    IDC_LEVEL_0DB,
                               IDC_LEVEL_20DB, IDC_LEVEL_OFF, IDC_REMOVE_DC};

struct Sweep : LiveDialog {
    std::vector<MeasuredPoint> points;
    double amplitude = Minus20dBAmplitude;

    void SetUp() override {
        LiveDialog::SetUp();
        CMainDlg::SetSweepObserver([this](double f, double peakDb, double levelDb) {
            points.push_back({f, peakDb, levelDb});
        });
    }
    void TearDown() override {
        CMainDlg::SetSweepObserver(nullptr);
        LiveDialog::TearDown();
    }

    double generatorFrequency() const { return 44100 / GenPeriod.load(); }

    // The tone as the card brings it back, with a faint hum and an offset.
    void loopBackBlock() {
        fillTone(generatorFrequency(), amplitude, 50, std::pow(10.0, -90.0 / 20), 1e-3);
        handOver();
    }
    // The tone drowned by hum 20 dB above it.
    void humBlock() {
        fillTone(generatorFrequency(), 1e-3, 50, 1e-2);
        handOver();
    }
    // The blocks still carrying the previous tone after a frequency change.
    void settle() {
        for (int i = 0; i < ToneSettling::StaleBlocks; ++i)
            loopBackBlock();
    }

    void click(int id) { static_cast<QPushButton*>(dialog->GetDlgItem(id))->click(); }
    std::string field() const {
        return static_cast<QLineEdit*>(dialog->GetDlgItem(IDC_FREQUENCY))->text().toStdString();
    }
};

TEST_F(Sweep, StartingSwitchesTheToneOnAtMinus20dBAndLocksTheSettings) {
    SoundOutThread = AfxBeginThread(&LevelRecorder::runtimeClass);
    ASSERT_NE(SoundOutThread, nullptr);
    click(IDC_LEVEL_OFF);
    click(IDC_MEMORY);
    click(IDC_REMOVE_DC);
    dialog->m_Trace.AddPoint(1, 1);

    click(IDC_AFC);

    EXPECT_EQ(LevelRecorder::Received(2), (std::vector<WPARAM>{0, 6554}));
    EXPECT_EQ(dialog->m_AFC, 1);
    EXPECT_EQ(dialog->m_Level, 1);
    EXPECT_EQ(dialog->m_Memory, 0);
    EXPECT_EQ(dialog->m_RemoveDC, 1);
    EXPECT_EQ(dialog->m_Trace.count(), -1);
    EXPECT_EQ(dialog->m_Frequency, 10.7666015625);
    EXPECT_EQ(GenPeriod.load(), 4096.0);
    EXPECT_EQ(field(), "10.7666015625");
    EXPECT_TRUE(static_cast<QPushButton*>(dialog->GetDlgItem(IDC_LEVEL_20DB))->isChecked());
    EXPECT_FALSE(static_cast<QPushButton*>(dialog->GetDlgItem(IDC_MEMORY))->isChecked());
    for (int id : SettingControls)
        EXPECT_FALSE(dialog->GetDlgItem(id)->isEnabled()) << id;
    EXPECT_TRUE(dialog->GetDlgItem(IDC_AFC)->isEnabled());

    SoundOutThread->PostThreadMessage(LevelRecorder::WM_QUIT_RECORDER, 0, 0);
    SoundOutThread = nullptr;
}

TEST_F(Sweep, StartingAt0dBKeepsTheLevel) {
    click(IDC_AFC);
    EXPECT_EQ(dialog->m_Level, 0);
}

TEST_F(Sweep, StoppingUnlocksTheSettingsAndKeepsTraceToneAndField) {
    click(IDC_AFC);
    for (int point = 0; point < 3; ++point) {
        settle();
        for (int i = 0; i < 5; ++i)
            loopBackBlock();
    }
    ASSERT_EQ(points.size(), 3u);
    const double period = GenPeriod;
    const std::string shown = field();

    click(IDC_AFC);

    EXPECT_EQ(dialog->m_AFC, 0);
    for (int id : SettingControls)
        EXPECT_TRUE(dialog->GetDlgItem(id)->isEnabled()) << id;
    EXPECT_EQ(dialog->m_Trace.count(), 2);
    EXPECT_EQ(GenPeriod.load(), period);
    EXPECT_EQ(field(), shown);
    loopBackBlock();
    EXPECT_EQ(points.size(), 3u) << "no step while stopped";
}

TEST_F(Sweep, ThePointComesAfterFivePassingBlocksAndFailingBlocksDoNotCount) {
    click(IDC_AFC);
    settle();
    EXPECT_EQ(SweepBlockCount, 0) << "blocks that may carry the previous tone fail";
    loopBackBlock();
    loopBackBlock();
    humBlock();
    humBlock();
    loopBackBlock();
    loopBackBlock();
    EXPECT_EQ(SweepBlockCount, 4);
    EXPECT_TRUE(points.empty());
    EXPECT_EQ(dialog->m_Trace.count(), -1);

    loopBackBlock();

    ASSERT_EQ(points.size(), 1u);
    EXPECT_EQ(points[0].f, 10.7666015625);
    EXPECT_EQ(dialog->m_Trace.count(), 0);
    const CRect rect = dialog->SpectrumView()->viewRect();
    const TracePoint stored = dialog->m_Trace.point(0);
    EXPECT_EQ(stored.x, FreqToX(points[0].f, rect.right));
    EXPECT_EQ(stored.y, DbToY(points[0].levelDb, rect.bottom));
    EXPECT_NEAR(generatorFrequency(), 10.7666015625 * 1.080025689987635, 1e-9);
    EXPECT_EQ(SweepBlockCount, 0);
}

TEST_F(Sweep, TheNoiseBoxComesOnTheEleventhFailingBlockOnlyUntilABlockPasses) {
    click(IDC_AFC);
    for (int i = 0; i < 10; ++i)
        humBlock();
    EXPECT_TRUE(boxes.boxes().empty());
    humBlock();
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, "There are noise lines.");
    EXPECT_EQ(boxes.boxes()[0].title, "Processing error.");
    EXPECT_EQ(boxes.boxes()[0].style, MB_ICONERROR);
    for (int i = 0; i < 30; ++i)
        humBlock();
    EXPECT_EQ(boxes.boxes().size(), 1u);
    EXPECT_TRUE(displayReady()) << "the box held the cycle, not the capture thread";

    loopBackBlock();
    EXPECT_EQ(NoiseFailCount, 0);
    for (int i = 0; i < 11; ++i)
        humBlock();
    EXPECT_EQ(boxes.boxes().size(), 2u);
    EXPECT_TRUE(points.empty());
}

// window type, tone amplitude
class FullSweep : public Sweep, public ::testing::WithParamInterface<std::tuple<int, double>> {};

TEST_P(FullSweep, MeasuresTheFlatLoopBackAtNinetyNineFrequencies) {
    const auto [window, level] = GetParam();
    if (window == CFFT::Rectangle)
        dialog->OnSpectrumRectangle();
    amplitude = level;
    if (level == 1.0)
        click(IDC_LEVEL_0DB);
    click(IDC_AFC);

    int blocks = 0;
    while (dialog->m_AFC && blocks < 2000) {
        loopBackBlock();
        ++blocks;
    }

    EXPECT_EQ(dialog->m_AFC, 0) << "the sweep ended by itself";
    EXPECT_EQ(blocks, 99 * (ToneSettling::StaleBlocks + 5) + 5)
        << "no block failed but the stale; the last frequency needs no test";
    EXPECT_TRUE(boxes.boxes().empty());
    ASSERT_EQ(points.size(), 99u);
    const double toneDb = 20 * std::log10(amplitude * 32767 / 32768);
    double largestScallop = 0;
    for (int k = 0; k < 99; ++k) {
        const double f = 10.7666015625 * std::pow(2205.0, k / 100.0);
        EXPECT_NEAR(points[k].f, f, f * 1e-12) << k;
        // The rectangle's side lobes fall off slowly: the tone's mirror at -f
        // reaches its bin, by an amount that depends on the tone's phase, up
        // to 0.8 dB below 300 Hz.
        const double tolerance = window == CFFT::Rectangle ? (f < 300 ? 1.0 : 0.05) : 0.01;
        EXPECT_NEAR(points[k].levelDb, toneDb, tolerance) << "at " << f << " Hz";
        largestScallop = std::max(largestScallop, points[k].levelDb - points[k].peakDb);
    }
    EXPECT_GT(largestScallop, window == CFFT::Rectangle ? 3.0 : 0.7) << "the mend matters";

    EXPECT_EQ(field(), "344.53125");
    EXPECT_NEAR(generatorFrequency(), 10.7666015625 * std::pow(2205.0, 0.99), 1e-6)
        << "the hundredth frequency stays the tone";
    for (int id : SettingControls)
        EXPECT_TRUE(dialog->GetDlgItem(id)->isEnabled()) << id;

    ASSERT_EQ(dialog->m_Trace.count(), 98);
    const CRect rect = dialog->SpectrumView()->viewRect();
    EXPECT_NEAR(dialog->m_Trace.point(0).x, 0.0096 * rect.right, 0.001 * rect.right);
    EXPECT_NEAR(dialog->m_Trace.point(98).x - dialog->m_Trace.point(97).x, rect.right / 100.0,
                1e-9);
    EXPECT_EQ(dialog->m_Trace.AddPoint(1, 1), 1);
    EXPECT_EQ(dialog->m_Trace.AddPoint(2, 2), 0) << "the hundred and first";
}

INSTANTIATE_TEST_SUITE_P(BothWindowsBothLevels, FullSweep,
                         ::testing::Combine(::testing::Values(CFFT::QuasiChebyshev,
                                                              CFFT::Rectangle),
                                            ::testing::Values(Minus20dBAmplitude, 1.0)));

TEST_F(Sweep, ADeviceThatCutsTheTopOffStillEndsTheSweep) {
    click(IDC_AFC);
    while (dialog->m_AFC && points.size() < 99)
        loopBackBlock();
    ASSERT_EQ(points.size(), 99u);
    const int failedBefore = NoiseFailCount;
    for (int i = 0; i < 5; ++i)
        humBlock(); // the tone lost in the hum at 21981 Hz
    EXPECT_EQ(dialog->m_AFC, 0);
    EXPECT_TRUE(boxes.boxes().empty());
    EXPECT_EQ(NoiseFailCount, failedBefore) << "not tested";
    EXPECT_EQ(points.size(), 99u);
}

TEST_F(Sweep, AQuietPointIsHeldAtTheBottomOfTheView) {
    amplitude = 1e-6; // -120 dB, below the view's -108 dB
    click(IDC_AFC);
    for (int i = 0; i < ToneSettling::StaleBlocks; ++i)
        humBlock();
    for (int i = 0; i < 5; ++i) {
        for (int n = 0; n < FftSize; ++n) // finer than the 16-bit samples
            SampleBlock()[n] = amplitude * std::sin(2 * std::numbers::pi * 2 * n / FftSize);
        handOver();
    }
    ASSERT_EQ(points.size(), 1u);
    EXPECT_EQ(dialog->m_Trace.point(0).y, dialog->SpectrumView()->viewRect().bottom);
}

// The noise test on its own, with the engine's spectrum of a block.
struct NoiseLines : LiveDialog {
    bool noisy(double toneHz, int window) {
        CFFT fft;
        fft.InitWindow(13, window);
        fft.Transform(SampleBlock(), Spectrum());
        return HasNoiseLines(Spectrum(), FftSize / 2, ToneBinPosition(toneHz, FftSize),
                             MainLobeGuardBins(window));
    }
};

TEST_F(NoiseLines, ACleanToneHasNoneWithEitherWindowAtTheLowestBin) {
    for (int window : {CFFT::QuasiChebyshev, CFFT::Rectangle}) {
        for (double f : {10.7666015625, 11.628, 13.56, 1000.0, 21981.3}) {
            fillTone(f, Minus20dBAmplitude);
            EXPECT_FALSE(noisy(f, window)) << f << " Hz, window " << window;
        }
    }
}

TEST_F(NoiseLines, StrongHumOnAWeakToneIsALine) {
    fillTone(1000, 1e-3, 50, 1e-2);
    EXPECT_TRUE(noisy(1000, CFFT::QuasiChebyshev));
    fillTone(1000, 1e-3, 50, 1e-4); // 20 dB below the tone
    EXPECT_FALSE(noisy(1000, CFFT::QuasiChebyshev));
}

TEST_F(NoiseLines, ThePreviousSweepFrequencyIsALineWhereverItLies) {
    const double ratio = 1.080025689987635;
    for (double f : {1000.0, 100.0}) {           // outside the guard, inside it
        fillTone(f / ratio, Minus20dBAmplitude); // the generator is already at f
        EXPECT_TRUE(noisy(f, CFFT::QuasiChebyshev)) << f;
        EXPECT_TRUE(noisy(f, CFFT::Rectangle)) << f;
    }
}

TEST(ToneSettlingTest, SixRecordedBlocksAfterAChangeAreStaleDroppedOnesIncluded) {
    ToneSettling settling;
    EXPECT_FALSE(settling.MayCarryOldTone()) << "no change yet";
    settling.Retuned();
    settling.BlockShown(3); // recorded before the change: not counted
    settling.BlockShown(2);
    EXPECT_TRUE(settling.MayCarryOldTone()) << "4 recorded";
    settling.BlockShown(1);
    EXPECT_TRUE(settling.MayCarryOldTone()) << "6 recorded";
    settling.BlockShown(0);
    EXPECT_FALSE(settling.MayCarryOldTone()) << "the seventh";
}

} // namespace
