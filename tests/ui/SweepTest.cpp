// The frequency-response sweep, driven one displayed block at a time with
// synthetic loop-back blocks: the tone the generator is set to, as it comes
// back.
#include "measure/SweepPlan.h"
#include "tests/ui/LevelRecorder.h"
#include "tests/ui/LiveDialog.h"

#include <QLineEdit>
#include <QPushButton>

#include <vector>

namespace {

const int SettingControls[] = {IDC_FREQUENCY,  IDC_MEMORY,    IDC_LEVEL_0DB,
                               IDC_LEVEL_20DB, IDC_LEVEL_OFF, IDC_REMOVE_DC};

struct Sweep : LiveDialog {
    std::vector<ResponsePoint> points;
    double amplitude = Minus20dBAmplitude;

    void SetUp() override {
        LiveDialog::SetUp();
        CMainDlg::SetSweepObserver([this](const ResponsePoint& point) { points.push_back(point); });
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
    EXPECT_EQ(dialog->Sweep().BlockCount(), 0) << "blocks that may carry the previous tone fail";
    loopBackBlock();
    loopBackBlock();
    humBlock();
    humBlock();
    loopBackBlock();
    loopBackBlock();
    EXPECT_EQ(dialog->Sweep().BlockCount(), 4);
    EXPECT_TRUE(points.empty());
    EXPECT_EQ(dialog->m_Trace.count(), -1);

    loopBackBlock();

    ASSERT_EQ(points.size(), 1u);
    EXPECT_EQ(points[0].frequencyHz, 10.7666015625);
    EXPECT_EQ(dialog->m_Trace.count(), 0);
    const CRect rect = dialog->SpectrumView()->viewRect();
    const TracePoint stored = dialog->m_Trace.point(0);
    EXPECT_EQ(stored.x, FreqToX(points[0].frequencyHz, rect.right));
    EXPECT_EQ(stored.y, DbToY(points[0].levelDb, rect.bottom));
    EXPECT_NEAR(generatorFrequency(), 10.7666015625 * 1.080025689987635, 1e-9);
    EXPECT_EQ(dialog->Sweep().BlockCount(), 0);
}

TEST_F(Sweep, ABlockWithAGapDoesNotCountNorDoTheBlocksThatMayStillCarryACutTone) {
    click(IDC_AFC);
    settle();
    for (int i = 0; i < 4; ++i)
        loopBackBlock();
    ASSERT_EQ(dialog->Sweep().BlockCount(), 4);

    fillTone(generatorFrequency(), amplitude);
    handOver(0, 1);
    for (int i = 1; i < ToneSettling::StaleBlocks; ++i)
        loopBackBlock();
    EXPECT_EQ(dialog->Sweep().BlockCount(), 4);
    EXPECT_TRUE(points.empty());

    loopBackBlock();
    EXPECT_EQ(points.size(), 1u) << "the count goes on where it stood";
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
    EXPECT_EQ(dialog->Sweep().NoiseFailCount(), 0);
    for (int i = 0; i < 11; ++i)
        humBlock();
    EXPECT_EQ(boxes.boxes().size(), 2u);
    EXPECT_TRUE(points.empty());
}

// The measurement itself is the engine's (measure tests); here what the
// dialog does with it.
TEST_F(Sweep, ACompleteSweepStoresNinetyNinePointsAndFreesTheSettings) {
    click(IDC_AFC);
    int blocks = 0;
    while (dialog->m_AFC && blocks < 2000) {
        loopBackBlock();
        ++blocks;
    }

    EXPECT_EQ(dialog->m_AFC, 0) << "the sweep ended by itself";
    EXPECT_TRUE(boxes.boxes().empty());
    ASSERT_EQ(points.size(), 99u);
    const std::vector<double> plan = SweepPointFrequencies(FftSize);
    for (int k = 0; k < 99; ++k)
        EXPECT_EQ(points[k].frequencyHz, plan[k]) << "the field's read-back, as planned: " << k;
    EXPECT_EQ(dialog->Sweep().Points().size(), 99u);
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

TEST_F(Sweep, ADeviceThatCutsTheTopOffStillEndsTheSweep) {
    click(IDC_AFC);
    while (dialog->m_AFC && points.size() < 99)
        loopBackBlock();
    ASSERT_EQ(points.size(), 99u);
    const int failedBefore = dialog->Sweep().NoiseFailCount();
    for (int i = 0; i < 5; ++i)
        humBlock(); // the tone lost in the hum at 21981 Hz
    EXPECT_EQ(dialog->m_AFC, 0);
    EXPECT_TRUE(boxes.boxes().empty());
    EXPECT_EQ(dialog->Sweep().NoiseFailCount(), failedBefore) << "not tested";
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

} // namespace
