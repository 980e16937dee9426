#include "measure/AudioPath.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>

using platform::ServerEnd;
using platform::ServerStreamPath;
using platform::SoundServerAnswer;
using testing::HasSubstr;
using testing::Not;

namespace {

constexpr const char* Stereo = "front-left,front-right";

ServerEnd End(const char* name, unsigned rate, double volumeDb = 0, double percent = 100) {
    return {name, rate, "s16le", 2, Stereo, volumeDb, percent, false};
}

// PulseAudio's answer for the CI's loop-back: everything at 44.1 kHz, 100 %.
SoundServerAnswer LoopAnswer() {
    SoundServerAnswer answer;
    answer.outcome = SoundServerAnswer::Outcome::Answered;
    answer.serverName = "pulseaudio";
    answer.serverVersion = "16.1";
    answer.playback = ServerStreamPath{End("ALSA Playback", 44100), End("loop", 44100), ""};
    answer.recording = ServerStreamPath{End("ALSA Capture", 44100), End("loop.monitor", 44100), ""};
    return answer;
}

AudioPath Described(const SoundServerAnswer& answer) {
    return DescribeAudioPath(answer, 2, 2);
}

} // namespace

TEST(AudioPathTest, AClearPathIsOneLineThatFlagsNothing) {
    const AudioPath path = Described(LoopAnswer());
    EXPECT_FALSE(path.Flagged());
    EXPECT_EQ(AudioPathLine(path),
              "Audio path: PulseAudio 16.1, sink \"loop\" 44100 Hz s16le 2ch, source "
              "\"loop.monitor\" 44100 Hz s16le 2ch; no resampling or remixing, volumes 0.00 dB");
}

TEST(AudioPathTest, PipeWireIsNamedWithItsOwnVersion) {
    SoundServerAnswer answer = LoopAnswer();
    answer.serverName = "PulseAudio (on PipeWire 0.3.65)";
    answer.serverVersion = "15.0.0";
    const AudioPath path = Described(answer);
    EXPECT_EQ(path.server, "PipeWire");
    EXPECT_EQ(path.version, "0.3.65");
    EXPECT_THAT(AudioPathLine(path), testing::StartsWith("Audio path: PipeWire 0.3.65, sink"));
    // The graph's rate is not among what its PulseAudio service shows.
    EXPECT_THAT(AudioPathLine(path),
                testing::EndsWith("; no resampling or remixing at the sink and source, volumes "
                                  "0.00 dB (the graph's own rate is not visible: a graph held at "
                                  "another rate still resamples)"));
}

TEST(AudioPathTest, ARateOtherThanTheInstrumentsIsResamplingOnEitherSide) {
    for (const bool sinkSide : {true, false}) {
        SoundServerAnswer answer = LoopAnswer();
        ServerStreamPath& side = sinkSide ? *answer.playback : *answer.recording;
        side.device.rateHz = 48000;
        side.resampleMethod = "speex-float-1";
        const AudioPath path = Described(answer);
        EXPECT_TRUE(path.resampling) << sinkSide;
        EXPECT_FALSE(path.volume || path.muted || path.remixing) << sinkSide;
        const std::string line = AudioPathLine(path);
        EXPECT_THAT(line, HasSubstr("48000 Hz"));
        EXPECT_THAT(line, HasSubstr("; resampling (speex-float-1): the figures above about 15 kHz "
                                    "describe the server's resampler, not the card"));
        EXPECT_THAT(line, Not(HasSubstr("no resampling")));
    }
    // A stream the ALSA plugin already converted is resampled too.
    SoundServerAnswer answer = LoopAnswer();
    answer.recording->stream.rateHz = 48000;
    answer.recording->device.rateHz = 48000;
    EXPECT_TRUE(Described(answer).resampling);
}

TEST(AudioPathTest, AVolumeBelowFullIsGivenInDecibelsWithItsPercentage) {
    SoundServerAnswer answer = LoopAnswer();
    answer.playback->device.volumeDb = 20 * std::log10(0.5 * 0.5 * 0.5); // 50 %, cubic
    answer.playback->device.volumePercent = 50;
    const AudioPath path = Described(answer);
    EXPECT_TRUE(path.volume);
    EXPECT_FALSE(path.resampling || path.remixing);
    EXPECT_THAT(AudioPathLine(path),
                HasSubstr("; sink volume -18.06 dB (50 %): the gain measured includes it"));

    // Our own streams and the source count as well; each is named.
    answer.recording->stream.volumeDb = -12.04;
    answer.recording->stream.volumePercent = 63;
    EXPECT_THAT(AudioPathLine(Described(answer)),
                HasSubstr("sink volume -18.06 dB (50 %), input stream volume -12.04 dB (63 %): "
                          "the gain measured includes them"));
}

TEST(AudioPathTest, AVolumeThatRoundsToZeroDecibelsIsNotFlagged) {
    SoundServerAnswer answer = LoopAnswer();
    answer.playback->stream.volumeDb = -0.001;
    EXPECT_FALSE(Described(answer).Flagged());
}

TEST(AudioPathTest, AMutedSinkOrSourceIsFlaggedEvenAtFullVolume) {
    SoundServerAnswer answer = LoopAnswer();
    answer.recording->device.muted = true;
    const AudioPath path = Described(answer);
    EXPECT_TRUE(path.muted);
    EXPECT_THAT(AudioPathLine(path), HasSubstr("; source muted: "));
}

TEST(AudioPathTest, ChannelsOtherThanOpenedOrThanTheDevicesAreRemixing) {
    SoundServerAnswer mono = LoopAnswer();
    mono.playback->device.channels = 1;
    mono.playback->device.channelMap = "mono";
    EXPECT_TRUE(Described(mono).remixing);
    EXPECT_THAT(AudioPathLine(Described(mono)),
                HasSubstr("; remixing (output opened 2ch, stream 2ch front-left,front-right, "
                          "sink 1ch mono): the server mixes the channels measured"));

    SoundServerAnswer swapped = LoopAnswer();
    swapped.recording->device.channelMap = "front-right,front-left";
    EXPECT_TRUE(Described(swapped).remixing);

    // The input opened with three channels to reach the third.
    EXPECT_TRUE(DescribeAudioPath(LoopAnswer(), 2, 3).remixing);
    // Channels not known where the card does not say: only the server's
    // own mismatch counts.
    EXPECT_FALSE(DescribeAudioPath(LoopAnswer(), 0, 0).remixing);
}

TEST(AudioPathTest, NoServerOrNoStreamOfOursFlagsNothing) {
    SoundServerAnswer refused;
    refused.outcome = SoundServerAnswer::Outcome::NoServer;
    EXPECT_EQ(AudioPathLine(Described(refused)), "Audio path: no sound server");

    // A server that runs but holds none of our streams is not in the path,
    // whatever its sinks do.
    SoundServerAnswer notOurs = LoopAnswer();
    notOurs.playback.reset();
    notOurs.recording.reset();
    EXPECT_EQ(AudioPathLine(Described(notOurs)), "Audio path: no sound server");

    SoundServerAnswer stalled;
    stalled.outcome = SoundServerAnswer::Outcome::NoAnswer;
    const AudioPath path = Described(stalled);
    EXPECT_FALSE(path.Flagged());
    EXPECT_EQ(AudioPathLine(path), "Audio path: the sound server did not answer");
}

TEST(AudioPathTest, OnlyOneStreamThroughTheServerIsSaidAndJudgedAlone) {
    SoundServerAnswer answer = LoopAnswer();
    answer.recording.reset();
    answer.playback->device.rateHz = 48000;
    const AudioPath path = Described(answer);
    EXPECT_TRUE(path.resampling);
    EXPECT_THAT(AudioPathLine(path), HasSubstr(", input not through the server;"));
}

TEST(AudioPathTest, OnlyAlsaDevicesOtherThanTheCardsOwnMayGoThroughAServer) {
    for (const char* through :
         {"pulse (ALSA)", "pipewire (ALSA)", "default (ALSA)", "card_a (ALSA)"})
        EXPECT_TRUE(MayGoThroughSoundServer(through)) << through;
    for (const char* direct :
         {"HDA Intel PCH: ALC3246 Analog (hw:0,0) (ALSA)", "hw:1,0 (ALSA)", "sysdefault (ALSA)",
          "front (ALSA)", "dmix (ALSA)", "system (JACK Audio Connection Kit)", "pulse", ""})
        EXPECT_FALSE(MayGoThroughSoundServer(direct)) << direct;
}

TEST(AudioPathJsonTest, HoldsTheFiguresTheReportTakes) {
    SoundServerAnswer answer = LoopAnswer();
    answer.playback->device.rateHz = 48000;
    answer.playback->device.volumeDb = -18.06;
    answer.playback->stream.volumeDb = -6;
    answer.recording->stream.volumeDb = -3;
    EXPECT_EQ(AudioPathJson(Described(answer), 72.5), R"({
  "server": "PulseAudio",
  "version": "16.1",
  "note": null,
  "sink": "loop",
  "source": "loop.monitor",
  "sink_rate_hz": 48000,
  "source_rate_hz": 44100,
  "resampling": true,
  "sink_volume_db": -18.06,
  "source_volume_db": 0,
  "stream_volume_db": -9,
  "remixing": false,
  "drift_ppm": 72.5,
  "flags": ["resampling", "volume", "drift"]
})");
}

TEST(AudioPathJsonTest, NoServerHasNullFiguresAndNoFlags) {
    EXPECT_EQ(AudioPathJson(PathWithoutServer(), std::nullopt), R"({
  "server": null,
  "version": null,
  "note": "no sound server",
  "sink": null,
  "source": null,
  "sink_rate_hz": null,
  "source_rate_hz": null,
  "resampling": false,
  "sink_volume_db": null,
  "source_volume_db": null,
  "stream_volume_db": null,
  "remixing": false,
  "drift_ppm": null,
  "flags": []
})");
}
