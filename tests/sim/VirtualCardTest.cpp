#include "sim/VirtualCard.h"

#include "measure/ClockDrift.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <numbers>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

constexpr WAVEFORMATEX Mono{WAVE_FORMAT_PCM, 1, 44100, 88200, 2, 16, 0};
constexpr WAVEFORMATEX Stereo{WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};

// Plays what it is given (interleaved frames of `channels` samples), once;
// silence after.
class Player final : public StreamClient {
  public:
    explicit Player(std::size_t channels = 1) : m_channels(channels) {}
    void play(const std::vector<std::int16_t>& samples) {
        std::lock_guard lock(m_mutex);
        m_samples.insert(m_samples.end(), samples.begin(), samples.end());
    }
    void render(std::int16_t* samples, std::size_t frames) override {
        std::lock_guard lock(m_mutex);
        for (std::size_t i = 0; i < frames * m_channels; ++i)
            samples[i] = m_position < m_samples.size() ? m_samples[m_position++] : 0;
    }
    void capture(const std::int16_t*, std::size_t) override {}
    std::size_t queuedFrames() override {
        std::lock_guard lock(m_mutex);
        return (m_samples.size() - std::min(m_position, m_samples.size())) / m_channels;
    }

  private:
    const std::size_t m_channels;
    std::mutex m_mutex;
    std::vector<std::int16_t> m_samples;
    std::size_t m_position = 0;
};

// Records into as much room (in frames of `channels` samples) as it is given.
class Recorder final : public StreamClient {
  public:
    explicit Recorder(std::size_t channels = 1) : m_channels(channels) {}
    void addRoom(std::size_t frames) {
        std::lock_guard lock(m_mutex);
        m_room += frames;
    }
    void render(std::int16_t*, std::size_t) override {}
    void capture(const std::int16_t* samples, std::size_t frames) override {
        {
            std::lock_guard lock(m_mutex);
            EXPECT_LE(frames, m_room);
            m_room -= std::min(frames, m_room);
            m_samples.insert(m_samples.end(), samples, samples + frames * m_channels);
        }
        m_captured.notify_all();
    }
    std::size_t queuedFrames() override {
        std::lock_guard lock(m_mutex);
        return m_room;
    }
    std::vector<std::int16_t> waitFor(std::size_t frames) {
        std::unique_lock lock(m_mutex);
        m_captured.wait_for(lock, 10s, [&] { return m_samples.size() >= frames * m_channels; });
        return m_samples;
    }

  private:
    const std::size_t m_channels;
    std::mutex m_mutex;
    std::condition_variable m_captured;
    std::vector<std::int16_t> m_samples;
    std::size_t m_room = 0;
};

std::vector<std::int16_t> noiseLike(std::size_t frames, std::uint32_t seed = 12345) {
    std::vector<std::int16_t> samples(frames);
    std::uint32_t state = seed;
    for (std::int16_t& s : samples) {
        state = state * 1664525u + 1013904223u;
        s = static_cast<std::int16_t>(state >> 16);
    }
    samples[0] = 1000; // never silent at the start
    return samples;
}

std::vector<std::int16_t> interleaved(const std::vector<std::int16_t>& left,
                                      const std::vector<std::int16_t>& right) {
    std::vector<std::int16_t> frames;
    for (std::size_t i = 0; i < left.size(); ++i)
        frames.insert(frames.end(), {left[i], right[i]});
    return frames;
}

std::vector<std::int16_t> channelOf(const std::vector<std::int16_t>& frames, std::size_t channel) {
    std::vector<std::int16_t> samples;
    for (std::size_t i = channel; i < frames.size(); i += 2)
        samples.push_back(frames[i]);
    return samples;
}

std::vector<std::int16_t> tone(double frequencyHz, double amplitude, std::size_t frames) {
    std::vector<std::int16_t> samples(frames);
    for (std::size_t i = 0; i < frames; ++i)
        samples[i] = static_cast<std::int16_t>(std::lround(
            amplitude * 32767.0 * std::sin(2.0 * std::numbers::pi * frequencyHz * i / 44100.0)));
    return samples;
}

// The least-squares amplitude, in dB of full scale, of a sine at a known
// frequency in the samples from `first` on.
double levelDb(const std::vector<std::int16_t>& samples, double frequencyHz, std::size_t first) {
    double cc = 0, ss = 0, cs = 0, xc = 0, xs = 0;
    for (std::size_t i = first; i < samples.size(); ++i) {
        const double phase = 2.0 * std::numbers::pi * frequencyHz * i / 44100.0;
        const double c = std::cos(phase), s = std::sin(phase), x = samples[i] / 32768.0;
        cc += c * c, ss += s * s, cs += c * s, xc += x * c, xs += x * s;
    }
    const double det = cc * ss - cs * cs;
    return 20.0 * std::log10(std::hypot((xc * ss - xs * cs) / det, (xs * cc - xc * cs) / det));
}

DeviceModel quiet(DeviceModel model) {
    model.noiseDb = Off;
    model.humDb = Off;
    return model;
}

class VirtualCardTest : public ::testing::Test {
  protected:
    // Opens both directions with nothing to play, so that in fast mode the
    // first frame played is the first frame recorded.
    void openLoop(const DeviceModel& model) {
        card.setClock(VirtualCard::Clock::Fast);
        ASSERT_TRUE(card.setModel(model));
        ASSERT_EQ(card.openOutput(Mono, player), MMSYSERR_NOERROR);
        ASSERT_EQ(card.openInput(Mono, recorder), MMSYSERR_NOERROR);
        ASSERT_EQ(card.startInput(), MMSYSERR_NOERROR);
    }
    // The same with the given formats and clients.
    void openLoop(const CardModel& model, const WAVEFORMATEX& outputFormat, Player& output,
                  const WAVEFORMATEX& inputFormat, Recorder& input) {
        card.setClock(VirtualCard::Clock::Fast);
        ASSERT_TRUE(card.setCardModel(model));
        ASSERT_EQ(card.openOutput(outputFormat, output), MMSYSERR_NOERROR);
        ASSERT_EQ(card.openInput(inputFormat, input), MMSYSERR_NOERROR);
        ASSERT_EQ(card.startInput(), MMSYSERR_NOERROR);
    }
    // Everything recorded once `frames` more frames of `played` came back.
    std::vector<std::int16_t> playThrough(Player& output, Recorder& input,
                                          const std::vector<std::int16_t>& played,
                                          std::size_t frames, std::size_t recordedBefore = 0) {
        input.addRoom(frames);
        output.play(played);
        card.buffersQueued();
        return input.waitFor(recordedBefore + frames);
    }
    void TearDown() override {
        card.reset();
        card.closeOutput();
        card.closeInput();
    }

    VirtualCard card;
    Player player;
    Recorder recorder;
    Player stereoPlayer{2};
    Recorder stereoRecorder{2};
};

TEST_F(VirtualCardTest, IdealWireLoopsBackBitExactBehindItsLatency) {
    DeviceModel wire = DeviceModel::IdealWire();
    wire.latencyFrames = 100;
    openLoop(wire);
    const auto played = noiseLike(5000);
    recorder.addRoom(played.size());
    player.play(played);
    card.buffersQueued();
    const auto recorded = recorder.waitFor(played.size());
    ASSERT_EQ(recorded.size(), played.size());
    for (std::size_t i = 0; i < played.size(); ++i)
        ASSERT_EQ(recorded[i], i < 100 ? 0 : played[i - 100]) << i;
}

TEST_F(VirtualCardTest, SineLevelsMatchTheModelsResponse) {
    const DeviceModel model = DeviceModel::ConsumerCard();
    openLoop(model);
    const std::size_t frames = 44100, settled = 22050;
    std::size_t start = 0;
    for (double f : {20.0, 1000.0, 10000.0, 20000.0}) {
        std::vector<std::int16_t> tone(frames);
        for (std::size_t i = 0; i < frames; ++i)
            tone[i] = static_cast<std::int16_t>(
                std::lround(16384.0 * std::sin(2.0 * std::numbers::pi * f * i / 44100.0)));
        recorder.addRoom(frames);
        player.play(tone);
        card.buffersQueued();
        const auto recorded = recorder.waitFor(start + frames);
        double cc = 0, ss = 0, cs = 0, xc = 0, xs = 0;
        for (std::size_t i = settled; i < frames; ++i) {
            const double phase = 2.0 * std::numbers::pi * f * i / 44100.0;
            const double c = std::cos(phase), s = std::sin(phase);
            const double x = recorded[start + i] / 16384.0;
            cc += c * c, ss += s * s, cs += c * s, xc += x * c, xs += x * s;
        }
        const double det = cc * ss - cs * cs;
        const double level = std::hypot((xc * ss - xs * cs) / det, (xs * cc - xc * cs) / det);
        EXPECT_NEAR(20.0 * std::log10(level), model.ResponseDb(f), 0.1) << f << " Hz";
        start += frames;
    }
}

TEST_F(VirtualCardTest, FastClockWaitsForRoomSoNothingIsLost) {
    openLoop(DeviceModel::IdealWire());
    const auto played = noiseLike(5000);
    player.play(played);
    card.buffersQueued();
    // Room comes in pieces that are not whole periods, as buffers come back.
    for (std::size_t recorded = 0; recorded < played.size(); recorded += 1000) {
        recorder.addRoom(1000);
        card.buffersQueued();
        recorder.waitFor(recorded + 1000);
    }
    EXPECT_EQ(recorder.waitFor(played.size()), played);
    ASSERT_EQ(card.closeInput(), MMSYSERR_NOERROR); // once the last period is over
    EXPECT_EQ(card.lostInputFrames(), 0u);
    EXPECT_EQ(card.framesElapsed(), played.size());
}

TEST_F(VirtualCardTest, RealTimeClockKeepsNearTheSampleRate) {
    ASSERT_EQ(card.openInput(Mono, recorder), MMSYSERR_NOERROR);
    recorder.addRoom(22050);
    const auto started = SteadyClock::now();
    ASSERT_EQ(card.startInput(), MMSYSERR_NOERROR);
    ASSERT_EQ(recorder.waitFor(22050).size(), 22050u);
    const auto took = SteadyClock::now() - started;
    EXPECT_GT(took, 400ms);
    EXPECT_LT(took, 1500ms);
}

TEST_F(VirtualCardTest, RealTimeInputWithoutRoomLosesAndCountsFrames) {
    ASSERT_EQ(card.openInput(Mono, recorder), MMSYSERR_NOERROR);
    recorder.addRoom(300);
    ASSERT_EQ(card.startInput(), MMSYSERR_NOERROR);
    recorder.waitFor(300);
    while (card.lostInputFrames() < 1000)
        std::this_thread::sleep_for(5ms);
    ASSERT_EQ(card.stopInput(), MMSYSERR_NOERROR);
    const auto lost = card.lostInputFrames();
    EXPECT_EQ((lost + 300) % VirtualCard::PeriodFrames, 0u);
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(card.lostInputFrames(), lost); // a stopped input loses nothing
    EXPECT_EQ(recorder.waitFor(0).size(), 300u);
}

TEST_F(VirtualCardTest, RealTimeOutputUnderrunPlaysSilence) {
    ASSERT_TRUE(card.setModel(DeviceModel::IdealWire()));
    ASSERT_EQ(card.openInput(Mono, recorder), MMSYSERR_NOERROR);
    recorder.addRoom(4000);
    ASSERT_EQ(card.startInput(), MMSYSERR_NOERROR);
    ASSERT_EQ(card.openOutput(Mono, player), MMSYSERR_NOERROR);
    const auto played = noiseLike(100);
    player.play(played);
    const auto recorded = recorder.waitFor(4000);
    const auto first = std::find_if(recorded.begin(), recorded.end(), [](auto s) { return s; });
    ASSERT_LE(first + 100, recorded.end());
    EXPECT_TRUE(std::equal(played.begin(), played.end(), first));
    EXPECT_TRUE(std::all_of(first + 100, recorded.end(), [](auto s) { return s == 0; }));
}

TEST_F(VirtualCardTest, StreamsDieWhenTheModelSaysUntilTheyAreOpenedAgain) {
    DeviceModel model = DeviceModel::IdealWire();
    model.streamsDieAfterSeconds = 0.05;
    ASSERT_TRUE(card.setModel(model));
    ASSERT_EQ(card.openInput(Mono, recorder), MMSYSERR_NOERROR);
    recorder.addRoom(1'000'000);
    ASSERT_EQ(card.startInput(), MMSYSERR_NOERROR);
    const auto deadline = SteadyClock::now() + 2s;
    while (!card.streamFailed(WaveDirection::Input) && SteadyClock::now() < deadline)
        std::this_thread::sleep_for(1ms);
    ASSERT_TRUE(card.streamFailed(WaveDirection::Input));
    EXPECT_FALSE(card.streamFailed(WaveDirection::Output)); // it was not open
    const std::size_t captured = recorder.waitFor(0).size();
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(recorder.waitFor(0).size(), captured); // a dead stream hears nothing

    ASSERT_EQ(card.closeInput(), MMSYSERR_NOERROR);
    EXPECT_FALSE(card.streamFailed(WaveDirection::Input));
    ASSERT_EQ(card.openInput(Mono, recorder), MMSYSERR_NOERROR);
    ASSERT_EQ(card.startInput(), MMSYSERR_NOERROR);
    EXPECT_GT(recorder.waitFor(captured + 1000).size(), captured); // and dies only once
}

// As a sound server just started keeps its first capture back: on either
// clock, nothing is recorded and nothing lost until the delay has passed,
// after every open.
TEST_F(VirtualCardTest, TheInputRecordsOnlyItsStartDelayAfterEachOpen) {
    DeviceModel model = DeviceModel::IdealWire();
    model.inputStartDelaySeconds = 0.3;
    ASSERT_TRUE(card.setModel(model));
    for (const VirtualCard::Clock clock :
         {VirtualCard::Clock::RealTime, VirtualCard::Clock::Fast}) {
        card.setClock(clock);
        recorder.addRoom(1'000'000);
        const std::size_t before = recorder.waitFor(0).size();
        const SteadyClock::time_point opened = SteadyClock::now();
        ASSERT_EQ(card.openInput(Mono, recorder), MMSYSERR_NOERROR);
        ASSERT_EQ(card.startInput(), MMSYSERR_NOERROR);
        std::this_thread::sleep_for(200ms);
        EXPECT_EQ(recorder.waitFor(0).size(), before);
        EXPECT_GT(recorder.waitFor(before + 1).size(), before);
        EXPECT_GE(SteadyClock::now() - opened, 300ms);
        EXPECT_EQ(card.lostInputFrames(), 0u);
        ASSERT_EQ(card.closeInput(), MMSYSERR_NOERROR);
    }
}

TEST_F(VirtualCardTest, ClockRunsOnlyWhileADeviceIsOpen) {
    ASSERT_EQ(card.openOutput(Mono, player), MMSYSERR_NOERROR);
    while (card.framesElapsed() == 0)
        std::this_thread::sleep_for(1ms);
    ASSERT_EQ(card.closeOutput(), MMSYSERR_NOERROR);
    const auto elapsed = card.framesElapsed();
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(card.framesElapsed(), elapsed);
}

TEST_F(VirtualCardTest, RefusesWhatItCannotDoAndSaysWhy) {
    WAVEFORMATEX threeChannels{WAVE_FORMAT_PCM, 3, 44100, 264600, 6, 16, 0};
    EXPECT_EQ(card.openOutput(threeChannels, player), WAVERR_BADFORMAT);
    EXPECT_NE(card.lastFailure().find("1 or 2 channels only, not 3"), std::string::npos);
    WAVEFORMATEX otherRate{WAVE_FORMAT_PCM, 1, 48000, 96000, 2, 16, 0};
    EXPECT_EQ(card.openInput(otherRate, recorder), WAVERR_BADFORMAT);
    EXPECT_NE(card.lastFailure().find("44100 Hz, not 48000 Hz"), std::string::npos);
    EXPECT_EQ(card.startInput(), MMSYSERR_INVALHANDLE);

    ASSERT_EQ(card.openOutput(Mono, player), MMSYSERR_NOERROR);
    EXPECT_EQ(card.openOutput(Mono, player), MMSYSERR_ALLOCATED);
    DeviceModel otherModel;
    otherModel.sampleRate = 48000.0;
    EXPECT_FALSE(card.setModel(otherModel)); // not while a device runs at the old rate
    otherModel.lowPass.frequencyHz = 30000.0;
    EXPECT_FALSE(card.setModel(otherModel));
    EXPECT_EQ(card.model().sampleRate, 44100.0);
}

TEST_F(VirtualCardTest, RefusedCloseLeavesTheDeviceRunning) {
    ASSERT_EQ(card.openOutput(Mono, player), MMSYSERR_NOERROR);
    card.failClose(WaveDirection::Output);
    EXPECT_EQ(card.closeOutput(), MMSYSERR_ERROR);
    EXPECT_EQ(card.lastFailure(), "virtual card: the output refuses to close (test fault)");
    const auto elapsed = card.framesElapsed();
    while (card.framesElapsed() == elapsed)
        std::this_thread::sleep_for(1ms);
    card.reset();
    EXPECT_EQ(card.closeOutput(), MMSYSERR_NOERROR);
}

TEST_F(VirtualCardTest, ResetRestoresEveryDefault) {
    card.setDeviceCounts(0, 2);
    card.setClock(VirtualCard::Clock::Fast);
    card.setModel(DeviceModel::IdealWire());
    card.failOperation(WaveOperation::InStart, 1, MMSYSERR_NOMEM);
    card.reset();
    EXPECT_EQ(card.outputDeviceCount(), 1u);
    EXPECT_EQ(card.inputDeviceCount(), 1u);
    EXPECT_EQ(card.model().lowPass.order, DeviceModel::ConsumerCard().lowPass.order);
    EXPECT_EQ(card.injectedFault(WaveOperation::InStart), MMSYSERR_NOERROR);
}

TEST_F(VirtualCardTest, AMonoRunIsTheLeftDeviceSampleForSample) {
    openLoop(DeviceModel::ConsumerCard()); // noise and hum on
    const auto played = noiseLike(5000);
    const auto recorded = playThrough(player, recorder, played, played.size());
    std::vector<std::int16_t> expected(played.size());
    DeviceSimulator(DeviceModel::ConsumerCard())
        .process(played.data(), expected.data(), played.size());
    EXPECT_EQ(recorded, expected);
}

TEST_F(VirtualCardTest, EachChannelOfATwoChannelStreamHasItsOwnGainAndLatency) {
    CardModel model(DeviceModel::IdealWire());
    model.left.latencyFrames = 10;
    model.right.latencyFrames = 30;
    model.right.gainDb = -6.0;
    openLoop(model, Stereo, stereoPlayer, Stereo, stereoRecorder);
    const auto left = noiseLike(5000), right = noiseLike(5000, 777);
    const auto recorded =
        playThrough(stereoPlayer, stereoRecorder, interleaved(left, right), left.size());
    ASSERT_EQ(recorded.size(), 2 * left.size());
    const auto recordedLeft = channelOf(recorded, 0), recordedRight = channelOf(recorded, 1);
    const double rightGain = std::pow(10.0, -6.0 / 20.0);
    for (std::size_t i = 0; i < left.size(); ++i) {
        ASSERT_EQ(recordedLeft[i], i < 10 ? 0 : left[i - 10]) << i;
        ASSERT_EQ(recordedRight[i],
                  i < 30 ? 0 : RecordedSample(right[i - 30] / 32768.0 * rightGain))
            << i;
    }
    EXPECT_NE(card.deviceName(WaveDirection::Input).find("latency=30,left.gain=0,left.latency=10"),
              std::string::npos)
        << card.deviceName(WaveDirection::Input);
}

TEST_F(VirtualCardTest, AMonoOutputPlaysOnBothChannelsAndAMonoInputRecordsTheLeft) {
    CardModel model(DeviceModel::IdealWire());
    model.right.latencyFrames = 5;
    openLoop(model, Mono, player, Stereo, stereoRecorder);
    const auto played = noiseLike(3000);
    const auto recorded = playThrough(player, stereoRecorder, played, played.size());
    const auto recordedLeft = channelOf(recorded, 0), recordedRight = channelOf(recorded, 1);
    ASSERT_EQ(recordedLeft.size(), played.size());
    for (std::size_t i = 0; i < played.size(); ++i) {
        ASSERT_EQ(recordedLeft[i], played[i]) << i;
        ASSERT_EQ(recordedRight[i], i < 5 ? 0 : played[i - 5]) << i;
    }
    ASSERT_EQ(card.closeInput(), MMSYSERR_NOERROR);
    ASSERT_EQ(card.closeOutput(), MMSYSERR_NOERROR);

    Player stereoOutput(2);
    Recorder monoInput;
    openLoop(model, Stereo, stereoOutput, Mono, monoInput);
    const auto left = noiseLike(3000), right = noiseLike(3000, 777);
    EXPECT_EQ(playThrough(stereoOutput, monoInput, interleaved(left, right), left.size()), left);
    // Closed before the clients go: the card's clock calls them until then.
    EXPECT_EQ(card.closeInput(), MMSYSERR_NOERROR);
    EXPECT_EQ(card.closeOutput(), MMSYSERR_NOERROR);
}

// The leak is the driven channel's device output, never filtered by the
// silent channel's device: here a low-pass far below the tone. The leak is
// only some 9 LSB high, and its 16-bit rounding takes 0.05 dB off it.
TEST_F(VirtualCardTest, CrosstalkReachesTheSilentChannelAtItsLevelOrNotAtAll) {
    CardModel model(quiet(DeviceModel::ConsumerCard()));
    model.right.lowPass = {500.0, 4};
    model.crosstalkDb = -70.0;
    openLoop(model, Stereo, stereoPlayer, Stereo, stereoRecorder);
    const std::size_t frames = 44100, settled = 22050;
    std::size_t recordedBefore = 0;
    for (double hz : {997.0, 5003.0}) {
        const auto driven = tone(hz, 0.9, frames);
        const auto recorded = playThrough(stereoPlayer, stereoRecorder,
                                          interleaved(driven, std::vector<std::int16_t>(frames)),
                                          frames, recordedBefore);
        const std::vector<std::int16_t> these(recorded.begin() + 2 * recordedBefore,
                                              recorded.end());
        EXPECT_NEAR(levelDb(channelOf(these, 1), hz, settled) -
                        levelDb(channelOf(these, 0), hz, settled),
                    -70.0, 0.1)
            << hz << " Hz";
        recordedBefore += frames;
    }

    model.crosstalkDb = Off;
    ASSERT_TRUE(card.setCardModel(model));
    const auto recorded =
        playThrough(stereoPlayer, stereoRecorder,
                    interleaved(tone(1000.0, 0.9, frames), std::vector<std::int16_t>(frames)),
                    frames, recordedBefore);
    const auto silent = channelOf(
        std::vector<std::int16_t>(recorded.begin() + 2 * recordedBefore, recorded.end()), 1);
    ASSERT_EQ(silent.size(), frames);
    EXPECT_TRUE(std::all_of(silent.begin(), silent.end(), [](auto s) { return s == 0; }));
}

// Both input channels run on the one input clock: with the same device and no
// noise they record alike, sample for sample.
TEST_F(VirtualCardTest, ADriftingInputRecordsTheToneOffByItsDriftOnBothChannels) {
    for (double ppm : {100.0, 0.0}) {
        CardModel model(quiet(DeviceModel::ConsumerCard()));
        model.driftPpm = ppm;
        Player output;
        Recorder input(2);
        openLoop(model, Mono, output, Stereo, input);
        const std::size_t frames = 2 * 44100 + 4410;
        const auto recorded = playThrough(output, input, tone(1000.0, 0.89, frames), frames);
        const auto left = channelOf(recorded, 0), right = channelOf(recorded, 1);
        EXPECT_EQ(left, right);
        const auto drift = MeasureClockDrift(left, 1000.0, 44100.0);
        ASSERT_TRUE(drift) << ppm;
        EXPECT_NEAR(drift->ppm, ppm, ppm == 0.0 ? 0.5 : 2.0);
        EXPECT_NE(card.deviceName(WaveDirection::Input).find("drift"), ppm == 0.0)
            << card.deviceName(WaveDirection::Input);
        ASSERT_EQ(card.closeInput(), MMSYSERR_NOERROR);
        ASSERT_EQ(card.closeOutput(), MMSYSERR_NOERROR);
    }
}

// The right channel, simulated only once something hears it, starts on the
// input's one clock, not on a clock of its own.
TEST_F(VirtualCardTest, ARightChannelHeardLaterKeepsTheInputsClock) {
    CardModel model(quiet(DeviceModel::ConsumerCard()));
    model.driftPpm = -700.0;
    openLoop(model, Stereo, stereoPlayer, Mono, recorder);
    const std::size_t frames = 44100;
    const auto played = tone(1000.0, 0.5, frames);
    playThrough(stereoPlayer, recorder, interleaved(played, played), frames);
    ASSERT_EQ(card.closeInput(), MMSYSERR_NOERROR);
    ASSERT_EQ(card.openInput(Stereo, stereoRecorder), MMSYSERR_NOERROR);
    ASSERT_EQ(card.startInput(), MMSYSERR_NOERROR);
    const auto recorded =
        playThrough(stereoPlayer, stereoRecorder, interleaved(played, played), frames);
    const auto left = channelOf(recorded, 0), right = channelOf(recorded, 1);
    ASSERT_EQ(right.size(), frames);
    // Once the right channel's filters, started at rest, have settled.
    for (std::size_t i = frames / 2; i < frames; ++i)
        ASSERT_NEAR(left[i], right[i], 1) << i;
}

TEST_F(VirtualCardTest, EachChannelHasNoiseOfItsOwn) {
    openLoop(DeviceModel::ConsumerCard(), Stereo, stereoPlayer, Stereo, stereoRecorder);
    const std::size_t frames = 4410;
    const auto recorded =
        playThrough(stereoPlayer, stereoRecorder, std::vector<std::int16_t>(2 * frames), frames);
    const auto left = channelOf(recorded, 0), right = channelOf(recorded, 1);
    EXPECT_TRUE(std::any_of(left.begin(), left.end(), [](auto s) { return s != 0; }));
    EXPECT_NE(left, right);
}

TEST(FaultPlan, FailsTheNthCallOfItsOperationOnce) {
    FaultPlan plan;
    plan.fail(WaveOperation::OutWrite, 3, MMSYSERR_NOMEM);
    plan.fail(WaveOperation::InClose, 1, MMSYSERR_ERROR);
    EXPECT_EQ(plan.take(WaveOperation::OutWrite), MMSYSERR_NOERROR);
    EXPECT_EQ(plan.take(WaveOperation::OutWrite), MMSYSERR_NOERROR);
    EXPECT_EQ(plan.take(WaveOperation::OutPrepare), MMSYSERR_NOERROR);
    EXPECT_EQ(plan.take(WaveOperation::OutWrite), MMSYSERR_NOMEM);
    EXPECT_EQ(plan.take(WaveOperation::OutWrite), MMSYSERR_NOERROR);
    plan.fail(WaveOperation::InClose, 0, MMSYSERR_ERROR);
    EXPECT_EQ(plan.take(WaveOperation::InClose), MMSYSERR_NOERROR);
}

} // namespace
