// A signal played once and recorded as it comes back, with the audio threads
// and devices of a command-line run in the test process, on the virtual card
// and through the shared sound server. The virtual card adds no delay of its
// own: a wire of latency L brings the signal's first sample back exactly L
// frames after the recording's signalStart.
#include "cli/SignalRecorder.h"
#include "audio/Audio.h"
#include "audio/AudioSession.h"
#include "cli/StopSignals.h"
#include "cli/SweptSineRunner.h"
#include "platform/App.h"
#include "platform/AudioBackend.h"
#include "platform/QueueWindow.h"
#include "sim/VirtualCard.h"
#include "tests/harness/ScopedEnvironment.h"
#include "tests/harness/SoundServer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace {

using cli::RecordedSignal;
using cli::SignalToRecord;
using Samples = std::vector<std::int16_t>;
using Gap = InputRecording::Gap;

constexpr double ToneHz = 1000.0;
constexpr double ToneAmplitude = 0.1; // -20 dBFS

// White noise: every sample tells whether the recording is aligned.
Samples noise(std::size_t count) {
    Samples samples(count);
    std::uint32_t state = 12345;
    for (std::int16_t& s : samples) {
        state = state * 1664525u + 1013904223u;
        s = static_cast<std::int16_t>(static_cast<std::int32_t>(state >> 16) - 32768);
    }
    return samples;
}

class TestApp : public CWinApp {
  public:
    BOOL InitInstance() override { return FALSE; }
};

// The start-up and shutdown of CMeasureApp around the test instead of a
// measurement, with the tone at 1 kHz and -20 dBFS.
class SignalRecorderTest : public testing::Test {
  public:
    void Open(const DeviceModel& model, VirtualCard::Clock clock) {
        platform::UseSoundCard(card, platform::AudioBackend::Virtual);
        card.reset();
        ASSERT_TRUE(card.setModel(model));
        card.setClock(clock);
        OpenDevices();
    }
    void OpenDevices() {
        DroppedBlockCount = 0;
        audio::PrepareAudioState();
        audio::RequireAudioDevices();
        audio::StartAudioThreads();
        app.m_pMainWnd = &window;
        GenPeriod = SampleRate / ToneHz;
        SoundOutThread->PostThreadMessage(
            WM_SET_TEST_LEVEL, static_cast<WPARAM>(std::llround(ToneAmplitude * TestLevelScale)),
            0);
        audio::OpenAudioDevices();
        open = true;
    }
    void TearDown() override {
        card.watchOperations(nullptr);
        if (open)
            audio::ShutDownAudio();
        app.m_pMainWnd = nullptr;
        card.reset();
    }

    // Runs `action` once, on the capture thread, as it queues a buffer again
    // after a block of the recording.
    void DuringTheRecording(std::function<void()> action) {
        card.watchOperations([this, action](WaveOperation operation) {
            if (operation == WaveOperation::InPrepare && Recording.Requested() &&
                !acted.exchange(true))
                action();
        });
    }

    // The next block that comes, with nothing dropped or lost before it.
    std::vector<double> NextWholeBlock() {
        for (;;) {
            cli::BlockHandOff::Block block;
            if (blocks.Next(block) != cli::BlockHandOff::Wait::Block)
                return {};
            std::vector<double> samples(SampleBlock(), SampleBlock() + FftSize);
            blocks.Done();
            if (block.droppedBefore == 0 && !block.hasGap)
                return samples;
        }
    }

    VirtualCard& card = sim::TheVirtualCard();
    TestApp app;
    QueueWindow window;
    cli::BlockHandOff blocks{window};
    bool open = false;
    std::atomic<bool> acted{false};
};

double rmsDb(const std::vector<double>& block) {
    double sum = 0;
    for (double x : block)
        sum += x * x;
    return 10 * std::log10(sum / static_cast<double>(block.size()));
}

// From the rising zero crossings, interpolated between samples.
double toneFrequency(const std::vector<double>& block) {
    double first = -1, last = -1;
    int periods = -1;
    for (std::size_t i = 1; i < block.size(); ++i) {
        if (block[i - 1] < 0 && block[i] >= 0) {
            last = static_cast<double>(i - 1) + block[i - 1] / (block[i - 1] - block[i]);
            if (first < 0)
                first = last;
            ++periods;
        }
    }
    return periods > 0 ? periods * SampleRate / (last - first) : 0.0;
}

bool silent(const Samples& samples, std::size_t from, std::size_t to) {
    return std::all_of(samples.begin() + static_cast<std::ptrdiff_t>(from),
                       samples.begin() + static_cast<std::ptrdiff_t>(to),
                       [](std::int16_t s) { return s == 0; });
}

class IdealWireTest : public SignalRecorderTest, public testing::WithParamInterface<std::size_t> {};

// Three seconds of signal are 16 blocks: the fast clock waits for the
// recording, so none is lost.
TEST_P(IdealWireTest, ReturnsThePlayedSignalExactlyAfterTheWiresLatency) {
    const std::size_t latency = GetParam();
    DeviceModel wire = DeviceModel::IdealWire();
    wire.latencyFrames = latency;
    Open(wire, VirtualCard::Clock::Fast);
    const Samples signal = noise(3 * 44100);
    const SignalToRecord request{signal, 10000, cli::MinimumMarginFrames};

    const RecordedSignal recorded = cli::RecordSignal(blocks, request);
    ASSERT_EQ(recorded.end.status, cli::ExitDone) << recorded.end.why;
    ASSERT_EQ(recorded.gap, Gap::None) << GapText(recorded.gap);
    ASSERT_EQ(recorded.samples.size(), 10000 + signal.size() + cli::MinimumMarginFrames);
    ASSERT_EQ(recorded.signalStart, 10000u);
    const Samples& samples = recorded.samples;
    const std::size_t arrival = recorded.signalStart + latency;
    EXPECT_TRUE(std::equal(signal.begin(), signal.end(), samples.begin() + arrival));
    // The lead-in's silence before it, the margin's after it.
    EXPECT_TRUE(silent(samples, latency, arrival));
    EXPECT_TRUE(silent(samples, arrival + signal.size(), samples.size()));
}

// Latencies of none, of less than a block, and of more than one, not a
// multiple of the block size or of the card's period.
INSTANTIATE_TEST_SUITE_P(Latencies, IdealWireTest, testing::Values(0u, 1000u, 8229u));

TEST_F(SignalRecorderTest, TheToneResumesAtItsFrequencyAndLevel) {
    Open(DeviceModel::IdealWire(), VirtualCard::Clock::Fast);
    const std::vector<double> before = NextWholeBlock();
    const Samples signal = noise(44100);
    const RecordedSignal recorded = cli::RecordSignal(blocks, {signal, 0, 30000});
    ASSERT_EQ(recorded.end.status, cli::ExitDone);
    ASSERT_EQ(recorded.gap, Gap::None);

    // The block that completed the recording may still be handed over.
    NextWholeBlock();
    const std::vector<double> after = NextWholeBlock();
    ASSERT_EQ(after.size(), static_cast<std::size_t>(FftSize));
    EXPECT_NEAR(rmsDb(after), rmsDb(before), 0.02);
    EXPECT_NEAR(rmsDb(after), 20 * std::log10(ToneAmplitude / std::sqrt(2.0)), 0.02);
    EXPECT_NEAR(toneFrequency(after), ToneHz, 0.01);
    EXPECT_NEAR(toneFrequency(before), ToneHz, 0.01);
}

// What a gap leaves behind is no harm to the next recording: its signal
// comes back exactly where it was played.
TEST_F(SignalRecorderTest, AnInputOverflowMarksTheRecordingAndTheNextOneIsWhole) {
    Open(DeviceModel::IdealWire(), VirtualCard::Clock::Fast);
    const Samples signal = noise(2 * 44100);
    DuringTheRecording([this] { card.injectInputOverflow(); });
    const RecordedSignal gapped = cli::RecordSignal(blocks, {signal, 0, 30000});
    ASSERT_TRUE(acted);
    EXPECT_EQ(gapped.end.status, cli::ExitDone);
    EXPECT_EQ(gapped.gap, Gap::LostFrames);

    const RecordedSignal again = cli::RecordSignal(blocks, {signal, 0, 30000});
    ASSERT_EQ(again.gap, Gap::None);
    EXPECT_TRUE(std::equal(signal.begin(), signal.end(), again.samples.begin()));
}

TEST_F(SignalRecorderTest, AReopenedStreamMarksTheRecording) {
    Open(DeviceModel::IdealWire(), VirtualCard::Clock::Fast);
    const Samples signal = noise(2 * 44100);
    DuringTheRecording([this] { card.killStreams(); });
    const RecordedSignal recorded = cli::RecordSignal(blocks, {signal, 0, 30000});
    EXPECT_EQ(recorded.end.status, cli::ExitDone);
    // The mark that the reopened input sets on its next block may come
    // before the count of reopened streams has grown.
    EXPECT_TRUE(recorded.gap == Gap::StreamReopened || recorded.gap == Gap::LostFrames)
        << GapText(recorded.gap);
}

// Made again twice, then given up with the reason: the run ends with status
// 3 and nothing averaged.
TEST_F(SignalRecorderTest, ASweptSineWhoseEveryRecordingHoldsAGapIsGivenUpAfterThreeTries) {
    Open(DeviceModel::IdealWire(), VirtualCard::Clock::Fast);
    card.watchOperations([this](WaveOperation operation) {
        if (operation == WaveOperation::InPrepare && Recording.Requested())
            card.injectInputOverflow();
    });
    SweepSettings oneSecond;
    oneSecond.lengthSeconds = 1;
    cli::SweptSineRunner runner(oneSecond, 2);
    std::vector<std::string> said;
    const cli::RunEnd end =
        runner.Run(blocks, [&said](const std::string& line) { said.push_back(line); });
    EXPECT_EQ(end.status, cli::ExitPointTimeout);
    EXPECT_EQ(end.why, "the sweep's recording held a gap 3 times, the last time because the "
                       "input lost frames");
    EXPECT_EQ(runner.Averaged(), 0);
    EXPECT_EQ(std::count(said.begin(), said.end(),
                         "The recording held a gap (the input lost frames): sweeping again..."),
              2);
}

class RecordSignalSystemCardTest : public SignalRecorderTest {
  public:
    // A recording without a gap, made again as a measurement does.
    RecordedSignal RecordWhole(const Samples& signal) {
        RecordedSignal recorded;
        for (int attempt = 0; attempt < 3; ++attempt) {
            recorded = cli::RecordSignal(blocks, {signal, LeadIn, cli::MinimumMarginFrames});
            if (recorded.end.status != cli::ExitDone || recorded.gap == Gap::None)
                break;
        }
        return recorded;
    }

    static constexpr std::size_t LeadIn = 8820;
};

// Where the signal comes back, in frames after the recording's signalStart
// (before it, a delay below 0): the lag at which the recording correlates
// best with the signal's first stretch. Lags from the recording's start to
// where the whole signal still fits.
std::ptrdiff_t arrivalOf(const Samples& signal, const RecordedSignal& recorded) {
    constexpr std::size_t Stretch = 2048;
    const Samples& samples = recorded.samples;
    std::size_t best = 0;
    double bestSum = -1;
    for (std::size_t at = 0; at + signal.size() <= samples.size(); ++at) {
        double sum = 0;
        for (std::size_t k = 0; k < Stretch; ++k)
            sum += double(signal[k]) * samples[at + k];
        if (sum > bestSum) {
            bestSum = sum;
            best = at;
        }
    }
    return static_cast<std::ptrdiff_t>(best) - static_cast<std::ptrdiff_t>(recorded.signalStart);
}

// The server's loop-back is bit-exact: the signal comes back sample for
// sample. While the streams run on without a break, it comes back the same
// number of frames after the position at which it was played in every
// recording, and that delay is the card's own, not how far ahead of the
// card the playback was filled: the server's loop-back adds none, so it is
// close to 0: a few milliseconds either way as the server's times allow,
// against 150 to 210 ms when the output's position went by when it was
// called. The bound leaves room for a run many times slower than usual.
TEST_F(RecordSignalSystemCardTest, NoiseComesBackWholeAndEquallyLateInEveryRecording) {
    REQUIRE_SOUND_SERVER(soundServerReachable(), NoSoundServer);
    const SoundServerTurn turn;
    const ScopedEnvironment noDesktopServer("PULSE_SERVER", std::nullopt);
    platform::UseSoundCard(platform::SystemSoundCard(), platform::AudioBackend::System);
    OpenDevices();
    const Samples signal = noise(44100);

    // Three in a row from one pairing of the streams: streams paired anew
    // (one opened again, frames lost, an underflow on a busy machine) during
    // a recording or between two start the count afresh.
    std::vector<std::ptrdiff_t> delays;
    std::string measured;
    std::uint64_t pairings = platform::StreamPairings();
    for (int recording = 0; recording < 6 && delays.size() < 3; ++recording) {
        const std::uint64_t before = platform::StreamPairings();
        if (before != pairings)
            delays.clear();
        const RecordedSignal recorded = RecordWhole(signal);
        pairings = platform::StreamPairings();
        ASSERT_EQ(recorded.end.status, cli::ExitDone) << recorded.end.why;
        ASSERT_EQ(recorded.gap, Gap::None) << GapText(recorded.gap);
        const std::ptrdiff_t delay = arrivalOf(signal, recorded);
        const auto from = static_cast<std::ptrdiff_t>(recorded.signalStart) + delay;
        ASSERT_TRUE(std::equal(signal.begin(), signal.end(), recorded.samples.begin() + from))
            << "the signal did not come back whole (best match " << delay << " frames late)";
        measured += (measured.empty() ? "" : " ") + std::to_string(delay);
        if (pairings != before) {
            delays.clear();
            measured += "(paired anew)";
            continue;
        }
        delays.push_back(delay);
    }
    RecordProperty("delays_frames", measured);
    ASSERT_EQ(delays.size(), 3u) << "the streams were paired anew too often: " << measured;
    const auto [low, high] = std::minmax_element(delays.begin(), delays.end());
    EXPECT_LE(*high - *low, 1) << "delays in frames: " << measured;
    EXPECT_LE(std::abs(*low), 2205) << "delays in frames: " << measured; // 50 ms
}

// In a child process of its own: a caught signal stays caught for the rest
// of the process. The child ends with 0 when all is as it should be, else
// with the number of the first thing that was not.
void RecordUntilInterrupted(SignalRecorderTest& test) {
    test.Open(DeviceModel::IdealWire(), VirtualCard::Clock::RealTime);
    const Samples signal = noise(30 * 44100);
    cli::CatchStopSignals();
    test.DuringTheRecording([] { std::raise(SIGINT); });
    const auto started = std::chrono::steady_clock::now();
    const RecordedSignal recorded = cli::RecordSignal(test.blocks, {signal, 0, 30000});
    const auto took = std::chrono::steady_clock::now() - started;

    int wrong = 0;
    if (recorded.end.status != cli::ExitInterrupted || recorded.end.why != "interrupted by SIGINT")
        wrong = 1;
    else if (took > std::chrono::seconds(5)) // far less than the signal's 30 s
        wrong = 2;
    else if (Recording.Requested())
        wrong = 3;
    // The playback thread has let go of the samples: the next signal may be
    // queued.
    else if (!QueuedSignal.Queue({signal, 0, 1}))
        wrong = 4;
    QueuedSignal.Finish(SoundOutThread);
    test.TearDown();
    std::_Exit(wrong);
}

TEST_F(SignalRecorderTest, AStopSignalEndsTheRecordingPromptly) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(RecordUntilInterrupted(*this), testing::ExitedWithCode(0), "");
}

} // namespace
