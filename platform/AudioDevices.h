// The system's audio devices as PortAudio lists them, and the user's choice
// of them: what the preferred device means for the system card. Devices are
// chosen and remembered by name, never by index, which changes whenever a
// device comes or goes.
#pragma once

#include "platform/SoundCard.h"

#include <string>
#include <string_view>
#include <vector>

namespace platform {

struct AudioDeviceInfo {
    int index = 0;    // PortAudio's device index, valid for this listing only
    std::string name; // "pulse (ALSA)": the device and its host API, as shown
    std::string hostApi;
    int inputChannels = 0;
    int outputChannels = 0;
    bool defaultInput = false;
    bool defaultOutput = false;
};

// Every device PortAudio lists now. Empty, with `failure` set to PortAudio's
// words, when it cannot be initialised.
std::vector<AudioDeviceInfo> ListAudioDevices(std::string* failure = nullptr);

// The devices, one per line, as `tembrix --list-devices` prints them.
std::string DeviceListText(const std::vector<AudioDeviceInfo>& devices, int inputChannel);

enum class DeviceMatch { Found, Unknown, Ambiguous };
// DEV is an index from the listing or a case-insensitive part of a name that
// matches exactly one device with channels in that direction.
DeviceMatch FindAudioDevice(const std::vector<AudioDeviceInfo>& devices, std::string_view dev,
                            WaveDirection direction, AudioDeviceInfo& found);

// What the preferred device means: a device name as AudioDeviceInfo::name
// gives it ("" for PortAudio's default), and the input channel the mono
// signal is taken from (1 = the first, the left).
struct DeviceChoice {
    std::string input;
    std::string output;
    int inputChannel = 1;
    bool operator==(const DeviceChoice&) const = default;
};

// Takes effect at the next open of the system card's streams (see
// ReopenDevices to switch open streams).
void ChooseSystemDevices(const DeviceChoice& choice);
DeviceChoice ChosenSystemDevices();

// Under --verbose, ALSA's, JACK's, libpulse's and PortAudio's own diagnostics go to
// standard error; otherwise they are silenced. Without it, the C library's
// `stderr` stream becomes an unbuffered filter (see DebugLineFilter.h) that
// writes everything else to descriptor 2 unchanged; `fileno(stderr)` then
// names no descriptor. Call once at start, before any thread starts and
// before the first device call.
void SetVerboseAudioLibraries(bool verbose);

} // namespace platform
