#include "audio/Audio.h"
#include "platform/GlobalMemory.h"
#include "platform/MessageBox.h"

#include <gtest/gtest.h>

namespace {

class AudioStateTest : public testing::Test {
  protected:
    void SetUp() override { FftSize = 8192; }
    void TearDown() override {
        FreeAudioBuffers();
        platform::FailGlobalAlloc(0);
    }
    platform::BoxRecorder boxes;
};

} // namespace

TEST_F(AudioStateTest, AllBlocksAreAllocatedWithTheirSizesAndReleasedOnce) {
    const int before = platform::LiveGlobalBlocks();
    ASSERT_EQ(AllocAudioBuffers(), 1);
    EXPECT_EQ(platform::LiveGlobalBlocks(), before + AudioBufferCount);
    for (void* buffer : AudioBuffers)
        EXPECT_NE(buffer, nullptr);
    // The big blocks are usable over their whole length.
    SampleBlock()[FftSize - 1] = 1.0;
    Spectrum()[FftSize / 2 - 1] = 1.0;
    PlaybackBuffer(3)[FftSize - 1] = 1;
    CaptureBuffer(1)[FftSize - 1] = 1;

    FreeAudioBuffers();
    FreeAudioBuffers(); // harmless the second time
    EXPECT_EQ(platform::LiveGlobalBlocks(), before);
    for (void* buffer : AudioBuffers)
        EXPECT_EQ(buffer, nullptr);
    EXPECT_TRUE(boxes.boxes().empty());
}

TEST_F(AudioStateTest, FailedAllocationNamesItsIndexAndReleasesTheRest) {
    const int before = platform::LiveGlobalBlocks();
    platform::FailGlobalAlloc(8); // the eighth block: index 7, SampleBlock
    EXPECT_EQ(AllocAudioBuffers(), 0);
    EXPECT_EQ(platform::LiveGlobalBlocks(), before);
    for (void* buffer : AudioBuffers)
        EXPECT_EQ(buffer, nullptr);
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, "Нет памяти для буфера 7");
    EXPECT_EQ(boxes.boxes()[0].title, "Orvex error");
    EXPECT_EQ(boxes.boxes()[0].style, MB_OK);
}

TEST_F(AudioStateTest, DeviceErrorBoxesUseTheLayersTextOrUnknownError) {
    ShowWaveOutError(MMSYSERR_NOMEM);
    ShowWaveInError(12345);
    ASSERT_EQ(boxes.boxes().size(), 2u);
    EXPECT_EQ(boxes.boxes()[0].title, "Multimedia out error");
    EXPECT_EQ(boxes.boxes()[0].style, MB_ICONERROR);
    EXPECT_NE(boxes.boxes()[0].text, "Unknown Error");
    EXPECT_FALSE(boxes.boxes()[0].text.empty());
    EXPECT_EQ(boxes.boxes()[1].title, "Multimedia in error");
    EXPECT_EQ(boxes.boxes()[1].text, "Unknown Error");
}
