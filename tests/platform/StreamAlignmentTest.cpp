// Where the output's frames stand on the input's clock, from the times at
// which a card with two separate streams says its blocks leave and enter
// it: the arithmetic alone, and the device layer's playback headers on a
// card that times its blocks as the test says.
#include "platform/StreamAlignment.h"
#include "tests/platform/WaveAudioHarness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <string>
#include <vector>

namespace {

// Times in frames, as the alignment takes them: a second is 44100.
constexpr double Second = 44100;

// A card's two streams as the alignment hears them: input position p enters
// the card at inputStart + p, output frame f leaves it at outputStart + f,
// each stretched by `drift` where the card's clock runs apart from the
// timing clock. The output frame leaves when the input stands at
// (outputStart + f - inputStart) / (1 + drift)... for f counted from the
// same moment; `offset()` is that position less f.
struct TwoStreams {
    double inputStart = 1000.3 * Second;
    double outputStart = 1000.0 * Second + 12345.4;
    double drift = 0;

    double inputTime(std::uint64_t p) const { return inputStart + p * (1 + drift); }
    double outputTime(std::uint64_t f) const { return outputStart + f * (1 + drift); }
    std::int64_t offset() const { return std::llround((outputStart - inputStart) / (1 + drift)); }
};

// Both directions in blocks of `frames`, the output called first, from the
// input's position `input` and the output's frame `output` on, for `blocks`
// blocks; `inputError` adds to each input block's time.
struct Streaming {
    StreamAlignment& alignment;
    const TwoStreams& streams;
    std::uint64_t input = 0;
    std::uint64_t output = 0;

    void run(int blocks, std::size_t frames, double inputError = 0) {
        for (int k = 0; k < blocks; ++k) {
            alignment.outputLeaves(output, frames, streams.outputTime(output));
            output += frames;
            alignment.inputEntered(input, frames, streams.inputTime(input) + inputError);
            input += frames;
        }
    }
};

std::optional<std::int64_t> offsetOf(const StreamAlignment& alignment, std::uint64_t frame) {
    const std::optional<std::uint64_t> position = alignment.inputPositionOf(frame);
    if (!position)
        return std::nullopt;
    return static_cast<std::int64_t>(*position) - static_cast<std::int64_t>(frame);
}

TEST(StreamAlignment, ExactTimesGiveThePositionAtWhichAnOutputFrameLeaves) {
    StreamAlignment alignment;
    const TwoStreams streams;
    // The output alone says nothing: there is no input to stand on.
    alignment.outputLeaves(0, 1024, streams.outputTime(0));
    EXPECT_FALSE(alignment.inputPositionOf(0));

    Streaming{alignment, streams, 0, 1024}.run(30, 1024);
    ASSERT_EQ(offsetOf(alignment, 40000), streams.offset());
    EXPECT_EQ(alignment.inputPositionOf(40000), 40000 + streams.offset());
    // A frame that leaves before the input's first has no position.
    EXPECT_FALSE(alignment.inputPositionOf(0));
}

// A sound server's ALSA plugin times a short block that follows a long one
// at once some 180 frames late; the median by frames goes by the long ones.
TEST(StreamAlignment, TheServersBadlyTimedShortBlocksDoNotMoveIt) {
    StreamAlignment alignment;
    const TwoStreams streams;
    std::uint64_t input = 0, output = 0;
    for (int k = 0; k < 20; ++k) {
        alignment.outputLeaves(output, 1653, streams.outputTime(output));
        output += 1653;
        alignment.inputEntered(input, 1653, streams.inputTime(input));
        input += 1653;
        alignment.inputEntered(input, 110, streams.inputTime(input) - 185);
        input += 110;
    }
    EXPECT_EQ(offsetOf(alignment, output), streams.offset());
}

// Until a quarter second of each direction was timed, every block refines
// it; from then on it holds, however the times wander, so that every
// recording made meanwhile finds the same delay.
TEST(StreamAlignment, SettlesOnAQuarterSecondAndThenHolds) {
    StreamAlignment alignment;
    const TwoStreams streams;
    Streaming streaming{alignment, streams, 0, 0};
    // The output is called first: it takes the input's first block, timed
    // 60 frames late, with its second.
    streaming.run(2, 1024, 60);
    EXPECT_EQ(offsetOf(alignment, 5000), streams.offset() - 60);

    streaming.run(11, 1024); // 12 blocks each way: past a quarter second
    const std::optional<std::int64_t> settled = offsetOf(alignment, 5000);
    EXPECT_EQ(settled, streams.offset());
    streaming.run(40, 1024, 150);
    EXPECT_EQ(offsetOf(alignment, streaming.output), settled);
}

TEST(StreamAlignment, ARestartLearnsAfreshFromTheTimesThatFollowIt) {
    StreamAlignment alignment;
    TwoStreams streams;
    Streaming streaming{alignment, streams, 0, 0};
    streaming.run(20, 1024);
    ASSERT_EQ(offsetOf(alignment, streaming.output), streams.offset());

    // Frames lost on the way in: the input's count now stands 500 lower
    // at every time. A block timed before the restart and taken after it
    // does not count.
    alignment.inputEntered(streaming.input, 1024, streams.inputTime(streaming.input));
    alignment.restart();
    EXPECT_FALSE(alignment.inputPositionOf(streaming.output));
    streams.inputStart += 500;
    streaming.run(20, 1024);
    EXPECT_EQ(offsetOf(alignment, streaming.output), streams.offset());
}

// A card's clock 200 ppm apart from the timing clock moves both
// directions' offsets alike, 9 frames a second. The output, running two
// seconds before the input started, counts only from the input's first
// block on, or the two medians would describe different moments.
TEST(StreamAlignment, ACardClockThatDriftsMovesBothDirectionsAlike) {
    StreamAlignment alignment;
    TwoStreams streams;
    streams.drift = 200e-6;
    streams.inputStart += 2 * Second; // the input starts at output frame 2 s
    Streaming streaming{alignment, streams, 0, 0};
    for (; streaming.output < 2 * Second; streaming.output += 1024)
        alignment.outputLeaves(streaming.output, 1024, streams.outputTime(streaming.output));
    streaming.run(20, 1024);
    const std::optional<std::int64_t> offset = offsetOf(alignment, streaming.output);
    ASSERT_TRUE(offset);
    EXPECT_NEAR(static_cast<double>(*offset), static_cast<double>(streams.offset()), 1);
}

// A card whose two directions are streams of its own, as PortAudio's are,
// called by the test, which plays the part of both audio threads and says
// when each block leaves or enters the card.
class TimedCard : public SoundCard {
  public:
    UINT outputDeviceCount() override { return 1; }
    UINT inputDeviceCount() override { return 1; }
    MMRESULT openOutput(const WAVEFORMATEX&, StreamClient& client) override {
        m_output = &client;
        return MMSYSERR_NOERROR;
    }
    MMRESULT closeOutput() override { return MMSYSERR_NOERROR; }
    MMRESULT openInput(const WAVEFORMATEX&, StreamClient& client) override {
        m_input = &client;
        return MMSYSERR_NOERROR;
    }
    MMRESULT startInput() override { return MMSYSERR_NOERROR; }
    MMRESULT stopInput() override { return MMSYSERR_NOERROR; }
    MMRESULT closeInput() override { return MMSYSERR_NOERROR; }
    std::string deviceName(WaveDirection) const override { return "timed"; }
    std::string lastFailure() const override { return ""; }

    void play(std::size_t frames, double seconds) {
        std::vector<std::int16_t> samples(frames);
        m_output->blockTimed(seconds, frames);
        m_output->render(samples.data(), frames);
    }
    void record(std::size_t frames, double seconds) {
        const std::vector<std::int16_t> samples(frames);
        m_input->blockTimed(seconds, frames);
        m_input->capture(samples.data(), frames);
    }

  private:
    StreamClient* m_output = nullptr;
    StreamClient* m_input = nullptr;
};

class TimedCardTest : public WaveAudioTest {
  protected:
    static constexpr std::size_t Block = 1024;
    // How long before a block leaves the card the output is called, and
    // how long after a block entered it the input is.
    static constexpr double OutputAhead = 0.2, InputBehind = 0.05;

    void SetUp() override {
        WaveAudioTest::SetUp();
        platform::UseSoundCard(timed, platform::AudioBackend::System);
    }

    // The input's position of the frame that enters the card at `seconds`,
    // from the stamp of a buffer that records the frames before it.
    std::uint64_t inputPositionAt(double seconds) {
        Buffer& before = buffer(256);
        EXPECT_EQ(add(before), MMSYSERR_NOERROR);
        timed.record(256, seconds - 256 / Second);
        return heardBack(before).position + 256;
    }

    // From `now` on, block by block: the output's, then the input's. The
    // position at which the first frame of `played` leaves the card.
    std::uint64_t playAndRecord(double now, Buffer& played) {
        EXPECT_EQ(write(played), MMSYSERR_NOERROR);
        for (int k = 0; k < 43; ++k, now += Block / Second) {
            timed.play(Block, now + OutputAhead);
            timed.record(Block, now - InputBehind);
        }
        return heardBack(played).position;
    }

    // The notification that returned `buffer`, once the owner heard it.
    Notification heardBack(Buffer& buffer) {
        const auto returned = [&](const Notification& n) { return n.header == &buffer.header; };
        const std::vector<Notification> heard =
            log.waitUntil([&](const auto& h) { return std::any_of(h.begin(), h.end(), returned); });
        const auto found = std::find_if(heard.begin(), heard.end(), returned);
        EXPECT_NE(found, heard.end()) << "the buffer did not come back";
        return found == heard.end() ? Notification{} : *found;
    }

    TimedCard timed;
};

// The header is stamped when the output is called for it, 0.2 s before it
// leaves the card, while the input has taken in what entered the card up to
// 0.05 s before: the stamp says where the input stands when the header's
// first frame leaves the card, not how far it had counted when the output
// was called.
TEST_F(TimedCardTest, APlaybackHeaderSaysWhereTheInputStandsWhenItsFirstFrameLeaves) {
    ASSERT_EQ(openOut(), MMSYSERR_NOERROR);
    ASSERT_EQ(openIn(), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInStart(in), MMSYSERR_NOERROR);
    constexpr double Now = 100.0;
    const std::uint64_t leaving = inputPositionAt(Now + OutputAhead);
    Buffer& played = buffer(512);
    EXPECT_EQ(playAndRecord(Now, played), leaving);
}

// While the input stood still the output played on: when it starts again,
// the input's count and the output's stand apart by a second more.
TEST_F(TimedCardTest, StartingTheInputAgainPairsTheStreamsAnew) {
    ASSERT_EQ(openOut(), MMSYSERR_NOERROR);
    ASSERT_EQ(openIn(), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInStart(in), MMSYSERR_NOERROR);
    double now = 100.0;
    inputPositionAt(now);
    Buffer& first = buffer(512);
    playAndRecord(now, first);
    now += 43 * Block / Second;

    ASSERT_EQ(waveInReset(in), MMSYSERR_NOERROR);
    for (int k = 0; k < 43; ++k, now += Block / Second)
        timed.play(Block, now + OutputAhead);
    const std::uint64_t pairings = platform::StreamPairings();
    ASSERT_EQ(waveInStart(in), MMSYSERR_NOERROR);
    EXPECT_GT(platform::StreamPairings(), pairings);
    const std::uint64_t leaving = inputPositionAt(now + OutputAhead);
    Buffer& next = buffer(512);
    EXPECT_EQ(playAndRecord(now, next), leaving);
}

} // namespace
