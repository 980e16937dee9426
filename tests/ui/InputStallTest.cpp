// The window when the input stops handing over blocks and when they come
// again, and the gap counts on the power reading.
#include "audio/InputWatch.h"
#include "platform/AudioBackend.h"
#include "sim/VirtualCard.h"
#include "tests/ui/LevelRecorder.h"
#include "tests/ui/LiveDialog.h"

#include <QApplication>

#include <gmock/gmock.h>

#include <chrono>
#include <functional>
#include <thread>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testing::HasSubstr;

constexpr COLORREF Green = RGB(0, 255, 0);    // the spectrum's curve and the scope's trace
constexpr COLORREF Yellow = RGB(255, 255, 0); // the stored response
constexpr COLORREF MarkH = RGB(173, 21, 181);
constexpr COLORREF MarkV = RGB(228, 87, 236);

// The dialog with its input open on the virtual card; blocks come only when
// a test hands them over.
struct InputStall : LiveDialog {
    CWinThread* owner = nullptr;

    void SetUp() override {
        LiveDialog::SetUp();
        platform::UseSoundCard(sim::TheVirtualCard(), platform::AudioBackend::Virtual);
        sim::TheVirtualCard().reset();
        owner = AfxBeginThread(&LevelRecorder::runtimeClass);
        ASSERT_NE(owner, nullptr);
        const WAVEFORMATEX mono{WAVE_FORMAT_PCM, 1, 44100, 88200, 2, 16, 0};
        ASSERT_EQ(
            waveInOpen(InDevice(), WAVE_MAPPER, &mono, owner->m_nThreadID, 0, CALLBACK_THREAD),
            MMSYSERR_NOERROR);
    }

    void TearDown() override {
        CMainDlg::SetBlockObserver(nullptr);
        waveInReset(*InDevice());
        waveInClose(*InDevice());
        owner->PostThreadMessage(LevelRecorder::WM_QUIT_RECORDER, 0, 0);
        sim::TheVirtualCard().reset();
        platform::UseSoundCard(platform::SystemSoundCard(), platform::AudioBackend::System);
        LiveDialog::TearDown();
    }

    // Runs the window's events until `done` holds; false after `limit`.
    static bool waitFor(const std::function<bool()>& done, Clock::duration limit) {
        const Clock::time_point end = Clock::now() + limit;
        while (!done()) {
            if (Clock::now() > end)
                return false;
            QApplication::processEvents();
            std::this_thread::sleep_for(10ms);
        }
        return true;
    }

    bool noInput() const { return power() == "No input"; }
    std::string tooltip() const { return dialog->GetDlgItem(IDC_POWER)->toolTip().toStdString(); }
};

TEST_F(InputStall, NoInputReplacesThePowerAndTheCurvesUntilTheNextBlock) {
    PlotView* spectrum = dialog->SpectrumView();
    PlotView* scope = dialog->ScopeView();
    dialog->m_Trace.AddPoint(100, 40);
    dialog->m_Trace.AddPoint(300, 80);
    fillTone(1000, 0.5);
    handOver();
    const std::string live = power();
    ASSERT_GT(CountPixels(spectrum, Yellow), 0);
    testing::internal::CaptureStderr();

    const Clock::time_point stopped = Clock::now();
    ASSERT_TRUE(waitFor([&] { return noInput(); }, InputWatch::StallLimit + 1s));
    EXPECT_GE(Clock::now() - stopped, InputWatch::StallLimit) << "not before the limit";
    EXPECT_EQ(CountPixels(spectrum, Green), 0);
    EXPECT_EQ(CountPixels(spectrum, Yellow), 0);
    EXPECT_EQ(CountPixels(scope, Green), 0);
    EXPECT_GT(CountPixels(spectrum, MarkH), 0) << "the grid stays";
    EXPECT_GT(CountPixels(scope, MarkV), 0) << "the grid stays";

    handOver();
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_THAT(said, HasSubstr("tembrix: audio input stopped: no block for 1 s\n"));
    EXPECT_THAT(said, HasSubstr("tembrix: audio input resumed after 1."));
    EXPECT_EQ(power(), live);
    EXPECT_GT(CountPixels(spectrum, Green), 0);
    EXPECT_GT(CountPixels(spectrum, Yellow), 0) << "the stored response is drawn again";
    EXPECT_EQ(CountPixels(scope, Green), 0) << "audio was lost before the block: out of phase";
    handOver();
    EXPECT_GT(CountPixels(scope, Green), 0);
}

// The fast response waits for its blocks no longer than the window does.
TEST_F(InputStall, AStopEndsAFastResponseAndSaysSo) {
    handOver();
    dialog->OnFastResponse();
    ASSERT_TRUE(dialog->Fast().Running());
    testing::internal::CaptureStderr();
    ASSERT_TRUE(waitFor([&] { return noInput(); }, InputWatch::StallLimit + 1s));
    testing::internal::GetCapturedStderr();
    EXPECT_FALSE(dialog->Fast().Running());
    EXPECT_TRUE(dialog->GetDlgItem(IDC_AFC)->isEnabled());
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, "The audio input stopped during the sweep.");
}

// A message box shown in the display cycle holds the capture thread's blocks
// back; the input itself runs on.
TEST_F(InputStall, TimeSpentShowingABlockIsNoStop) {
    bool held = false;
    CMainDlg::SetBlockObserver([&](WPARAM) {
        if (!std::exchange(held, true))
            waitFor([] { return false; }, InputWatch::StallLimit + 300ms);
    });
    handOver();
    EXPECT_FALSE(waitFor([&] { return noInput(); }, 500ms));
}

// A sound server just started takes about 2 s to deliver its first capture.
TEST_F(InputStall, AFirstBlockWithinFiveSecondsOfTheOpenIsNoStop) {
    testing::internal::CaptureStderr();
    EXPECT_FALSE(waitFor([&] { return noInput(); }, 1500ms));
    handOver();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST_F(InputStall, NoFirstBlockForFiveSecondsIsAStopSinceTheOpen) {
    testing::internal::CaptureStderr();
    const Clock::time_point opened = Clock::now();
    ASSERT_TRUE(waitFor([&] { return noInput(); }, InputWatch::FirstBlockLimit + 1s));
    EXPECT_GE(Clock::now() - opened, InputWatch::FirstBlockLimit) << "not before the limit";
    handOver();
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_THAT(said,
                HasSubstr("tembrix: audio input stopped: no block since the input was opened\n"));
    EXPECT_THAT(said, HasSubstr("tembrix: audio input resumed after 5."));
    EXPECT_NE(power(), "No input");
}

// The Sound card dialog moves the streams; a dead stream is opened again.
TEST_F(InputStall, AReopenedInputHasFiveSecondsForItsFirstBlock) {
    handOver();
    platform::ReopenDevices();
    EXPECT_FALSE(waitFor([&] { return noInput(); }, 1500ms));
}

TEST_F(InputStall, ThePowerReadingsTooltipCountsTheInputsGaps) {
    EXPECT_THAT(tooltip(), HasSubstr("Gaps in the input: 0\n"));
    // No buffer is queued: every period the card records is lost.
    ASSERT_EQ(waveInStart(*InDevice()), MMSYSERR_NOERROR);
    EXPECT_TRUE(
        waitFor([&] { return tooltip().find("Gaps in the input: 0\n") == std::string::npos; }, 2s))
        << tooltip();
}

// Once blocks come, the window says what lies between it and the card: once
// on standard error, and on the tooltip after the gap counts.
TEST_F(InputStall, TheAudioPathIsSaidOnceAndStaysOnThePowerReadingsTooltip) {
    testing::internal::CaptureStderr();
    handOver();
    EXPECT_TRUE(waitFor([&] { return tooltip().find("Audio path:") != std::string::npos; }, 2s));
    handOver();
    waitFor([] { return false; }, 300ms);
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(said.find("Audio path:"), said.rfind("Audio path:")) << said;
    EXPECT_THAT(said, HasSubstr("Audio path: no sound server\n"));
    EXPECT_THAT(tooltip(), testing::MatchesRegex("Gaps in the input: 0\n(.|\n)*\nAudio path: "
                                                 "no sound server"));
}

} // namespace
