// The sound card chosen in the window, remembered from one run to the next in
// the user's configuration folder (tembrix/tembrix.conf there).
#pragma once

#include "platform/AudioDevices.h"

#include <vector>

namespace ui {

// False, with a line on standard error, when the choice cannot be written.
bool RememberSoundCardChoice(const platform::DeviceChoice& choice);
// What was remembered; the defaults when nothing was. An input channel that
// is not a number or out of range becomes the first, with a line on standard
// error.
platform::DeviceChoice RememberedSoundCardChoice();

// `choice` with each device that `devices` no longer lists in its direction
// replaced by the default, and an input channel the input cannot give
// replaced by the first; one line on standard error for each.
platform::DeviceChoice KeepListedDevices(platform::DeviceChoice choice,
                                         const std::vector<platform::AudioDeviceInfo>& devices);

// At start-up, before the system card opens: the remembered choice kept to
// the devices listed now. Options given on the command line go over it.
platform::DeviceChoice RestoredSoundCardChoice();

} // namespace ui
