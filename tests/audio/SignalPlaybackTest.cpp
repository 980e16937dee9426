// A signal played once in place of the tone: the playback thread's fill, the
// hand-over of the samples between requester and playback thread, and where
// the signal started.
#include "audio/Audio.h"
#include "audio/SignalCursor.h"
#include "audio/SoundOut.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <vector>

namespace {

using Samples = std::vector<std::int16_t>;

Samples ramp(std::size_t count, std::int16_t first) {
    Samples samples(count);
    std::iota(samples.begin(), samples.end(), first);
    return samples;
}

Samples fill(SignalCursor& cursor, std::size_t count, SignalCursor::Filled& filled) {
    Samples buffer(count, -1);
    filled = cursor.Fill(buffer.data(), count);
    buffer.resize(filled.frames);
    return buffer;
}

TEST(SignalCursorTest, WritesTheLeadInTheSignalAndTheMarginAcrossBuffers) {
    const Samples signal{1, 2, 3};
    SignalCursor cursor;
    cursor.Start({signal, 5, 5});
    SignalCursor::Filled filled;

    EXPECT_EQ(fill(cursor, 4, filled), (Samples{0, 0, 0, 0}));
    EXPECT_FALSE(filled.signalStart);
    EXPECT_FALSE(filled.signalWritten);
    EXPECT_EQ(fill(cursor, 4, filled), (Samples{0, 1, 2, 3}));
    EXPECT_EQ(filled.signalStart, 1u);
    EXPECT_TRUE(filled.signalWritten);
    EXPECT_TRUE(cursor.Active());
    EXPECT_EQ(fill(cursor, 4, filled), (Samples{0, 0, 0, 0}));
    EXPECT_FALSE(filled.signalStart);
    EXPECT_EQ(fill(cursor, 4, filled), (Samples{0}));
    EXPECT_FALSE(cursor.Active());
}

TEST(SignalCursorTest, PlaysOnTheChosenChannelOnlyAndTheOtherStaysSilent) {
    const Samples signal{7, 8};
    for (const int channel : {0, 1}) {
        SignalCursor cursor;
        cursor.Start({signal, 1, 1, channel});
        Samples buffer(8, -1);
        ASSERT_EQ(cursor.Fill(buffer.data(), 4, 2).frames, 4u);
        const Samples expected =
            channel == 0 ? Samples{0, 0, 7, 0, 8, 0, 0, 0} : Samples{0, 0, 0, 7, 0, 8, 0, 0};
        EXPECT_EQ(buffer, expected) << channel;
    }
    SignalCursor both;
    both.Start({signal, 0, 0});
    Samples buffer(4, -1);
    both.Fill(buffer.data(), 2, 2);
    EXPECT_EQ(buffer, (Samples{7, 7, 8, 8}));
}

class SignalPlaybackTest : public testing::Test {
  protected:
    void SetUp() override {
        FftSize = 64;
        FullScale = 32768.0;
        GenPeriod = 10.0;
        GenPhase = 0.0;
        for (int k = 0; k < 2; ++k) {
            buffers[k].assign(FftSize, 0);
            headers[k].lpData = reinterpret_cast<char*>(buffers[k].data());
            headers[k].dwBufferLength = static_cast<DWORD>(FftSize * 2);
        }
    }
    void TearDown() override { QueuedSignal.Finish(ThreadIdentity()); }

    CSoundOut generator;
    Samples buffers[2];
    WAVEHDR headers[2]{};
};

TEST_F(SignalPlaybackTest, WithoutASignalTheBufferHoldsTheToneAsBefore) {
    Samples tone(FftSize);
    generator.FillToneBuffer(tone.data());
    GenPhase = 0.0;
    generator.FillBuffer(&headers[0]);
    EXPECT_EQ(buffers[0], tone);
}

TEST_F(SignalPlaybackTest, TheSignalPlaysOnceAndTheToneResumesAtItsLevelAndPhase) {
    generator.OnSetTestLevel(static_cast<WPARAM>(0.1 * TestLevelScale), 0);
    generator.FillBuffer(&headers[0]);
    const double phaseBefore = GenPhase;
    const Samples signal = ramp(60, 1000);
    ASSERT_TRUE(QueuedSignal.Queue({signal, 20, 30}));
    generator.OnPlaySignal(0, 0);

    generator.FillBuffer(&headers[0]);
    Samples expected(20, 0);
    expected.insert(expected.end(), signal.begin(), signal.begin() + 44);
    EXPECT_EQ(buffers[0], expected);
    generator.FillBuffer(&headers[1]);
    // 16 more signal samples, 30 of silence, and the tone from where it stood.
    EXPECT_TRUE(std::equal(signal.begin() + 44, signal.end(), buffers[1].begin()));
    EXPECT_TRUE(std::all_of(buffers[1].begin() + 16, buffers[1].begin() + 46,
                            [](std::int16_t s) { return s == 0; }));
    double phase = phaseBefore;
    for (int i = 46; i < FftSize; ++i) {
        phase = std::fmod(phase + TwoPi / 10.0, TwoPi);
        ASSERT_EQ(buffers[1][i], std::lround(std::sin(phase) * 32767 * 0.1)) << i;
    }
    // Once only.
    generator.FillBuffer(&headers[0]);
    EXPECT_GT(*std::max_element(buffers[0].begin(), buffers[0].end()), 3000);
}

TEST_F(SignalPlaybackTest, OneSignalAtATimeAndAWithdrawnOneIsNeverPlayed) {
    const Samples signal = ramp(8, 1);
    ASSERT_TRUE(QueuedSignal.Queue({signal, 0, 8}));
    EXPECT_FALSE(QueuedSignal.Queue({signal, 0, 8}));
    QueuedSignal.Finish(ThreadIdentity());
    generator.OnPlaySignal(0, 0);
    generator.FillBuffer(&headers[0]);
    EXPECT_NE(buffers[0][0], 1);
    EXPECT_TRUE(QueuedSignal.Queue({signal, 0, 8}));
}

TEST_F(SignalPlaybackTest, AStartHeardLateFromAnEarlierSignalSaysNothingOfTheQueuedOne) {
    const Samples signal = ramp(8, 1);
    SignalPlayback::Program program;
    std::uint64_t first = 0, second = 0;
    ASSERT_TRUE(QueuedSignal.Queue({signal, 0, 8}));
    EXPECT_FALSE(QueuedSignal.StartPosition());
    ASSERT_TRUE(QueuedSignal.Take(program, first));
    QueuedSignal.LetGo();
    QueuedSignal.Finish(ThreadIdentity());
    ASSERT_TRUE(QueuedSignal.Queue({signal, 0, 8}));
    // A start heard late from the signal before says nothing of this one.
    QueuedSignal.Started(first, 500);
    EXPECT_FALSE(QueuedSignal.StartPosition());
    ASSERT_TRUE(QueuedSignal.Take(program, second));
    QueuedSignal.Started(second, 1234);
    EXPECT_EQ(QueuedSignal.StartPosition(), 1234u);
}

} // namespace
