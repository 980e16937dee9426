#include "cli/DeviceOptions.h"

#include "cli/ExitStatus.h"
#include "cli/StandardOutput.h"

#include <cstdio>
#include <vector>

namespace cli {
namespace {

int inputChannelOf(const CommandLine& command) {
    return command.inputChannel.value_or(1);
}

int cannotList(const std::string& failure) {
    std::fprintf(stderr, "tembrix: cannot list the audio devices: %s\n", failure.c_str());
    return ExitFailed;
}

// The device's name, or the status to end with after saying why.
int resolve(const std::vector<platform::AudioDeviceInfo>& devices, const std::string& dev,
            WaveDirection direction, const CommandLine& command, std::optional<std::string>& name) {
    platform::AudioDeviceInfo found;
    const platform::DeviceMatch match = platform::FindAudioDevice(devices, dev, direction, found);
    if (match == platform::DeviceMatch::Found) {
        name = found.name;
        return -1;
    }
    const char* kind = direction == WaveDirection::Input ? "input" : "output";
    if (match == platform::DeviceMatch::Ambiguous)
        std::fprintf(stderr, "tembrix: more than one %s device matches '%s'; the devices are:\n",
                     kind, dev.c_str());
    else
        std::fprintf(stderr, "tembrix: no %s device matches '%s'; the devices are:\n", kind,
                     dev.c_str());
    std::fputs(platform::DeviceListText(devices, inputChannelOf(command)).c_str(), stderr);
    return ExitUsage;
}

} // namespace

void ChosenDevices::ApplyTo(platform::DeviceChoice& choice) const {
    if (input)
        choice.input = *input;
    if (output)
        choice.output = *output;
    if (inputChannel)
        choice.inputChannel = *inputChannel;
}

int ListDevices(const CommandLine& command) {
    std::string failure;
    const std::vector<platform::AudioDeviceInfo> devices = platform::ListAudioDevices(&failure);
    if (!failure.empty())
        return cannotList(failure);
    return WriteStandardOutput(platform::DeviceListText(devices, inputChannelOf(command)));
}

int ResolveDevices(const CommandLine& command, ChosenDevices& chosen) {
    chosen.inputChannel = command.inputChannel;
    if (!command.inputDevice && !command.outputDevice)
        return -1; // nothing to look up: PortAudio is not started for nothing
    std::string failure;
    const std::vector<platform::AudioDeviceInfo> devices = platform::ListAudioDevices(&failure);
    if (!failure.empty())
        return cannotList(failure);
    if (command.inputDevice) {
        if (const int status =
                resolve(devices, *command.inputDevice, WaveDirection::Input, command, chosen.input);
            status >= 0)
            return status;
    }
    if (command.outputDevice) {
        if (const int status = resolve(devices, *command.outputDevice, WaveDirection::Output,
                                       command, chosen.output);
            status >= 0)
            return status;
    }
    return -1;
}

} // namespace cli
