// The device layer when the card's streams die, lose frames or are switched:
// devices that stay open come back by themselves, every gap is counted and
// marked, and shutting down never hangs.
#include "tests/platform/WaveAudioHarness.h"

#include <unistd.h>

#include <cstdio>
#include <fstream>

namespace {

using SteadyClock = std::chrono::steady_clock;

double millisecondsSince(SteadyClock::time_point start) {
    return std::chrono::duration<double, std::milli>(SteadyClock::now() - start).count();
}

bool waitForReopens(std::uint64_t count) {
    const auto deadline = SteadyClock::now() + 10s;
    while (platform::StreamReopens() < count && SteadyClock::now() < deadline)
        std::this_thread::sleep_for(1ms);
    return platform::StreamReopens() >= count;
}

std::size_t markedRecordings(const std::vector<Notification>& heard, std::size_t from = 0) {
    return std::count_if(heard.begin() + std::min(from, heard.size()), heard.end(),
                         [](const Notification& n) { return n.message == MM_WIM_DATA && n.gap; });
}

std::size_t residentBytes() {
    std::ifstream statm("/proc/self/statm");
    std::size_t size = 0, resident = 0;
    statm >> size >> resident;
    return resident * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
}

class StreamRecoveryTest : public StreamingTest {
  protected:
    // Kills both streams and waits until a recording comes back marked.
    void dieAndComeBack() {
        const std::size_t heard = heardSoFar().size();
        const std::uint64_t reopens = platform::StreamReopens();
        card.killStreams();
        ASSERT_TRUE(waitForReopens(reopens + 1));
        ASSERT_EQ(markedRecordings(
                      log.waitUntil([&](const auto& h) { return markedRecordings(h, heard) > 0; }),
                      heard),
                  1u);
    }
    // Shuts down, and says how long it took; both devices tell of the close.
    double timedShutDown() {
        const auto started = SteadyClock::now();
        shutDown();
        const double took = millisecondsSince(started);
        const auto closes = [](const std::vector<Notification>& heard) {
            return std::count_if(heard.begin(), heard.end(), [](const Notification& n) {
                return n.message == MM_WOM_CLOSE || n.message == MM_WIM_CLOSE;
            });
        };
        EXPECT_EQ(closes(log.waitUntil([&](const auto& heard) { return closes(heard) == 2; })), 2);
        return took;
    }
};

TEST_F(StreamRecoveryTest, DeadStreamsComeBackAndTheFirstRecordingIsMarked) {
    startStreaming();
    waitForRecordings(0, 3);
    const std::uint64_t reopens = platform::StreamReopens();
    const auto killed = SteadyClock::now();
    card.killStreams();
    ASSERT_TRUE(waitForReopens(reopens + 1));
    const double reopenMs = millisecondsSince(killed);
    auto heard = log.waitUntil([](const auto& h) { return markedRecordings(h) > 0; });
    const double resumeMs = millisecondsSince(killed);
    const std::size_t marked = heard.size();
    heard = waitForRecordings(marked, 2); // and it goes on
    EXPECT_EQ(markedRecordings(heard), 1u);
    EXPECT_EQ(platform::StreamReopens(), reopens + 1);
    EXPECT_EQ(platform::InputGaps(in), 0u); // a reopening loses no buffer
    const double shutdownMs = timedShutDown();
    EXPECT_LT(shutdownMs, 2000.0);
    std::printf("[ measured ] reopened after %.0f ms, recording again after %.0f ms, "
                "shut down in %.0f ms\n",
                reopenMs, resumeMs, shutdownMs);
}

TEST_F(StreamRecoveryTest, SixtyDeathsKeepTheMemory) {
    startStreaming();
    waitForRecordings(0, 2);
    for (int k = 0; k < 3; ++k) // the allocator's and the threads' first needs
        dieAndComeBack();
    const std::size_t resident = residentBytes();
    for (int k = 0; k < 60 && !HasFatalFailure(); ++k)
        dieAndComeBack();
    const double grownKiB = (static_cast<double>(residentBytes()) - resident) / 1024.0;
    EXPECT_LT(grownKiB, 2048.0);
    std::printf("[ measured ] resident memory grew by %.0f KiB over 60 deaths\n", grownKiB);
}

TEST_F(StreamRecoveryTest, InjectedOverflowIsCountedAndMarksItsRecording) {
    card.setClock(VirtualCard::Clock::Fast); // loses nothing but what is injected
    startStreaming();
    waitForRecordings(0, 2);
    ASSERT_EQ(platform::InputGaps(in), 0u);
    card.injectInputOverflow();
    const auto heard = log.waitUntil([](const auto& h) { return markedRecordings(h) > 0; });
    EXPECT_EQ(markedRecordings(heard), 1u);
    EXPECT_EQ(platform::InputGaps(in), 1u);
}

TEST_F(StreamRecoveryTest, SwitchedDevicesStreamOnWithTheNextRecordingMarked) {
    startStreaming();
    const std::size_t heard = waitForRecordings(0, 2).size();
    const auto started = SteadyClock::now();
    platform::ReopenDevices();
    EXPECT_LT(millisecondsSince(started), 2000.0);
    EXPECT_EQ(markedRecordings(waitForRecordings(heard, 3), heard), 1u);
    EXPECT_LT(timedShutDown(), 2000.0);
}

TEST_F(StreamRecoveryTest, ShutdownWhileTheStreamsAreDeadIsBounded) {
    startStreaming();
    waitForRecordings(0, 2);
    card.killStreams();
    EXPECT_LT(timedShutDown(), 2000.0);
}

TEST_F(StreamRecoveryTest, ShutdownWhileReopeningIsBounded) {
    startStreaming();
    waitForRecordings(0, 2);
    card.failOperation(WaveOperation::OutOpen, 1, MMSYSERR_ALLOCATED);
    card.failOperation(WaveOperation::InOpen, 1, MMSYSERR_ALLOCATED);
    const std::uint64_t reopens = platform::StreamReopens();
    card.killStreams();
    std::this_thread::sleep_for(400ms); // the first try failed; the next is a second away
    EXPECT_EQ(platform::StreamReopens(), reopens);
    EXPECT_LT(timedShutDown(), 2000.0);
}

// Each test file's fixtures have names of their own (see WaveAudioHarness.h).
class OutputGapTest : public WaveAudioTest {};

TEST_F(OutputGapTest, SilenceCountsOnlyBetweenTheFirstWriteAndAReset) {
    card.setClock(VirtualCard::Clock::RealTime);
    ASSERT_EQ(openOut(), MMSYSERR_NOERROR);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(platform::OutputGaps(out), 0u); // silence before the first write
    ASSERT_EQ(write(buffer(ramp(300, 1))), MMSYSERR_NOERROR);
    log.waitFor(2);
    const auto deadline = SteadyClock::now() + 2s;
    while (platform::OutputGaps(out) == 0 && SteadyClock::now() < deadline)
        std::this_thread::sleep_for(1ms);
    ASSERT_EQ(waveOutReset(out), MMSYSERR_NOERROR);
    const std::uint64_t gaps = platform::OutputGaps(out);
    EXPECT_GT(gaps, 0u);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(platform::OutputGaps(out), gaps); // nor after a reset
}

} // namespace
