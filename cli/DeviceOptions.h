// The system card's devices as the command line names them (--list-devices,
// --input, --output, --input-channel). A name is looked up in PortAudio's
// list, so this runs after the options are parsed and before anything opens.
#pragma once

#include "cli/CommandLine.h"
#include "platform/AudioDevices.h"

#include <optional>
#include <string>

namespace cli {

// What the command line chose; the rest is left to the default or, in the
// window, to the remembered choice.
struct ChosenDevices {
    std::optional<std::string> input; // a device name as the list gives it
    std::optional<std::string> output;
    std::optional<int> inputChannel;

    // Options on the command line win over what `choice` held.
    void ApplyTo(platform::DeviceChoice& choice) const;
};

// --list-devices on standard output: ExitDone, or ExitFailed with PortAudio's
// words when it cannot list them or a line when standard output does not take
// the list.
int ListDevices(const CommandLine& command);

// -1 with `chosen` filled in, or the status to end with: ExitUsage when a DEV
// matches no device or several (said on standard error, with the list),
// ExitFailed when PortAudio cannot list the devices.
int ResolveDevices(const CommandLine& command, ChosenDevices& chosen);

} // namespace cli
