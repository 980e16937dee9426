// The system sound card end to end, against a sound server whose default
// output loops back into its default input (.ci/pulse-start sets one up):
// a tone played must come back unchanged and without gaps.
#include "platform/PortAudioCard.h"
#include "platform/AudioBackend.h"
#include "platform/AudioDevices.h"
#include "platform/Thread.h"
#include "platform/WaveAudio.h"
#include "tests/harness/SoundServer.h"
#include "tests/harness/TestPaths.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <numbers>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr double SampleRate = 44100.0;
constexpr std::size_t BlockFrames = 8192;
// Prime to the sample rate: a stretch of samples lost or repeated anywhere
// short of a whole second moves the tone's phase.
constexpr double ToneFrequency = 997.0;
constexpr double ToneAmplitude = 0.5; // -6 dB of full scale
constexpr double SampleScale = 32767.0;
// The server's streams start and settle within the first second.
constexpr std::size_t SettlingFrames = 44100;
constexpr std::size_t MeasuredBlocks = 16;
constexpr std::size_t RecordingFrames = SettlingFrames + MeasuredBlocks * BlockFrames;

WAVEFORMATEX monoCdFormat() {
    return {WAVE_FORMAT_PCM, 1, 44100, 88200, 2, 16, 0};
}

double tonePhase(std::int64_t sample) {
    return 2.0 * std::numbers::pi *
           std::fmod(static_cast<double>(sample) * ToneFrequency, SampleRate) / SampleRate;
}

std::int16_t toneSample(std::int64_t sample, double amplitude = ToneAmplitude) {
    return static_cast<std::int16_t>(
        std::lround(amplitude * SampleScale * std::sin(tonePhase(sample))));
}

struct ToneFit {
    double amplitude; // of full scale
    double phase;     // against the tone as played from sample 0
};

// Least-squares fit of the tone to a stretch of a recording that begins at
// sample `first`.
ToneFit fitTone(std::span<const std::int16_t> samples, std::int64_t first) {
    double cc = 0, ss = 0, cs = 0, xc = 0, xs = 0;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const double phase = tonePhase(first + static_cast<std::int64_t>(i));
        const double c = std::cos(phase);
        const double s = std::sin(phase);
        const double x = samples[i] / SampleScale;
        cc += c * c;
        ss += s * s;
        cs += c * s;
        xc += x * c;
        xs += x * s;
    }
    const double determinant = cc * ss - cs * cs;
    const double cosine = (xc * ss - xs * cs) / determinant;
    const double sine = (xs * cc - xc * cs) / determinant;
    return {std::hypot(cosine, sine), std::atan2(cosine, sine)};
}

double wrapped(double phase) {
    return std::remainder(phase, 2.0 * std::numbers::pi);
}

// What the recording says about the tone after the settling second, block by
// block: the worst level error, the frequency from the phase drift, and the
// largest phase jump between neighbouring blocks (a gap or a repeat).
struct LoopbackFigures {
    double worstLevelErrorDb = 0;
    double frequency = 0;
    double largestPhaseJump = 0;
};

LoopbackFigures measure(std::span<const std::int16_t> recording, double amplitude = ToneAmplitude) {
    LoopbackFigures figures;
    double unwrappedPhase = 0;
    double firstPhase = 0;
    double previousPhase = 0;
    for (std::size_t block = 0; block < MeasuredBlocks; ++block) {
        const std::size_t first = SettlingFrames + block * BlockFrames;
        const ToneFit fit =
            fitTone(recording.subspan(first, BlockFrames), static_cast<std::int64_t>(first));
        const double levelError = std::abs(20.0 * std::log10(fit.amplitude / amplitude));
        figures.worstLevelErrorDb = std::max(figures.worstLevelErrorDb, levelError);
        if (block == 0) {
            firstPhase = unwrappedPhase = fit.phase;
        } else {
            const double step = wrapped(fit.phase - previousPhase);
            figures.largestPhaseJump = std::max(figures.largestPhaseJump, std::abs(step));
            unwrappedPhase += step;
        }
        previousPhase = fit.phase;
    }
    const double span = (MeasuredBlocks - 1) * BlockFrames / SampleRate;
    figures.frequency =
        ToneFrequency + (unwrappedPhase - firstPhase) / (2.0 * std::numbers::pi * span);
    return figures;
}

void expectToneCameBackWhole(std::span<const std::int16_t> recording) {
    const LoopbackFigures figures = measure(recording);
    std::printf(
        "[ measured ] level error %.4f dB, frequency %.4f Hz, largest phase jump %.5f rad\n",
        figures.worstLevelErrorDb, figures.frequency, figures.largestPhaseJump);
    EXPECT_LT(figures.worstLevelErrorDb, 0.1);
    EXPECT_NEAR(figures.frequency, ToneFrequency, 0.01);
    // One sample lost or repeated moves the phase by 0.14 rad.
    EXPECT_LT(figures.largestPhaseJump, 0.01);
}

// A sound card's client that plays the tone and records what comes back.
class ToneLoopback final : public StreamClient {
  public:
    explicit ToneLoopback(std::size_t recordingFrames, double amplitude = ToneAmplitude)
        : m_amplitude(amplitude), m_recording(recordingFrames) {}

    void render(std::int16_t* samples, std::size_t frames) override {
        for (std::size_t i = 0; i < frames; ++i)
            samples[i] = toneSample(m_played++, m_amplitude);
    }

    void capture(const std::int16_t* samples, std::size_t frames) override {
        const std::size_t recorded = m_recorded.load(std::memory_order_relaxed);
        const std::size_t taken = std::min(frames, m_recording.size() - recorded);
        std::copy_n(samples, taken, m_recording.begin() + static_cast<std::ptrdiff_t>(recorded));
        m_recorded.store(recorded + taken, std::memory_order_release);
    }

    // Whether `frames` have been recorded before the deadline.
    bool waitForRecording(std::size_t frames, Clock::time_point deadline) const {
        while (m_recorded.load(std::memory_order_acquire) < frames) {
            if (Clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return true;
    }

    std::span<const std::int16_t> recording() const { return m_recording; }

  private:
    const double m_amplitude;
    std::int64_t m_played = 0;
    std::vector<std::int16_t> m_recording;
    std::atomic<std::size_t> m_recorded{0};
};

class SystemSoundCard : public ::testing::Test {
  protected:
    void SetUp() override {
        REQUIRE_SOUND_SERVER(soundServerReachable(), NoSoundServer);
        turn.emplace();
    }

    std::optional<SoundServerTurn> turn;

    PortAudioCard card;
    WAVEFORMATEX format = monoCdFormat();
};

TEST_F(SystemSoundCard, countsTheServersDevicesInBothDirections) {
    EXPECT_GT(card.outputDeviceCount(), 0u) << card.lastFailure();
    EXPECT_GT(card.inputDeviceCount(), 0u) << card.lastFailure();
}

TEST_F(SystemSoundCard, opensStartsStopsAndClosesAndOpensAgain) {
    ToneLoopback client(BlockFrames);
    for (int round = 0; round < 2; ++round) {
        ASSERT_EQ(card.openOutput(format, client), MMSYSERR_NOERROR) << card.lastFailure();
        ASSERT_EQ(card.openInput(format, client), MMSYSERR_NOERROR) << card.lastFailure();
        EXPECT_EQ(card.startInput(), MMSYSERR_NOERROR) << card.lastFailure();
        EXPECT_EQ(card.stopInput(), MMSYSERR_NOERROR) << card.lastFailure();
        EXPECT_EQ(card.closeInput(), MMSYSERR_NOERROR) << card.lastFailure();
        EXPECT_EQ(card.closeOutput(), MMSYSERR_NOERROR) << card.lastFailure();
    }
}

TEST_F(SystemSoundCard, anOpenDirectionIsBusyUntilClosed) {
    ToneLoopback client(BlockFrames);
    ASSERT_EQ(card.openOutput(format, client), MMSYSERR_NOERROR) << card.lastFailure();
    EXPECT_EQ(card.openOutput(format, client), MMSYSERR_ALLOCATED);
    EXPECT_NE(card.lastFailure(), "");
    ASSERT_EQ(card.openInput(format, client), MMSYSERR_NOERROR) << card.lastFailure();
    EXPECT_EQ(card.openInput(format, client), MMSYSERR_ALLOCATED);
    EXPECT_EQ(card.closeInput(), MMSYSERR_NOERROR);
    EXPECT_EQ(card.closeOutput(), MMSYSERR_NOERROR);
    EXPECT_EQ(card.closeOutput(), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(card.startInput(), MMSYSERR_INVALHANDLE);
}

TEST_F(SystemSoundCard, playsAToneThatComesBackUnchangedAndWithoutGaps) {
    ToneLoopback loopback(RecordingFrames);
    ASSERT_EQ(card.openOutput(format, loopback), MMSYSERR_NOERROR) << card.lastFailure();
    ASSERT_EQ(card.openInput(format, loopback), MMSYSERR_NOERROR) << card.lastFailure();
    const Clock::time_point started = Clock::now();
    ASSERT_EQ(card.startInput(), MMSYSERR_NOERROR) << card.lastFailure();

    const bool firstBlock =
        loopback.waitForRecording(BlockFrames, started + std::chrono::seconds(10));
    const auto firstBlockTime = Clock::now() - started;
    const bool whole =
        loopback.waitForRecording(RecordingFrames, started + std::chrono::seconds(30));
    EXPECT_EQ(card.stopInput(), MMSYSERR_NOERROR) << card.lastFailure();
    EXPECT_EQ(card.closeInput(), MMSYSERR_NOERROR) << card.lastFailure();
    EXPECT_EQ(card.closeOutput(), MMSYSERR_NOERROR) << card.lastFailure();

    ASSERT_TRUE(firstBlock && whole) << "the input delivered too little within 30 s";
    std::printf("[ measured ] first %zu frames after %lld ms\n", BlockFrames,
                static_cast<long long>(
                    std::chrono::duration_cast<std::chrono::milliseconds>(firstBlockTime).count()));
    expectToneCameBackWhole(loopback.recording());
}

// The choice of devices belongs to the process: these cases put the default
// back when they end.
class ChosenSystemSoundCard : public SystemSoundCard {
  protected:
    void TearDown() override { platform::ChooseSystemDevices({}); }
};

constexpr const char* ServerDevice = "pulse (ALSA)";

TEST_F(ChosenSystemSoundCard, opensTheDefaultThroughTheSoundServersOwnDevice) {
    ToneLoopback client(BlockFrames);
    ASSERT_EQ(card.openOutput(format, client), MMSYSERR_NOERROR) << card.lastFailure();
    ASSERT_EQ(card.openInput(format, client), MMSYSERR_NOERROR) << card.lastFailure();
    EXPECT_EQ(card.deviceName(WaveDirection::Output), ServerDevice);
    EXPECT_EQ(card.deviceName(WaveDirection::Input), ServerDevice);
    EXPECT_EQ(card.closeInput(), MMSYSERR_NOERROR) << card.lastFailure();
    EXPECT_EQ(card.closeOutput(), MMSYSERR_NOERROR) << card.lastFailure();
}

// The server's devices are stereo: the tone is played on both channels and
// must come back at its level from either.
TEST_F(ChosenSystemSoundCard, aToneAtMinus20dBComesBackAtItsLevelFromEitherInputChannel) {
    constexpr double Amplitude = 0.1;
    for (const int channel : {1, 2}) {
        platform::ChooseSystemDevices({"default (ALSA)", ServerDevice, channel});
        PortAudioCard stereoCard;
        ToneLoopback loopback(RecordingFrames, Amplitude);
        ASSERT_EQ(stereoCard.openOutput(format, loopback), MMSYSERR_NOERROR)
            << stereoCard.lastFailure();
        ASSERT_EQ(stereoCard.openInput(format, loopback), MMSYSERR_NOERROR)
            << stereoCard.lastFailure();
        EXPECT_EQ(stereoCard.deviceName(WaveDirection::Output), ServerDevice);
        ASSERT_EQ(stereoCard.startInput(), MMSYSERR_NOERROR) << stereoCard.lastFailure();
        const bool whole =
            loopback.waitForRecording(RecordingFrames, Clock::now() + std::chrono::seconds(30));
        EXPECT_EQ(stereoCard.closeInput(), MMSYSERR_NOERROR) << stereoCard.lastFailure();
        EXPECT_EQ(stereoCard.closeOutput(), MMSYSERR_NOERROR) << stereoCard.lastFailure();
        ASSERT_TRUE(whole) << "the input delivered too little within 30 s";
        const LoopbackFigures figures = measure(loopback.recording(), Amplitude);
        std::printf("[ measured ] channel %d: level error %.4f dB, phase jump %.5f rad\n", channel,
                    figures.worstLevelErrorDb, figures.largestPhaseJump);
        EXPECT_LT(figures.worstLevelErrorDb, 0.05) << "channel " << channel;
        EXPECT_LT(figures.largestPhaseJump, 0.01) << "channel " << channel;
    }
}

TEST_F(ChosenSystemSoundCard, refusesAnAbsentDeviceOrChannelNamingIt) {
    ToneLoopback client(BlockFrames);
    platform::ChooseSystemDevices({"", "gone (ALSA)", 1});
    EXPECT_EQ(card.openOutput(format, client), MMSYSERR_BADDEVICEID);
    EXPECT_NE(card.lastFailure().find("\"gone (ALSA)\""), std::string::npos) << card.lastFailure();
    platform::ChooseSystemDevices({ServerDevice, "", 999});
    EXPECT_EQ(card.openInput(format, client), WAVERR_BADFORMAT);
    EXPECT_NE(card.lastFailure().find("channel 999"), std::string::npos) << card.lastFailure();
    // Nothing was left open by the refusals.
    EXPECT_EQ(card.closeOutput(), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(card.closeInput(), MMSYSERR_INVALHANDLE);
}

// A client that only counts what the input delivers.
class FrameCounter final : public StreamClient {
  public:
    void render(std::int16_t* samples, std::size_t frames) override {
        std::fill_n(samples, frames, std::int16_t{0});
    }
    void capture(const std::int16_t*, std::size_t frames) override {
        m_captured.fetch_add(frames, std::memory_order_relaxed);
    }
    std::size_t captured() const { return m_captured.load(std::memory_order_relaxed); }

  private:
    std::atomic<std::size_t> m_captured{0};
};

// The seconds until `done` holds, or a negative number after `limit`.
template <class Condition> double secondsUntil(Condition done, std::chrono::seconds limit) {
    const Clock::time_point start = Clock::now();
    while (!done()) {
        if (Clock::now() - start > limit)
            return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double secondsTaken(const std::function<void()>& work) {
    const Clock::time_point start = Clock::now();
    work();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// A sound server of the case's own, which the case may kill or stall
// without taking any other test's server away.
class PrivateServerCard : public ::testing::Test {
  protected:
    void SetUp() override {
        REQUIRE_SOUND_SERVER(server("start"),
                             "no PulseAudio server could be started with .ci/pulse-start");
        ::setenv("XDG_RUNTIME_DIR", m_runtime.c_str(), 1);
        ::unsetenv("PULSE_SERVER"); // a desktop's server would stand in for this one
    }
    void TearDown() override { server("stop"); }

    bool server(const char* action) const {
        const std::string command = "TEMBRIX_PULSE_DIR='" + m_runtime + "' '" + TEMBRIX_CI_DIR +
                                    "/pulse-" + action + "' >/dev/null 2>&1";
        return std::system(command.c_str()) == 0;
    }
    void signalServer(int signal) const {
        std::ifstream pidFile(m_runtime + "/pulse/pid");
        int pid = 0;
        if (pidFile >> pid && pid > 0)
            ::kill(pid, signal);
    }

    void openAndRun() {
        ASSERT_EQ(card.openOutput(format, client), MMSYSERR_NOERROR) << card.lastFailure();
        ASSERT_EQ(card.openInput(format, client), MMSYSERR_NOERROR) << card.lastFailure();
        const std::size_t before = client.captured();
        ASSERT_EQ(card.startInput(), MMSYSERR_NOERROR) << card.lastFailure();
        // A fresh server takes nearly 2 s to deliver its first capture; the
        // stream is not taken for dead meanwhile, nor once it runs.
        const double flowing = secondsUntil(
            [&] {
                EXPECT_FALSE(card.streamFailed(WaveDirection::Input));
                return client.captured() > before + BlockFrames;
            },
            std::chrono::seconds(10));
        std::printf("[ measured ] a block captured %.2f s after the start\n", flowing);
        ASSERT_GE(flowing, 0);
        for (int poll = 0; poll < 50; ++poll) {
            EXPECT_FALSE(card.streamFailed(WaveDirection::Output));
            EXPECT_FALSE(card.streamFailed(WaveDirection::Input));
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }

    double secondsUntilBothDead() const {
        return secondsUntil(
            [&] {
                return card.streamFailed(WaveDirection::Output) &&
                       card.streamFailed(WaveDirection::Input);
            },
            std::chrono::seconds(10));
    }

    double secondsToClose() {
        return secondsTaken([&] {
            EXPECT_EQ(card.closeInput(), MMSYSERR_NOERROR) << card.lastFailure();
            EXPECT_EQ(card.closeOutput(), MMSYSERR_NOERROR) << card.lastFailure();
        });
    }

    const std::string m_runtime = std::filesystem::temp_directory_path() /
                                  ("tembrix-card-server-" + std::to_string(::getpid()));
    // The client outlives the case: a stream the card gave up on may still
    // call it once its server returns.
    static FrameCounter& lastingClient() {
        static auto* instance = new FrameCounter;
        return *instance;
    }

    PortAudioCard card;
    FrameCounter& client = lastingClient();
    const WAVEFORMATEX format = monoCdFormat();
};

TEST_F(PrivateServerCard, aKilledServersStreamsAreDeadAndReopenOnTheSameDeviceOnceItIsBack) {
    openAndRun();
    signalServer(SIGKILL);
    const double dead = secondsUntilBothDead();
    const double closed = secondsToClose();
    // With the server gone, nothing else may take the device's place.
    EXPECT_EQ(card.openOutput(format, client), MMSYSERR_BADDEVICEID);

    server("stop");
    ASSERT_TRUE(server("start"));
    const double reopened =
        secondsUntil([&] { return card.openOutput(format, client) == MMSYSERR_NOERROR; },
                     std::chrono::seconds(10));
    std::printf("[ measured ] dead after %.2f s, closed in %.2f s, reopened %.2f s after the "
                "server started\n",
                dead, closed, reopened);
    EXPECT_GE(dead, 0);
    EXPECT_LT(dead, 2.5);
    EXPECT_LT(closed, 2.0);
    ASSERT_GE(reopened, 0);
    EXPECT_EQ(card.deviceName(WaveDirection::Output), "pulse (ALSA)");
    ASSERT_EQ(card.closeOutput(), MMSYSERR_NOERROR) << card.lastFailure();
    openAndRun();
    secondsToClose();
}

// A server that stops answering without going away: its streams stay
// active but their callbacks stop, and PortAudio may not return from a call
// for half a minute.
TEST_F(PrivateServerCard, aStalledServersStreamsAreDeadAndNeitherCloseNorReopenWaitForIt) {
    openAndRun();
    signalServer(SIGSTOP);
    const double dead = secondsUntilBothDead();
    const double closed = secondsToClose();
    MMRESULT reopen = MMSYSERR_NOERROR;
    const double refused = secondsTaken([&] { reopen = card.openOutput(format, client); });
    signalServer(SIGKILL);
    std::printf("[ measured ] dead after %.2f s, closed in %.2f s, a reopen refused after "
                "%.2f s\n",
                dead, closed, refused);
    EXPECT_GE(dead, 0);
    EXPECT_LT(dead, 2.5);
    EXPECT_LT(closed, 2.0);
    EXPECT_NE(reopen, MMSYSERR_NOERROR);
    EXPECT_LT(refused, std::chrono::duration<double>(PortAudioCard::ReopenWait).count() + 0.5);
}

// What the program's playback and capture threads do with the waveform
// devices, pared down: four output buffers of tone and two input buffers kept
// queued, each returned buffer refilled or recorded and queued again at once.
struct LoopbackSession {
    std::vector<std::int16_t> recording = std::vector<std::int16_t>(RecordingFrames);
    std::atomic<std::size_t> recorded{0};
    std::atomic<bool> stopping{false};
    // The first failure inside a thread's handlers (MMSYSERR_NOERROR: none).
    std::atomic<MMRESULT> failure{MMSYSERR_NOERROR};
    std::atomic<std::size_t> shortBuffers{0};
    Clock::time_point inputStarted;
    Clock::duration firstBufferAfter{};
    std::promise<void> outputClosed;
    std::promise<void> inputClosed;

    void check(MMRESULT result) {
        MMRESULT none = MMSYSERR_NOERROR;
        failure.compare_exchange_strong(none, result);
    }
};

// The threads are created by their run-time class, so they find the session
// here. It is never destroyed: a thread that outlives a failed test still
// finds it.
LoopbackSession* session = nullptr;

class TonePlayerThread : public CWinThread {
  public:
    BOOL InitInstance() override { return TRUE; }
    ThreadMessageMap GetMessageMap() const override {
        static const ThreadMessageEntry map[] = {
            OnThreadMessage(MM_WOM_OPEN, &TonePlayerThread::onOpen),
            OnThreadMessage(MM_WOM_DONE, &TonePlayerThread::onDone),
            OnThreadMessage(MM_WOM_CLOSE, &TonePlayerThread::onClose),
        };
        return map;
    }

  private:
    static constexpr std::size_t BufferCount = 4;

    void onOpen(WPARAM device, LPARAM) {
        const auto output = reinterpret_cast<HWAVEOUT>(device);
        for (std::size_t i = 0; i < BufferCount; ++i) {
            m_headers[i] = {};
            m_headers[i].lpData = reinterpret_cast<char*>(m_buffers[i].data());
            m_headers[i].dwBufferLength = BlockFrames * sizeof(std::int16_t);
            session->check(waveOutPrepareHeader(output, &m_headers[i], sizeof(WAVEHDR)));
            play(output, &m_headers[i]);
        }
    }

    void onDone(WPARAM device, LPARAM header) {
        if (!session->stopping)
            play(reinterpret_cast<HWAVEOUT>(device), reinterpret_cast<WAVEHDR*>(header));
    }

    void onClose(WPARAM, LPARAM) {
        session->outputClosed.set_value();
        AfxEndThread(0);
    }

    void play(HWAVEOUT output, WAVEHDR* header) {
        auto* samples = reinterpret_cast<std::int16_t*>(header->lpData);
        for (std::size_t i = 0; i < BlockFrames; ++i)
            samples[i] = toneSample(m_played++);
        session->check(waveOutWrite(output, header, sizeof(WAVEHDR)));
    }

    std::array<std::array<std::int16_t, BlockFrames>, BufferCount> m_buffers{};
    std::array<WAVEHDR, BufferCount> m_headers{};
    std::int64_t m_played = 0;
};

class RecorderThread : public CWinThread {
  public:
    BOOL InitInstance() override { return TRUE; }
    ThreadMessageMap GetMessageMap() const override {
        static const ThreadMessageEntry map[] = {
            OnThreadMessage(MM_WIM_OPEN, &RecorderThread::onOpen),
            OnThreadMessage(MM_WIM_DATA, &RecorderThread::onData),
            OnThreadMessage(MM_WIM_CLOSE, &RecorderThread::onClose),
        };
        return map;
    }

  private:
    static constexpr std::size_t BufferCount = 2;

    void onOpen(WPARAM device, LPARAM) {
        const auto input = reinterpret_cast<HWAVEIN>(device);
        for (std::size_t i = 0; i < BufferCount; ++i) {
            m_headers[i] = {};
            m_headers[i].lpData = reinterpret_cast<char*>(m_buffers[i].data());
            m_headers[i].dwBufferLength = BlockFrames * sizeof(std::int16_t);
            session->check(waveInPrepareHeader(input, &m_headers[i], sizeof(WAVEHDR)));
            session->check(waveInAddBuffer(input, &m_headers[i], sizeof(WAVEHDR)));
        }
        session->inputStarted = Clock::now();
        session->check(waveInStart(input));
    }

    void onData(WPARAM device, LPARAM header) {
        auto* returned = reinterpret_cast<WAVEHDR*>(header);
        if (session->stopping)
            return;
        keep(*returned);
        session->check(
            waveInAddBuffer(reinterpret_cast<HWAVEIN>(device), returned, sizeof(WAVEHDR)));
    }

    void onClose(WPARAM, LPARAM) {
        session->inputClosed.set_value();
        AfxEndThread(0);
    }

    void keep(const WAVEHDR& header) {
        const std::size_t recorded = session->recorded.load(std::memory_order_relaxed);
        if (recorded == 0)
            session->firstBufferAfter = Clock::now() - session->inputStarted;
        const std::size_t frames = header.dwBytesRecorded / sizeof(std::int16_t);
        if (frames != BlockFrames)
            ++session->shortBuffers;
        const std::size_t taken = std::min(frames, RecordingFrames - recorded);
        const auto* samples = reinterpret_cast<const std::int16_t*>(header.lpData);
        std::copy_n(samples, taken,
                    session->recording.begin() + static_cast<std::ptrdiff_t>(recorded));
        session->recorded.store(recorded + taken, std::memory_order_release);
    }

    std::array<std::array<std::int16_t, BlockFrames>, BufferCount> m_buffers{};
    std::array<WAVEHDR, BufferCount> m_headers{};
};

constexpr CRuntimeClass TonePlayerClass = MakeRuntimeClass<TonePlayerThread>("TonePlayerThread");
constexpr CRuntimeClass RecorderClass = MakeRuntimeClass<RecorderThread>("RecorderThread");

// Reset and close; a handler that was already re-queueing when the session
// began stopping may have queued one buffer after the first reset.
template <class Handle>
void resetAndClose(Handle device, MMRESULT (*reset)(Handle), MMRESULT (*close)(Handle)) {
    MMRESULT closed = MMSYSERR_NOERROR;
    for (int attempt = 0; attempt < 3; ++attempt) {
        EXPECT_EQ(reset(device), MMSYSERR_NOERROR);
        closed = close(device);
        if (closed != WAVERR_STILLPLAYING)
            break;
    }
    EXPECT_EQ(closed, MMSYSERR_NOERROR);
}

TEST_F(SystemSoundCard, throughTheWaveformDevicesAToneComesBackUnchangedAndWithoutGaps) {
    static LoopbackSession loopback;
    session = &loopback;
    platform::UseSoundCard(platform::SystemSoundCard(), platform::AudioBackend::System);
    ASSERT_GT(waveOutGetNumDevs(), 0u);
    ASSERT_GT(waveInGetNumDevs(), 0u);

    CWinThread* player = AfxBeginThread(&TonePlayerClass);
    CWinThread* recorder = AfxBeginThread(&RecorderClass);
    ASSERT_TRUE(player != nullptr && recorder != nullptr);
    HWAVEOUT output = nullptr;
    HWAVEIN input = nullptr;
    ASSERT_EQ(waveOutOpen(&output, WAVE_MAPPER, &format, player->m_nThreadID, 0, CALLBACK_THREAD),
              MMSYSERR_NOERROR);
    ASSERT_EQ(waveInOpen(&input, WAVE_MAPPER, &format, recorder->m_nThreadID, 0, CALLBACK_THREAD),
              MMSYSERR_NOERROR);

    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(30);
    while (loopback.recorded.load(std::memory_order_acquire) < RecordingFrames &&
           Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    loopback.stopping = true;
    resetAndClose(output, waveOutReset, waveOutClose);
    resetAndClose(input, waveInReset, waveInClose);
    ASSERT_EQ(loopback.outputClosed.get_future().wait_for(std::chrono::seconds(10)),
              std::future_status::ready);
    ASSERT_EQ(loopback.inputClosed.get_future().wait_for(std::chrono::seconds(10)),
              std::future_status::ready);

    EXPECT_EQ(loopback.failure.load(), MMSYSERR_NOERROR);
    ASSERT_EQ(loopback.recorded.load(), RecordingFrames)
        << "the input delivered too little in 30 s";
    EXPECT_EQ(loopback.shortBuffers.load(), 0u);
    std::printf("[ measured ] first buffer after %lld ms\n",
                static_cast<long long>(
                    std::chrono::duration_cast<std::chrono::milliseconds>(loopback.firstBufferAfter)
                        .count()));
    expectToneCameBackWhole(loopback.recording);
}

TEST(PortAudioCardFormat, acceptsOnlyMonoOrStereo16BitAt44100) {
    PortAudioCard card;
    ToneLoopback client(BlockFrames);
    const WAVEFORMATEX good = monoCdFormat();
    WAVEFORMATEX threeChannels = good;
    threeChannels.nChannels = 3;
    threeChannels.nBlockAlign = 6;
    threeChannels.nAvgBytesPerSec = 264600;
    WAVEFORMATEX rate48k = good;
    rate48k.nSamplesPerSec = 48000;
    rate48k.nAvgBytesPerSec = 96000;
    WAVEFORMATEX eightBit = good;
    eightBit.wBitsPerSample = 8;
    eightBit.nBlockAlign = 1;
    eightBit.nAvgBytesPerSec = 44100;
    WAVEFORMATEX notPcm = good;
    notPcm.wFormatTag = 3;
    for (const WAVEFORMATEX& format : {threeChannels, rate48k, eightBit, notPcm}) {
        EXPECT_EQ(card.openOutput(format, client), WAVERR_BADFORMAT);
        EXPECT_EQ(card.openInput(format, client), WAVERR_BADFORMAT);
    }
    EXPECT_NE(card.lastFailure(), "");
}

// Probing devices without a sound server is where ALSA and JACK talk most;
// the child process hides the server and records its own stderr.
TEST(PortAudioCardDeathTest, keepsTheProbingChatterOfAlsaAndJackOffStderr) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            setenv("XDG_RUNTIME_DIR", "/nonexistent", 1);
            PortAudioCard card;
            ToneLoopback client(BlockFrames);
            card.outputDeviceCount();
            card.inputDeviceCount();
            card.openOutput(monoCdFormat(), client);
            card.openInput(monoCdFormat(), client);
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(0), "^$");
}

} // namespace
