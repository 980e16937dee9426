// The waveform device layer on the virtual card, seen from a thread that
// owns the devices and records every notification that reaches its queue.
#include "tests/platform/WaveAudioHarness.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

namespace {

TEST_F(WaveAudioTest, OpenAndCloseNotifyTheOwningThread) {
    ASSERT_EQ(openOut(), MMSYSERR_NOERROR);
    ASSERT_EQ(openIn(), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInClose(in), MMSYSERR_NOERROR);
    const auto heard = log.waitFor(4);
    ASSERT_EQ(heard.size(), 4u);
    for (const Notification& n : heard) {
        EXPECT_TRUE(n.onOwnerThread);
        EXPECT_EQ(n.header, nullptr);
    }
    EXPECT_EQ(messagesOf(out, heard), (std::vector<UINT>{MM_WOM_OPEN, MM_WOM_CLOSE}));
    EXPECT_EQ(messagesOf(in, heard), (std::vector<UINT>{MM_WIM_OPEN, MM_WIM_CLOSE}));
    out = nullptr, in = nullptr;
}

TEST_F(WaveAudioTest, WrittenBuffersPlayInOrderIntoTheQueuedInputBuffers) {
    ASSERT_EQ(openIn(), MMSYSERR_NOERROR);
    ASSERT_EQ(openOut(), MMSYSERR_NOERROR);
    Buffer* played[] = {&buffer(ramp(1000, -3000)), &buffer(ramp(3000, 100)),
                        &buffer(ramp(700, 9000))};
    Buffer* recorded[] = {&buffer(2500), &buffer(2200)};
    for (Buffer* b : recorded)
        ASSERT_EQ(add(*b), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInStart(in), MMSYSERR_NOERROR);
    for (Buffer* b : played)
        ASSERT_EQ(write(*b), MMSYSERR_NOERROR);

    const auto heard = log.waitFor(7);
    const auto outHeard = of(out, heard), inHeard = of(in, heard);
    ASSERT_EQ(messages(outHeard),
              (std::vector<UINT>{MM_WOM_OPEN, MM_WOM_DONE, MM_WOM_DONE, MM_WOM_DONE}));
    ASSERT_EQ(messages(inHeard), (std::vector<UINT>{MM_WIM_OPEN, MM_WIM_DATA, MM_WIM_DATA}));
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(outHeard[k + 1].header, &played[k]->header);
        EXPECT_EQ(outHeard[k + 1].flags, WHDR_PREPARED | WHDR_DONE);
    }
    for (int k = 0; k < 2; ++k) {
        EXPECT_EQ(inHeard[k + 1].header, &recorded[k]->header);
        EXPECT_EQ(inHeard[k + 1].flags, WHDR_PREPARED | WHDR_DONE);
        EXPECT_EQ(inHeard[k + 1].bytesRecorded, recorded[k]->header.dwBufferLength);
    }

    std::vector<std::int16_t> sent, received;
    for (const Buffer* b : played)
        sent.insert(sent.end(), b->samples.begin(), b->samples.end());
    for (const Buffer* b : recorded)
        received.insert(received.end(), b->samples.begin(), b->samples.end());
    EXPECT_EQ(received, sent);
}

// The input's clock stamps the headers of both directions: a sample played
// at a position is recorded at that position plus the wire's delay, also
// where a buffer begins inside one of the card's periods.
TEST_F(WaveAudioTest, HeadersTellWhereAPlayedSampleIsRecorded) {
    DeviceModel wire = DeviceModel::IdealWire();
    wire.latencyFrames = 37;
    ASSERT_TRUE(card.setModel(wire));
    ASSERT_EQ(openIn(), MMSYSERR_NOERROR);
    ASSERT_EQ(openOut(), MMSYSERR_NOERROR);
    Buffer* played[] = {&buffer(ramp(1000, -3000)), &buffer(ramp(3000, 100)),
                        &buffer(ramp(700, 9000))};
    Buffer* recorded[] = {&buffer(2500), &buffer(2200)};
    for (Buffer* b : recorded)
        ASSERT_EQ(add(*b), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInStart(in), MMSYSERR_NOERROR);
    for (Buffer* b : played)
        ASSERT_EQ(write(*b), MMSYSERR_NOERROR);

    const auto heard = log.waitFor(7);
    const auto outHeard = of(out, heard), inHeard = of(in, heard);
    ASSERT_EQ(outHeard.size(), 4u);
    ASSERT_EQ(inHeard.size(), 3u);
    const std::uint64_t first = inHeard[1].position;
    EXPECT_EQ(inHeard[2].position, first + 2500);
    std::vector<std::int16_t> received = recorded[0]->samples;
    received.insert(received.end(), recorded[1]->samples.begin(), recorded[1]->samples.end());

    std::size_t compared = 0;
    for (int b = 0; b < 3; ++b) {
        const std::uint64_t start = outHeard[b + 1].position + wire.latencyFrames;
        ASSERT_GE(start, first);
        for (std::size_t k = 0; k < played[b]->samples.size(); ++k) {
            if (start + k >= first + received.size())
                break;
            ASSERT_EQ(received[start + k - first], played[b]->samples[k]) << b << ", " << k;
            ++compared;
        }
    }
    EXPECT_EQ(compared, received.size() - wire.latencyFrames);
}

TEST_F(WaveAudioTest, InputRecordsNothingBeforeItIsStarted) {
    ASSERT_EQ(openIn(), MMSYSERR_NOERROR);
    ASSERT_EQ(openOut(), MMSYSERR_NOERROR);
    Buffer &recorded = buffer(500), &before = buffer(ramp(800, 1)),
           &after = buffer(ramp(500, 5000));
    ASSERT_EQ(add(recorded), MMSYSERR_NOERROR);
    ASSERT_EQ(write(before), MMSYSERR_NOERROR);
    log.waitFor(3); // both opens and the first buffer played
    ASSERT_EQ(waveInStart(in), MMSYSERR_NOERROR);
    ASSERT_EQ(write(after), MMSYSERR_NOERROR);
    EXPECT_EQ(messagesOf(in, log.waitFor(5)), (std::vector<UINT>{MM_WIM_OPEN, MM_WIM_DATA}));
    EXPECT_EQ(recorded.samples, after.samples);
}

TEST_F(WaveAudioTest, OutputResetReturnsEveryQueuedBufferInOrder) {
    // The input has room for 1000 frames only, so the fast clock holds the
    // output there.
    ASSERT_EQ(openIn(), MMSYSERR_NOERROR);
    ASSERT_EQ(openOut(), MMSYSERR_NOERROR);
    Buffer& recorded = buffer(1000);
    Buffer* played[] = {&buffer(4096), &buffer(4096), &buffer(4096)};
    ASSERT_EQ(add(recorded), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInStart(in), MMSYSERR_NOERROR);
    for (Buffer* b : played)
        ASSERT_EQ(write(*b), MMSYSERR_NOERROR);
    log.waitFor(3); // the opens and the full input buffer
    EXPECT_EQ(waveOutClose(out), WAVERR_STILLPLAYING);
    EXPECT_EQ(waveOutUnprepareHeader(out, &played[1]->header, sizeof(WAVEHDR)),
              WAVERR_STILLPLAYING);
    EXPECT_EQ(waveOutWrite(out, &played[2]->header, sizeof(WAVEHDR)), WAVERR_STILLPLAYING);

    ASSERT_EQ(waveOutReset(out), MMSYSERR_NOERROR);
    for (Buffer* b : played)
        EXPECT_EQ(b->header.dwFlags, WHDR_PREPARED | WHDR_DONE);
    ASSERT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
    const auto outHeard = of(out, log.waitFor(7));
    ASSERT_EQ(messages(outHeard), (std::vector<UINT>{MM_WOM_OPEN, MM_WOM_DONE, MM_WOM_DONE,
                                                     MM_WOM_DONE, MM_WOM_CLOSE}));
    for (int k = 0; k < 3; ++k)
        EXPECT_EQ(outHeard[k + 1].header, &played[k]->header);
    out = nullptr;
}

TEST_F(WaveAudioTest, InputResetReturnsBuffersWithWhatTheyHold) {
    // 1000 frames are played, then the fast clock waits for more output.
    ASSERT_EQ(openIn(), MMSYSERR_NOERROR);
    ASSERT_EQ(openOut(), MMSYSERR_NOERROR);
    Buffer* recorded[] = {&buffer(4096), &buffer(4096)};
    Buffer& played = buffer(ramp(1000, 7));
    for (Buffer* b : recorded)
        ASSERT_EQ(add(*b), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInStart(in), MMSYSERR_NOERROR);
    ASSERT_EQ(write(played), MMSYSERR_NOERROR);
    log.waitFor(3);
    EXPECT_EQ(waveInClose(in), WAVERR_STILLPLAYING);
    ASSERT_EQ(waveInReset(in), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInClose(in), MMSYSERR_NOERROR);

    const auto inHeard = of(in, log.waitFor(6));
    ASSERT_EQ(messages(inHeard),
              (std::vector<UINT>{MM_WIM_OPEN, MM_WIM_DATA, MM_WIM_DATA, MM_WIM_CLOSE}));
    EXPECT_EQ(inHeard[1].header, &recorded[0]->header);
    EXPECT_EQ(inHeard[1].bytesRecorded, 2000u);
    EXPECT_EQ(inHeard[2].bytesRecorded, 0u);
    EXPECT_TRUE(
        std::equal(played.samples.begin(), played.samples.end(), recorded[0]->samples.begin()));
    in = nullptr;
}

TEST_F(WaveAudioTest, CallsRefuseWhatIsNotSound) {
    HWAVEOUT second = nullptr;
    WAVEFORMATEX format = Mono;
    EXPECT_EQ(waveOutOpen(nullptr, WAVE_MAPPER, &Mono, owner, 0, CALLBACK_THREAD),
              MMSYSERR_INVALPARAM);
    EXPECT_EQ(waveOutOpen(&out, 1, &Mono, owner, 0, CALLBACK_THREAD), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(waveOutOpen(&out, WAVE_MAPPER, nullptr, owner, 0, CALLBACK_THREAD),
              MMSYSERR_INVALPARAM);
    EXPECT_EQ(waveOutOpen(&out, WAVE_MAPPER, &Mono, owner, 0, 0), MMSYSERR_INVALFLAG);
    EXPECT_EQ(waveOutOpen(&out, WAVE_MAPPER, &Mono, 0, 0, CALLBACK_THREAD), MMSYSERR_INVALPARAM);
    for (auto change : std::vector<std::function<void(WAVEFORMATEX&)>>{
             [](WAVEFORMATEX& f) { f.wFormatTag = 3; },
             [](WAVEFORMATEX& f) { f.wBitsPerSample = 8; },
             [](WAVEFORMATEX& f) { f.nBlockAlign = 4; },
             [](WAVEFORMATEX& f) { f.nAvgBytesPerSec = 44100; },
             [](WAVEFORMATEX& f) { f.nChannels = 0; }}) {
        format = Mono;
        change(format);
        EXPECT_EQ(waveOutOpen(&out, WAVE_MAPPER, &format, owner, 0, CALLBACK_THREAD),
                  WAVERR_BADFORMAT);
    }
    EXPECT_EQ(out, nullptr);

    ASSERT_EQ(waveOutOpen(&out, 0, &Mono, owner, 0, CALLBACK_THREAD), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutOpen(&second, WAVE_MAPPER, &Mono, owner, 0, CALLBACK_THREAD),
              MMSYSERR_ALLOCATED);
    WAVEHDR* header = &buffer(100).header;
    EXPECT_EQ(waveOutPrepareHeader(nullptr, header, sizeof(WAVEHDR)), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveOutPrepareHeader(reinterpret_cast<HWAVEOUT>(header), header, sizeof(WAVEHDR)),
              MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveOutPrepareHeader(out, nullptr, sizeof(WAVEHDR)), MMSYSERR_INVALPARAM);
    EXPECT_EQ(waveOutPrepareHeader(out, header, sizeof(WAVEHDR) - 1), MMSYSERR_INVALPARAM);
    WAVEHDR empty{};
    EXPECT_EQ(waveOutPrepareHeader(out, &empty, sizeof(WAVEHDR)), MMSYSERR_INVALPARAM);
    EXPECT_EQ(waveOutWrite(out, header, sizeof(WAVEHDR)), WAVERR_UNPREPARED);
    EXPECT_EQ(waveOutUnprepareHeader(out, header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutReset(nullptr), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveOutClose(nullptr), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveInStart(nullptr), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveInAddBuffer(reinterpret_cast<HWAVEIN>(out), header, sizeof(WAVEHDR)),
              MMSYSERR_INVALHANDLE);

    ASSERT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutPrepareHeader(out, header, sizeof(WAVEHDR)), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveOutClose(out), MMSYSERR_INVALHANDLE);
    out = nullptr;
}

TEST_F(WaveAudioTest, ErrorTextsAreOursWithTheCardsWordsForItsFailures) {
    char text[256];
    for (MMRESULT code : {0u, 1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u, 9u, 10u, 11u, 32u, 33u, 34u}) {
        ASSERT_EQ(waveOutGetErrorTextA(code, text, sizeof text), MMSYSERR_NOERROR) << code;
        EXPECT_GT(std::strlen(text), 10u);
    }
    EXPECT_EQ(waveOutGetErrorTextA(12, text, sizeof text), MMSYSERR_BADERRNUM);
    EXPECT_EQ(waveInGetErrorTextA(31, text, sizeof text), MMSYSERR_BADERRNUM);
    EXPECT_EQ(waveInGetErrorTextA(WAVERR_BADFORMAT, nullptr, 256), MMSYSERR_INVALPARAM);
    char small[8];
    ASSERT_EQ(waveInGetErrorTextA(WAVERR_BADFORMAT, small, sizeof small), MMSYSERR_NOERROR);
    EXPECT_EQ(std::string(small), "The sou");

    WAVEFORMATEX threeChannels{WAVE_FORMAT_PCM, 3, 44100, 264600, 6, 16, 0};
    ASSERT_EQ(waveInOpen(&in, WAVE_MAPPER, &threeChannels, owner, 0, CALLBACK_THREAD),
              WAVERR_BADFORMAT);
    ASSERT_EQ(waveInGetErrorTextA(WAVERR_BADFORMAT, text, sizeof text), MMSYSERR_NOERROR);
    EXPECT_EQ(std::string(text), "The sound device cannot use that audio format "
                                 "(virtual card: 1 or 2 channels only, not 3).");
    ASSERT_EQ(waveOutGetErrorTextA(WAVERR_BADFORMAT, text, sizeof text), MMSYSERR_NOERROR);
    EXPECT_EQ(std::string(text), "The sound device cannot use that audio format.");
    // The layer's own refusal of the next call replaces the card's words.
    WAVEFORMATEX eightBit{WAVE_FORMAT_PCM, 1, 44100, 44100, 1, 8, 0};
    ASSERT_EQ(waveInOpen(&in, WAVE_MAPPER, &eightBit, owner, 0, CALLBACK_THREAD), WAVERR_BADFORMAT);
    ASSERT_EQ(waveInGetErrorTextA(WAVERR_BADFORMAT, text, sizeof text), MMSYSERR_NOERROR);
    EXPECT_EQ(std::string(text), "The sound device cannot use that audio format.");
}

// Every operation, made to fail on its first call, returns the code, changes
// nothing, and works when called again.
class FaultInjectionTest : public WaveAudioTest,
                           public ::testing::WithParamInterface<WaveOperation> {};

TEST_P(FaultInjectionTest, OperationFailsOnceAndChangesNothing) {
    Buffer &played = buffer(ramp(300, 1)), &recorded = buffer(300);
    const UINT size = sizeof(WAVEHDR);
    const std::vector<std::pair<WaveOperation, std::function<MMRESULT()>>> steps{
        {WaveOperation::OutOpen, [&] { return openOut(); }},
        {WaveOperation::InOpen, [&] { return openIn(); }},
        {WaveOperation::InPrepare, [&] { return waveInPrepareHeader(in, &recorded.header, size); }},
        {WaveOperation::InAddBuffer, [&] { return waveInAddBuffer(in, &recorded.header, size); }},
        {WaveOperation::InStart, [&] { return waveInStart(in); }},
        {WaveOperation::OutPrepare,
         [&] { return waveOutPrepareHeader(out, &played.header, size); }},
        {WaveOperation::OutWrite, [&] { return waveOutWrite(out, &played.header, size); }},
        {WaveOperation::OutReset,
         [&] {
             log.waitFor(4); // both opens, both buffers back
             return waveOutReset(out);
         }},
        {WaveOperation::InReset, [&] { return waveInReset(in); }},
        {WaveOperation::OutUnprepare,
         [&] { return waveOutUnprepareHeader(out, &played.header, size); }},
        {WaveOperation::InUnprepare,
         [&] { return waveInUnprepareHeader(in, &recorded.header, size); }},
        {WaveOperation::OutClose, [&] { return waveOutClose(out); }},
        {WaveOperation::InClose, [&] { return waveInClose(in); }},
    };
    card.failOperation(GetParam(), 1, MMSYSERR_NOTSUPPORTED);
    for (const auto& [operation, call] : steps) {
        if (operation == GetParam()) {
            ASSERT_EQ(call(), MMSYSERR_NOTSUPPORTED);
        }
        ASSERT_EQ(call(), MMSYSERR_NOERROR);
    }
    EXPECT_EQ(heardSoFar().size(), 6u); // two opens, the two buffers, two closes
    EXPECT_EQ(recorded.samples, played.samples);
    out = nullptr, in = nullptr;
}

const char* const OperationNames[WaveOperationCount] = {
    "OutOpen",   "OutPrepare",  "OutUnprepare", "OutWrite", "OutReset", "OutClose", "InOpen",
    "InPrepare", "InUnprepare", "InAddBuffer",  "InStart",  "InReset",  "InClose"};

std::vector<WaveOperation> everyOperation() {
    std::vector<WaveOperation> operations;
    for (std::size_t k = 0; k < WaveOperationCount; ++k)
        operations.push_back(static_cast<WaveOperation>(k));
    return operations;
}

INSTANTIATE_TEST_SUITE_P(EachOperation, FaultInjectionTest, ::testing::ValuesIn(everyOperation()),
                         [](const auto& info) {
                             return OperationNames[static_cast<std::size_t>(info.param)];
                         });

TEST_F(WaveAudioTest, FaultOnALaterCallSparesTheEarlierOnes) {
    ASSERT_EQ(openOut(), MMSYSERR_NOERROR);
    card.failOperation(WaveOperation::OutWrite, 2, MMSYSERR_NOMEM);
    Buffer* written[] = {&buffer(100), &buffer(100), &buffer(100)};
    EXPECT_EQ(write(*written[0]), MMSYSERR_NOERROR);
    EXPECT_EQ(write(*written[1]), MMSYSERR_NOMEM);
    EXPECT_EQ(write(*written[2]), MMSYSERR_NOERROR);
    const auto heard = log.waitFor(3);
    ASSERT_EQ(heard.size(), 3u);
    EXPECT_EQ(heard[1].header, &written[0]->header);
    EXPECT_EQ(heard[2].header, &written[2]->header);
    EXPECT_EQ(written[1]->header.dwFlags, WHDR_PREPARED); // never queued
}

TEST_F(WaveAudioTest, CardWithoutDevicesReportsNone) {
    card.setDeviceCounts(0, 0);
    EXPECT_EQ(waveOutGetNumDevs(), 0u);
    EXPECT_EQ(waveInGetNumDevs(), 0u);
    EXPECT_EQ(openOut(), MMSYSERR_NODRIVER);
    EXPECT_EQ(waveInOpen(&in, 0, &Mono, owner, 0, CALLBACK_THREAD), MMSYSERR_BADDEVICEID);
    card.setDeviceCounts(1, 0);
    EXPECT_EQ(waveOutGetNumDevs(), 1u);
    EXPECT_EQ(waveInGetNumDevs(), 0u);
}

TEST_F(WaveAudioTest, RefusedCloseNeverNotifiesAndKeepsTheDeviceUsable) {
    ASSERT_EQ(openIn(), MMSYSERR_NOERROR);
    card.failClose(WaveDirection::Input);
    EXPECT_EQ(waveInClose(in), MMSYSERR_ERROR);
    char text[256];
    ASSERT_EQ(waveInGetErrorTextA(MMSYSERR_ERROR, text, sizeof text), MMSYSERR_NOERROR);
    EXPECT_NE(std::string(text).find("the input refuses to close"), std::string::npos);
    EXPECT_EQ(waveInReset(in), MMSYSERR_NOERROR);
    EXPECT_EQ(waveInClose(in), MMSYSERR_ERROR);
    EXPECT_EQ(messages(heardSoFar()), (std::vector<UINT>{MM_WIM_OPEN}));
    card.reset();
    EXPECT_EQ(waveInClose(in), MMSYSERR_NOERROR);
    EXPECT_EQ(messages(log.waitFor(2)), (std::vector<UINT>{MM_WIM_OPEN, MM_WIM_CLOSE}));
    in = nullptr;
}

// The owner keeps two input and four output buffers queued, as the capture
// and playback threads do; the fast clock then loses nothing. The state lives
// in the fixture, because the owner thread reacts until the devices close.
class KeptQueuedTest : public WaveAudioTest {
  protected:
    static constexpr std::size_t Frames = 1000, Blocks = 40;

    void play(HWAVEOUT device, WAVEHDR* header) {
        auto* samples = reinterpret_cast<std::int16_t*>(header->lpData);
        for (std::size_t i = 0; i < Frames; ++i)
            samples[i] = next++;
        sent.insert(sent.end(), samples, samples + Frames);
        header->dwFlags = 0;
        EXPECT_EQ(waveOutPrepareHeader(device, header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
        EXPECT_EQ(waveOutWrite(device, header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    }
    void record(HWAVEIN device, WAVEHDR* header) {
        header->dwFlags = 0;
        EXPECT_EQ(waveInPrepareHeader(device, header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
        EXPECT_EQ(waveInAddBuffer(device, header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    }
    void react(const Notification& n) {
        if (n.message == MM_WIM_OPEN) {
            for (Buffer& buffer : recorded)
                record(reinterpret_cast<HWAVEIN>(n.device), &buffer.header);
            EXPECT_EQ(waveInStart(reinterpret_cast<HWAVEIN>(n.device)), MMSYSERR_NOERROR);
            for (Buffer& buffer : played)
                play(out, &buffer.header);
        } else if (n.message == MM_WOM_DONE && sent.size() < Frames * Blocks) {
            EXPECT_EQ(waveOutUnprepareHeader(reinterpret_cast<HWAVEOUT>(n.device), n.header,
                                             sizeof(WAVEHDR)),
                      MMSYSERR_NOERROR);
            play(reinterpret_cast<HWAVEOUT>(n.device), n.header);
        } else if (n.message == MM_WIM_DATA) {
            const auto* samples = reinterpret_cast<const std::int16_t*>(n.header->lpData);
            received.insert(received.end(), samples, samples + n.bytesRecorded / 2);
            if (received.size() < Frames * Blocks)
                record(reinterpret_cast<HWAVEIN>(n.device), n.header);
        }
    }

    std::deque<Buffer> played, recorded;
    std::vector<std::int16_t> sent, received; // the owner thread's
    std::int16_t next = 0;
};

TEST_F(KeptQueuedTest, BuffersKeptQueuedLoseNothingOnTheFastClock) {
    for (int k = 0; k < 4; ++k)
        played.emplace_back(Frames);
    for (int k = 0; k < 2; ++k)
        recorded.emplace_back(Frames);
    log.react = [this](const Notification& n) { react(n); };
    // The output waits, open and empty, until the input records.
    ASSERT_EQ(openOut(), MMSYSERR_NOERROR);
    log.waitFor(1);
    ASSERT_EQ(openIn(), MMSYSERR_NOERROR);
    log.waitFor(2 + 2 * Blocks); // both opens, every block played and recorded
    heardSoFar();                // and handled
    EXPECT_EQ(received.size(), Frames * Blocks);
    EXPECT_EQ(received, sent);
    EXPECT_EQ(card.lostInputFrames(), 0u);
}

TEST(AudioBackend, NamesTheTwoBackends) {
    platform::AudioBackend backend = platform::AudioBackend::Virtual;
    EXPECT_TRUE(platform::ParseAudioBackend("system", backend));
    EXPECT_EQ(backend, platform::AudioBackend::System);
    EXPECT_TRUE(platform::ParseAudioBackend("virtual", backend));
    EXPECT_EQ(backend, platform::AudioBackend::Virtual);
    EXPECT_FALSE(platform::ParseAudioBackend("Virtual", backend));
    EXPECT_FALSE(platform::ParseAudioBackend("", backend));
    EXPECT_EQ(backend, platform::AudioBackend::Virtual);
    platform::UseSoundCard(sim::TheVirtualCard(), platform::AudioBackend::Virtual);
    EXPECT_EQ(&platform::CurrentSoundCard(), &sim::TheVirtualCard());
}

} // namespace
