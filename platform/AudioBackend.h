// Picks the sound card behind the waveform device layer: "system" (the
// default input and output devices through PortAudio) or "virtual" (the
// built-in loop-back card). Chosen once at start, before any device call.
#pragma once

#include <string_view>

class SoundCard;
class VirtualCard;

namespace platform {

enum class AudioBackend { System, Virtual };

// Returns false for an unknown name.
bool ParseAudioBackend(std::string_view name, AudioBackend& backend);

void SelectAudioBackend(AudioBackend backend);
AudioBackend SelectedAudioBackend();
// "system" or "virtual", as the option names it.
const char* AudioBackendName(AudioBackend backend);

// The card behind the device layer (the system card unless another was
// selected).
SoundCard& CurrentSoundCard();

// The built-in virtual card, for tests to configure (model, clock, faults).
VirtualCard& TheVirtualCard();

} // namespace platform
