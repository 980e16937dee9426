#include "platform/AudioBackend.h"

#include "platform/PortAudioCard.h"
#include "platform/VirtualCard.h"

#include <atomic>

namespace platform {
namespace {

std::atomic<AudioBackend> selectedBackend{AudioBackend::System};

// Created on first use and never destroyed: a device may still be closed
// while the process ends.
SoundCard& systemCard() {
    static auto* card = new PortAudioCard;
    return *card;
}

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

void SelectAudioBackend(AudioBackend backend) {
    selectedBackend = backend;
}

AudioBackend SelectedAudioBackend() {
    return selectedBackend;
}

const char* AudioBackendName(AudioBackend backend) {
    return backend == AudioBackend::Virtual ? "virtual" : "system";
}

SoundCard& CurrentSoundCard() {
    if (selectedBackend == AudioBackend::Virtual)
        return TheVirtualCard();
    return systemCard();
}

VirtualCard& TheVirtualCard() {
    static auto* card = new VirtualCard;
    return *card;
}

} // namespace platform
