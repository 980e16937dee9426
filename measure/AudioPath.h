// What lies between the instrument and the card, from the sound server's
// answer: the server, the rates, formats and channels of our two streams and
// of the sink and source they reach, and what in between changes the signal
// without a word. Each flag names a reason not to take a figure as the
// card's:
//   resampling - a stream, or its device, runs at a rate other than the
//     instrument's 44100 Hz: the server's resampler shapes the top octave;
//   volume, muted - a volume other than 100 % (0 dB) on our streams, the
//     sink or the source: the gain measured includes it;
//   remixing - a stream's channels differ from those the device was opened
//     with, or from its sink's or source's: the server mixes the channels.
// PipeWire's PulseAudio service shows each sink and source at its own rate,
// not the graph's: a graph held at another rate (clock.force-rate) converts
// unseen, which the clear line says.
// A path that goes through no server (a hardware device, JACK, the virtual
// card) or whose server did not answer flags nothing.
#pragma once

#include "platform/SoundServerQuery.h"

#include <optional>
#include <string>
#include <vector>

struct AudioPath {
    // "PulseAudio", "PipeWire"; "" when our streams go through no server
    // (then `note` says why).
    std::string server;
    std::string version;
    std::string note; // "no sound server", "the sound server did not answer"
    std::optional<platform::ServerStreamPath> playback;
    std::optional<platform::ServerStreamPath> recording;
    int outputChannels = 0; // as the devices were opened; 0 where not known
    int inputChannels = 0;

    bool resampling = false;
    bool volume = false; // not at 0 dB
    bool muted = false;
    bool remixing = false;

    bool Flagged() const { return resampling || volume || muted || remixing; }
};

// Our streams do not go through a sound server: `note` says how we know.
AudioPath PathWithoutServer(std::string note = "no sound server");

// The server's answer and the channels the output and the input devices
// were opened with (0 where not known), with its flags.
AudioPath DescribeAudioPath(const platform::SoundServerAnswer& answer, int outputChannels,
                            int inputChannels);

// Whether a device PortAudio reached, as its listing names it ("pulse
// (ALSA)"), may go through a sound server: any ALSA device but the card's
// own hardware ones; never JACK's, whose server is no resampling mixer.
bool MayGoThroughSoundServer(const std::string& deviceName);

// The volumes not at 0 dB and the mutes, e.g. "sink volume -18.06 dB
// (50 %), source muted"; empty when there are none.
std::string VolumeText(const AudioPath& path);

// One line for standard error, "Audio path: ..." without its newline.
std::string AudioPathLine(const AudioPath& path);

// The same as a JSON object, in the style of the report's, with the clocks'
// drift (flagged "drift" beyond ClockDriftFlagPpm) when it was measured.
std::string AudioPathJson(const AudioPath& path, std::optional<double> driftPpm);
