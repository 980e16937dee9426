#include "ui/SoundCardSettings.h"

#include <QSettings>

#include <algorithm>
#include <cstdio>
#include <string>

namespace ui {

namespace {

using platform::AudioDeviceInfo;
using platform::DeviceChoice;

constexpr auto InputKey = "soundCard/input";
constexpr auto OutputKey = "soundCard/output";
constexpr auto InputChannelKey = "soundCard/inputChannel";
constexpr int MaxInputChannel = 2;

// The file $XDG_CONFIG_HOME/tembrix/tembrix.conf (~/.config/tembrix/tembrix.conf
// by default).
struct UserSettings : QSettings {
    UserSettings()
        : QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("tembrix"),
                    QStringLiteral("tembrix")) {}
};

const AudioDeviceInfo* FindListed(const std::vector<AudioDeviceInfo>& devices,
                                  const std::string& name, WaveDirection direction) {
    for (const AudioDeviceInfo& device : devices) {
        const bool named = name.empty() ? (direction == WaveDirection::Input ? device.defaultInput
                                                                             : device.defaultOutput)
                                        : device.name == name;
        const int channels =
            direction == WaveDirection::Input ? device.inputChannels : device.outputChannels;
        if (named && channels > 0)
            return &device;
    }
    return nullptr;
}

// A remembered name that is gone becomes the default.
void KeepListed(std::string& name, const std::vector<AudioDeviceInfo>& devices,
                WaveDirection direction) {
    if (name.empty() || FindListed(devices, name, direction))
        return;
    std::fprintf(stderr,
                 "tembrix: the remembered %s device \"%s\" is not there now: using the default\n",
                 direction == WaveDirection::Input ? "input" : "output", name.c_str());
    name.clear();
}

// The file is the user's to edit: a channel that is not a number, or not one
// the dialog offers, becomes the first, with a line.
int RememberedInputChannel(const QSettings& settings) {
    const QVariant value = settings.value(InputChannelKey, 1);
    bool isNumber = false;
    const int channel = value.toInt(&isNumber);
    if (isNumber && channel >= 1 && channel <= MaxInputChannel)
        return channel;
    if (isNumber)
        std::fprintf(stderr,
                     "tembrix: the remembered input channel %d is not one of 1 to %d: using 1\n",
                     channel, MaxInputChannel);
    else
        std::fprintf(stderr,
                     "tembrix: the remembered input channel \"%s\" is not a number: using 1\n",
                     value.toString().toLocal8Bit().constData());
    return 1;
}

} // namespace

bool RememberSoundCardChoice(const DeviceChoice& choice) {
    UserSettings settings;
    settings.setValue(InputKey, QString::fromStdString(choice.input));
    settings.setValue(OutputKey, QString::fromStdString(choice.output));
    settings.setValue(InputChannelKey, choice.inputChannel);
    settings.sync();
    if (settings.status() == QSettings::NoError)
        return true;
    std::fprintf(stderr, "tembrix: cannot remember the sound card in %s\n",
                 settings.fileName().toLocal8Bit().constData());
    return false;
}

DeviceChoice RememberedSoundCardChoice() {
    const UserSettings settings;
    DeviceChoice choice;
    choice.input = settings.value(InputKey).toString().toStdString();
    choice.output = settings.value(OutputKey).toString().toStdString();
    choice.inputChannel = RememberedInputChannel(settings);
    return choice;
}

DeviceChoice KeepListedDevices(DeviceChoice choice, const std::vector<AudioDeviceInfo>& devices) {
    KeepListed(choice.input, devices, WaveDirection::Input);
    KeepListed(choice.output, devices, WaveDirection::Output);
    const AudioDeviceInfo* input = FindListed(devices, choice.input, WaveDirection::Input);
    const int channels = std::min(input ? input->inputChannels : MaxInputChannel, MaxInputChannel);
    if (choice.inputChannel < 1 || choice.inputChannel > channels) {
        std::fprintf(stderr, "tembrix: the remembered input channel %d is not there now: using 1\n",
                     choice.inputChannel);
        choice.inputChannel = 1;
    }
    return choice;
}

DeviceChoice RestoredSoundCardChoice() {
    const std::vector<AudioDeviceInfo> devices = platform::ListAudioDevices();
    const DeviceChoice remembered = RememberedSoundCardChoice();
    // With nothing listed there is nothing to check against: opening the
    // devices will say what is wrong.
    return devices.empty() ? remembered : KeepListedDevices(remembered, devices);
}

} // namespace ui
