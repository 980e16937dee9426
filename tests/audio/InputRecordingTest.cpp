// The recording the capture thread makes of a played signal, fed with
// capture blocks as the device layer returns them: stamped with the input's
// clock and, after lost frames, marked.
#include "audio/InputRecording.h"
#include "audio/Audio.h"
#include "platform/WaveDevice.h"

#include <gtest/gtest.h>

#include <deque>
#include <numeric>
#include <vector>

namespace {

constexpr int Frames = 16; // per block

// A returned capture block whose samples are their own input positions
// (modulo 2^15), as the layer stamps and marks it.
struct Block {
    Block(std::uint64_t position, bool gap = false) : samples(Frames) {
        std::iota(samples.begin(), samples.end(), static_cast<std::int16_t>(position % 32768));
        header.lpData = reinterpret_cast<char*>(samples.data());
        header.dwBufferLength = header.dwBytesRecorded = Frames * 2;
        header.reserved = static_cast<std::uintptr_t>(position << HeaderPositionShift) |
                          (gap ? HeaderGapMark : 0);
    }
    std::vector<std::int16_t> samples;
    WAVEHDR header{};
};

class InputRecordingTest : public testing::Test {
  public:
    void SetUp() override { FftSize = Frames; }

    // Blocks from position 1000 on, one after the other.
    void append(std::optional<std::uint64_t> signalStart, InputRecording::StreamBreaks breaks = {},
                bool gap = false) {
        const Block& block = blocks.emplace_back(next, gap);
        recording.Append(block.header, signalStart, breaks);
        next += Frames;
    }

    InputRecording recording;
    std::deque<Block> blocks;
    std::uint64_t next = 1000;
};

TEST_F(InputRecordingTest, HoldsTheFramesBeforeAndAfterTheSignalsStart) {
    recording.Request(4, 40, {});
    EXPECT_TRUE(recording.Requested());
    append(std::nullopt);
    append(std::nullopt);
    append(1010);
    EXPECT_FALSE(recording.Finished()); // up to 1048, not yet 1010 + 40
    append(1010);
    ASSERT_TRUE(recording.Finished());
    EXPECT_FALSE(recording.Requested());
    append(1010); // ignored

    const InputRecording::Result result = recording.Take();
    EXPECT_EQ(result.gap, InputRecording::Gap::None);
    EXPECT_EQ(result.signalStart, 4u);
    std::vector<std::int16_t> expected(44);
    std::iota(expected.begin(), expected.end(), std::int16_t{1006});
    EXPECT_EQ(result.samples, expected);
}

TEST_F(InputRecordingTest, TwoChannelBlocksAreRecordedAsFramesAndTakenApartByChannel) {
    // A block's samples hold half as many frames of two channels.
    constexpr std::uint64_t FramesPerBlock = Frames / 2;
    recording.Request(2, 10, {}, 2);
    for (std::uint64_t position = 1000; !recording.Finished(); position += FramesPerBlock) {
        const Block& block = blocks.emplace_back(position);
        recording.Append(block.header, 1004, {});
    }
    const InputRecording::Result result = recording.Take();
    ASSERT_EQ(result.gap, InputRecording::Gap::None);
    EXPECT_EQ(result.channels, 2);
    EXPECT_EQ(result.signalStart, 2u);
    std::vector<std::int16_t> left, right;
    for (std::uint64_t frame = 1002; frame < 1014; ++frame) {
        const std::uint64_t blockStart = frame - (frame - 1000) % FramesPerBlock;
        left.push_back(static_cast<std::int16_t>(blockStart + 2 * (frame - blockStart)));
        right.push_back(static_cast<std::int16_t>(left.back() + 1));
    }
    EXPECT_EQ(ChannelSamples(result.samples, 2, 0), left);
    EXPECT_EQ(ChannelSamples(result.samples, 2, 1), right);
}

TEST_F(InputRecordingTest, ACancelledRecordingTakesNoMoreBlocks) {
    recording.Request(0, 100, {});
    append(std::nullopt);
    recording.Cancel();
    EXPECT_FALSE(recording.Requested());
    append(1000);
    EXPECT_FALSE(recording.Finished());
}

struct GapCase {
    const char* name;
    std::size_t framesBefore, framesAfter;
    void (*feed)(InputRecordingTest& test);
    InputRecording::Gap gap;
};

class RecordingGapTest : public InputRecordingTest, public testing::WithParamInterface<GapCase> {};

TEST_P(RecordingGapTest, EndsTheRecordingAtOnceAndSaysWhy) {
    recording.Request(GetParam().framesBefore, GetParam().framesAfter, {});
    GetParam().feed(*this);
    ASSERT_TRUE(recording.Finished());
    EXPECT_FALSE(recording.Requested());
    EXPECT_EQ(recording.Take().gap, GetParam().gap);
    EXPECT_FALSE(GapText(GetParam().gap).empty());
}

INSTANTIATE_TEST_SUITE_P(EachCause, RecordingGapTest,
                         testing::Values(GapCase{"LostFramesMarked", 0, 1000,
                                                 [](InputRecordingTest& t) {
                                                     t.append(std::nullopt);
                                                     t.append(std::nullopt, {}, true);
                                                 },
                                                 InputRecording::Gap::LostFrames},
                                         GapCase{"ABlockThatDoesNotFollowOn", 0, 1000,
                                                 [](InputRecordingTest& t) {
                                                     t.append(std::nullopt);
                                                     t.next += 5;
                                                     t.append(std::nullopt);
                                                 },
                                                 InputRecording::Gap::LostFrames},
                                         GapCase{"AnOutputThatRanDry", 0, 1000,
                                                 [](InputRecordingTest& t) {
                                                     t.append(std::nullopt);
                                                     t.append(std::nullopt, {1, 0});
                                                 },
                                                 InputRecording::Gap::OutputRanDry},
                                         GapCase{"AReopenedStream", 0, 1000,
                                                 [](InputRecordingTest& t) {
                                                     t.append(std::nullopt, {0, 1});
                                                 },
                                                 InputRecording::Gap::StreamReopened},
                                         GapCase{"NoRoomLeftBeforeTheStartIsKnown", 0, 16,
                                                 [](InputRecordingTest& t) {
                                                     while (!t.recording.Finished() &&
                                                            t.next < 100000)
                                                         t.append(std::nullopt);
                                                 },
                                                 InputRecording::Gap::Incomplete},
                                         GapCase{"AStartWithoutTheFramesBeforeIt", 4, 16,
                                                 [](InputRecordingTest& t) { t.append(1002); },
                                                 InputRecording::Gap::Incomplete}),
                         [](const testing::TestParamInfo<GapCase>& info) {
                             return std::string(info.param.name);
                         });

} // namespace
