// The sound card behind the waveform device layer: the system card (the
// default input and output devices through PortAudio) unless start-up hands
// the layer another one, before any device call.
#pragma once

#include <string_view>

class SoundCard;

namespace platform {

// The kinds of card the command line names: "system" or "virtual".
enum class AudioBackend { System, Virtual };

// Returns false for an unknown name.
bool ParseAudioBackend(std::string_view name, AudioBackend& backend);
// "system" or "virtual", as the option names it.
const char* AudioBackendName(AudioBackend backend);

// Puts `card`, of the given kind, behind the device layer. The card must
// outlive every device opened on it.
void UseSoundCard(SoundCard& card, AudioBackend kind);
// The system card through PortAudio, created on first use.
SoundCard& SystemSoundCard();

// The card behind the device layer, and its kind.
SoundCard& CurrentSoundCard();
AudioBackend SelectedAudioBackend();

} // namespace platform
