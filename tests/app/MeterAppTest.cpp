// The whole program on the virtual sound card: start-up, the block hand-off
// to the window, the tone, and every way the process ends.
#include "tests/harness/AppRunner.h"

#include "audio/Audio.h"
#include "platform/AudioBackend.h"
#include "platform/GlobalMemory.h"
#include "platform/Thread.h"
#include "platform/WaveDevice.h"
#include "sim/VirtualCard.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

using testing::HasSubstr;
using testing::Not;

namespace {

class MeterAppTest : public testing::Test {
  protected:
    void SetUp() override { UseVirtualCard(DeviceModel::IdealWire(), VirtualCard::Clock::Fast); }
};

// Each ends the process; the statement runs in a child. A device failure
// always ends with status 1 and names its operation on standard error.
struct FailurePath {
    const char* name;
    std::function<void()> arrange;
    int status;
    const char* box;  // "title: text" written for the box, or "" for none
    std::string line; // the failure's own line on standard error, or "" for none
};

std::ostream& operator<<(std::ostream& out, const FailurePath& path) {
    return out << path.name;
}

void failOn(WaveOperation operation, int nthCall) {
    sim::TheVirtualCard().failOperation(operation, nthCall, MMSYSERR_NOMEM);
}

const char* const NoMemory = "There is not enough memory for the sound device";

std::string failed(const char* operation) {
    return std::string("tembrix: ") + operation + " failed: " + NoMemory;
}

class FailurePathTest : public MeterAppTest, public testing::WithParamInterface<FailurePath> {};

TEST_P(FailurePathTest, ShowsItsBoxAndEndsWithItsStatus) {
    const FailurePath& path = GetParam();
    path.arrange();
    const auto boxMatches = std::string(path.box).empty()
                                ? testing::Matcher<const std::string&>(Not(HasSubstr("error:")))
                                : testing::Matcher<const std::string&>(HasSubstr(path.box));
    const auto lineMatches = path.line.empty()
                                 ? testing::Matcher<const std::string&>(Not(HasSubstr(" failed: ")))
                                 : testing::Matcher<const std::string&>(HasSubstr(path.line));
    EXPECT_EXIT(RunProgram(20), testing::ExitedWithCode(path.status),
                testing::AllOf(boxMatches, lineMatches));
}

const std::string outBox = std::string("Multimedia out error: ") + NoMemory;
const std::string inBox = std::string("Multimedia in error: ") + NoMemory;

INSTANTIATE_TEST_SUITE_P(
    StartUp, FailurePathTest,
    testing::Values(FailurePath{"AllocationOfSampleBlock", [] { platform::FailGlobalAlloc(8); }, 1,
                                "Orvex error: Нет памяти для буфера 7", ""},
                    FailurePath{"NoDevicesAtAll",
                                [] { sim::TheVirtualCard().setDeviceCounts(0, 0); }, 1,
                                "Orvex error: Нет устройств для вывода звука\n",
                                "tembrix: waveOutGetNumDevs found no output device\n"},
                    FailurePath{"NoInputDevice",
                                [] { sim::TheVirtualCard().setDeviceCounts(1, 0); }, 1,
                                "Orvex error: Нет устройств для ввода звука",
                                "tembrix: waveInGetNumDevs found no input device\n"},
                    FailurePath{"CaptureThreadDoesNotStart", [] { platform::FailThreadStart(2); },
                                1, "Orvex error: Cannot start the audio threads.", ""},
                    FailurePath{"OutputDoesNotOpen", [] { failOn(WaveOperation::OutOpen, 1); }, 1,
                                outBox.c_str(), failed("waveOutOpen")},
                    FailurePath{"InputDoesNotOpen", [] { failOn(WaveOperation::InOpen, 1); }, 1,
                                inBox.c_str(), failed("waveInOpen")}),
    [](const auto& info) { return info.param.name; });

INSTANTIATE_TEST_SUITE_P(
    CaptureThread, FailurePathTest,
    testing::Values(FailurePath{"OpenPrepareHeader1", [] { failOn(WaveOperation::InPrepare, 1); },
                                1, inBox.c_str(), failed("waveInPrepareHeader")},
                    FailurePath{"OpenAddHeader1", [] { failOn(WaveOperation::InAddBuffer, 1); }, 1,
                                "", failed("waveInAddBuffer")},
                    FailurePath{"OpenStart", [] { failOn(WaveOperation::InStart, 1); }, 1, "",
                                failed("waveInStart")},
                    FailurePath{"OpenPrepareHeader2", [] { failOn(WaveOperation::InPrepare, 2); },
                                1, inBox.c_str(), failed("waveInPrepareHeader")},
                    FailurePath{"OpenAddHeader2", [] { failOn(WaveOperation::InAddBuffer, 2); }, 1,
                                "", failed("waveInAddBuffer")},
                    FailurePath{"DataUnprepare", [] { failOn(WaveOperation::InUnprepare, 1); }, 1,
                                inBox.c_str(), failed("waveInUnprepareHeader")},
                    FailurePath{"DataPrepareAgain", [] { failOn(WaveOperation::InPrepare, 3); }, 1,
                                inBox.c_str(), failed("waveInPrepareHeader")},
                    FailurePath{"DataAddAgain", [] { failOn(WaveOperation::InAddBuffer, 3); }, 1,
                                inBox.c_str(), failed("waveInAddBuffer")}),
    [](const auto& info) { return info.param.name; });

INSTANTIATE_TEST_SUITE_P(
    PlaybackThread, FailurePathTest,
    testing::Values(FailurePath{"OpenPrepare", [] { failOn(WaveOperation::OutPrepare, 1); }, 1,
                                outBox.c_str(), failed("waveOutPrepareHeader")},
                    FailurePath{"OpenWrite", [] { failOn(WaveOperation::OutWrite, 3); }, 1,
                                outBox.c_str(), failed("waveOutWrite")},
                    FailurePath{"DoneUnprepare", [] { failOn(WaveOperation::OutUnprepare, 1); }, 1,
                                outBox.c_str(), failed("waveOutUnprepareHeader")},
                    FailurePath{"DonePrepareAgain", [] { failOn(WaveOperation::OutPrepare, 5); }, 1,
                                outBox.c_str(), failed("waveOutPrepareHeader")},
                    FailurePath{"DoneWriteAgain", [] { failOn(WaveOperation::OutWrite, 5); }, 1,
                                outBox.c_str(), failed("waveOutWrite")}),
    [](const auto& info) { return info.param.name; });

// The dialog has ended; the box is shown and the shutdown goes on.
INSTANTIATE_TEST_SUITE_P(
    Shutdown, FailurePathTest,
    testing::Values(FailurePath{"OutputReset", [] { failOn(WaveOperation::OutReset, 1); }, 1,
                                outBox.c_str(), failed("waveOutReset")},
                    FailurePath{"InputReset", [] { failOn(WaveOperation::InReset, 1); }, 1,
                                inBox.c_str(), failed("waveInReset")}),
    [](const auto& info) { return info.param.name; });

TEST_F(MeterAppTest, UnknownErrorCodeIsShownAsUnknownError) {
    sim::TheVirtualCard().failOperation(WaveOperation::OutOpen, 1, 4711);
    EXPECT_EXIT(RunProgram(1), testing::ExitedWithCode(1),
                HasSubstr("Multimedia out error: Unknown Error\n"));
}

TEST_F(MeterAppTest, DialogEndShutsDownInOrderAndReleasesEverything) {
    const int blocksBefore = platform::LiveGlobalBlocks();
    const RunResult run = RunProgram(5);
    EXPECT_EQ(run.blocks.size(), 5u);
    EXPECT_TRUE(run.boxes.empty());
    EXPECT_EQ(platform::LiveGlobalBlocks(), blocksBefore);
    for (void* buffer : AudioBuffers)
        EXPECT_EQ(buffer, nullptr);
    // Both threads end once they have set their closed events: soon after,
    // their identities take no more messages.
    const auto ended = [](DWORD thread) {
        for (int i = 0; i < 100; ++i) {
            if (!PostThreadMessageA(thread, WM_SET_LEVEL, 0, 0))
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    };
    EXPECT_TRUE(ended(run.outputThreadId));
    EXPECT_TRUE(ended(run.inputThreadId));
    // The thread objects have deleted themselves: a level posted now (a
    // click, a signal during shutdown) is refused, never sent through them.
    EXPECT_FALSE(SoundOutThread->PostThreadMessage(WM_SET_LEVEL, 0, 0));
    EXPECT_FALSE(SoundInpThread->PostThreadMessage(WM_SET_LEVEL, 0, 0));
}

TEST_F(MeterAppTest, ShutdownStopsTheThreadsBeforeItResetsAndClosesTheDevices) {
    std::vector<WaveOperation> shutdownCalls;
    bool stoppedBeforeFirstCall = false;
    sim::TheVirtualCard().watchOperations([&](WaveOperation operation) {
        const bool shutdownCall =
            operation == WaveOperation::OutReset || operation == WaveOperation::OutClose ||
            operation == WaveOperation::InReset || operation == WaveOperation::InClose;
        if (!shutdownCall)
            return;
        if (shutdownCalls.empty())
            stoppedBeforeFirstCall = WaitForSingleObject(StopEvent, 0) == WAIT_OBJECT_0;
        shutdownCalls.push_back(operation);
    });
    RunProgram(3);
    sim::TheVirtualCard().watchOperations(nullptr);
    EXPECT_TRUE(stoppedBeforeFirstCall);
    // Output first, then input; a pair is repeated when a buffer was queued
    // again just before the thread saw the stop.
    ASSERT_GE(shutdownCalls.size(), 4u);
    EXPECT_EQ(shutdownCalls.front(), WaveOperation::OutReset);
    EXPECT_EQ(shutdownCalls.back(), WaveOperation::InClose);
    const auto firstInput =
        std::find(shutdownCalls.begin(), shutdownCalls.end(), WaveOperation::InReset);
    ASSERT_NE(firstInput, shutdownCalls.begin());
    EXPECT_EQ(*std::prev(firstInput), WaveOperation::OutClose);
    EXPECT_EQ(std::count(firstInput, shutdownCalls.end(), WaveOperation::OutClose), 0);
}

TEST_F(MeterAppTest, ShutdownDoesNotHangWhenACloseFails) {
    const auto started = std::chrono::steady_clock::now();
    sim::TheVirtualCard().failClose(WaveDirection::Input);
    EXPECT_EXIT(RunProgram(3), testing::ExitedWithCode(1),
                testing::AllOf(HasSubstr("Multimedia in error: The sound device failed"),
                               HasSubstr("tembrix: waveInClose failed: The sound device failed")));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
}

TEST_F(MeterAppTest, ShutdownEndsPromptlyWhenTheOutputCloseFails) {
    sim::TheVirtualCard().failClose(WaveDirection::Output);
    EXPECT_EXIT(RunProgram(3), testing::ExitedWithCode(1),
                testing::AllOf(HasSubstr("Multimedia out error: The sound device failed"),
                               HasSubstr("tembrix: waveOutClose failed: The sound device failed")));
}

} // namespace

namespace {

class HandOffTest : public testing::Test {};

TEST_F(HandOffTest, EveryBlockCarriesTheFullScaleToneAtTheBlockRate) {
    UseVirtualCard(DeviceModel::IdealWire(), VirtualCard::Clock::RealTime);
    const RunResult run = RunProgram(12);
    ASSERT_EQ(run.blocks.size(), 12u);
    for (const ShownBlock& block : run.blocks) {
        EXPECT_EQ(block.dropped, 0u);
        EXPECT_NEAR(block.rmsDb, FullScaleSineDb, 0.1);
        EXPECT_NEAR(block.frequency, 44100 / 32.5, 0.05);
    }
    const double seconds =
        std::chrono::duration<double>(run.blocks.back().arrived - run.blocks.front().arrived)
            .count();
    EXPECT_NEAR(11 / seconds, 44100.0 / 8192, 0.5) << "blocks a second";
}

TEST_F(HandOffTest, BlocksArrivingWhileTheWindowIsBusyAreCountedAndReported) {
    UseVirtualCard(DeviceModel::IdealWire(), VirtualCard::Clock::RealTime);
    std::vector<double> kept;
    bool untouched = true;
    const RunResult run = RunProgram(3, [&](const ShownBlock&) {
        static int shown = 0;
        if (++shown != 1)
            return;
        kept.assign(SampleBlock(), SampleBlock() + FftSize);
        // About three blocks' time: they arrive while this one is on screen.
        std::this_thread::sleep_for(std::chrono::milliseconds(650));
        untouched = std::equal(kept.begin(), kept.end(), SampleBlock());
    });
    ASSERT_EQ(run.blocks.size(), 3u);
    EXPECT_EQ(run.blocks[0].dropped, 0u);
    EXPECT_GE(run.blocks[1].dropped, 2u);
    EXPECT_LE(run.blocks[1].dropped, 4u);
    EXPECT_EQ(run.blocks[2].dropped, 0u) << "the count starts again";
    EXPECT_TRUE(untouched) << "dropped blocks are not converted";
}

TEST_F(HandOffTest, DefaultCardBringsTheToneBackThroughItsModel) {
    UseVirtualCard(DeviceModel::ConsumerCard(), VirtualCard::Clock::Fast);
    const RunResult run = RunProgram(6);
    const double expected = FullScaleSineDb + DeviceModel::ConsumerCard().ResponseDb(44100 / 32.5);
    for (std::size_t i = 1; i < run.blocks.size(); ++i)
        EXPECT_NEAR(run.blocks[i].rmsDb, expected, 0.1);
}

} // namespace
