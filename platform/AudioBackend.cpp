#include "platform/AudioBackend.h"

#include "platform/PortAudioCard.h"

#include <atomic>

namespace platform {
namespace {

std::atomic<SoundCard*> currentCard{nullptr};
std::atomic<AudioBackend> currentKind{AudioBackend::System};

} // namespace

bool ParseAudioBackend(std::string_view name, AudioBackend& backend) {
    if (name == "system") {
        backend = AudioBackend::System;
        return true;
    }
    if (name == "virtual") {
        backend = AudioBackend::Virtual;
        return true;
    }
    return false;
}

const char* AudioBackendName(AudioBackend backend) {
    return backend == AudioBackend::Virtual ? "virtual" : "system";
}

void UseSoundCard(SoundCard& card, AudioBackend kind) {
    currentKind = kind;
    currentCard = &card;
}

// Never destroyed: a device may still be closed while the process ends.
SoundCard& SystemSoundCard() {
    static auto* card = new PortAudioCard;
    return *card;
}

SoundCard& CurrentSoundCard() {
    if (SoundCard* card = currentCard)
        return *card;
    return SystemSoundCard();
}

AudioBackend SelectedAudioBackend() {
    return currentCard == nullptr ? AudioBackend::System : currentKind.load();
}

} // namespace platform
