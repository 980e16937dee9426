// Finding a device the way --input= and --output= name it.
#include "platform/AudioDevices.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using platform::AudioDeviceInfo;
using platform::DeviceMatch;
using platform::FindAudioDevice;

const std::vector<AudioDeviceInfo> Devices = {
    {0, "HDA Intel PCH: ALC892 Analog (hw:0,0) (ALSA)", "ALSA", 2, 8, false, false},
    {1, "HDA Intel PCH: ALC892 Digital (hw:0,1) (ALSA)", "ALSA", 0, 2, false, false},
    {2, "sysdefault (ALSA)", "ALSA", 128, 128, false, false},
    {3, "pulse (ALSA)", "ALSA", 32, 32, false, false},
    {4, "default (ALSA)", "ALSA", 32, 32, true, true},
};

std::string found(std::string_view dev, WaveDirection direction) {
    AudioDeviceInfo device;
    return FindAudioDevice(Devices, dev, direction, device) == DeviceMatch::Found ? device.name
                                                                                  : "";
}

TEST(FindAudioDevice, findsByIndexOrByAPartOfTheNameThatOnlyOneDeviceHas) {
    EXPECT_EQ(found("3", WaveDirection::Input), "pulse (ALSA)");
    EXPECT_EQ(found("PuLsE", WaveDirection::Output), "pulse (ALSA)");
    // Only one device with inputs has "intel" in its name.
    EXPECT_EQ(found("intel", WaveDirection::Input), Devices[0].name);
    // A whole name wins over the names it is a part of.
    EXPECT_EQ(found("default", WaveDirection::Output), "default (ALSA)");
    EXPECT_EQ(found("Default (alsa)", WaveDirection::Input), "default (ALSA)");
}

TEST(FindAudioDevice, refusesUnknownAmbiguousAndWrongDirectionDevices) {
    AudioDeviceInfo device;
    const auto match = [&](std::string_view dev, WaveDirection direction) {
        return FindAudioDevice(Devices, dev, direction, device);
    };
    EXPECT_EQ(match("intel", WaveDirection::Output), DeviceMatch::Ambiguous);
    EXPECT_EQ(match("(ALSA)", WaveDirection::Input), DeviceMatch::Ambiguous);
    EXPECT_EQ(match("jack", WaveDirection::Output), DeviceMatch::Unknown);
    EXPECT_EQ(match("", WaveDirection::Output), DeviceMatch::Unknown);
    EXPECT_EQ(match("9", WaveDirection::Output), DeviceMatch::Unknown);
    EXPECT_EQ(match("-1", WaveDirection::Output), DeviceMatch::Unknown);
    // Device 1 and "digital" have outputs only.
    EXPECT_EQ(match("1", WaveDirection::Input), DeviceMatch::Unknown);
    EXPECT_EQ(match("digital", WaveDirection::Input), DeviceMatch::Unknown);
}

TEST(DeviceListText, alignsOneDevicePerLineMarkingTheDefaultsAndTheInputChannel) {
    const std::string text = platform::DeviceListText(Devices, 2);
    const std::size_t pulse = text.find("    3  pulse (ALSA) ");
    const std::size_t fallback = text.find("    4  default (ALSA) ");
    ASSERT_NE(pulse, std::string::npos) << text;
    ASSERT_NE(fallback, std::string::npos) << text;
    // The channel counts stand in one column.
    EXPECT_EQ(text.find("32", pulse) - pulse, text.find("32", fallback) - fallback) << text;
    EXPECT_EQ(text.find('\n', fallback), text.find("input, output\n", fallback) + 13) << text;
    EXPECT_NE(text.find("channel 2"), std::string::npos) << text;
}

} // namespace
