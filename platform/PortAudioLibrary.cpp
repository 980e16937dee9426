#include "platform/PortAudioLibrary.h"

#include "platform/AudioLibraryMessages.h"

#include <chrono>
#include <future>
#include <memory>
#include <system_error>
#include <thread>

namespace platform {
namespace {

std::mutex& libraryMutex() {
    static std::mutex instance;
    return instance;
}

// PortAudio counts its initialisations too, but does not say how many.
// Guarded by the library lock.
int initialisations = 0;

} // namespace

PortAudioLock::PortAudioLock() : m_lock(libraryMutex()) {}

PaError InitialisePortAudio() {
    // Only before PortAudio sets itself up: once connected to a JACK server
    // it keeps its own error function, which must stay in place.
    if (initialisations == 0)
        RouteAudioLibraryMessages();
    const PaError error = Pa_Initialize();
    if (error == paNoError)
        ++initialisations;
    return error;
}

void TerminatePortAudio() {
    if (Pa_Terminate() == paNoError && initialisations > 0)
        --initialisations;
}

std::optional<AudioDeviceInfo> DescribeAudioDevice(PaDeviceIndex index) {
    const PaDeviceInfo* device = Pa_GetDeviceInfo(index);
    if (device == nullptr || device->name == nullptr)
        return std::nullopt;
    const PaHostApiInfo* api = Pa_GetHostApiInfo(device->hostApi);
    if (api == nullptr || api->name == nullptr)
        return std::nullopt;
    AudioDeviceInfo info;
    info.index = index;
    info.hostApi = api->name;
    info.name = std::string(device->name) + " (" + info.hostApi + ")";
    info.inputChannels = device->maxInputChannels;
    info.outputChannels = device->maxOutputChannels;
    info.defaultInput = index == Pa_GetDefaultInputDevice();
    info.defaultOutput = index == Pa_GetDefaultOutputDevice();
    return info;
}

bool RunBounded(const std::function<void()>& job, std::chrono::milliseconds limit) {
    auto finished = std::make_shared<std::promise<void>>();
    std::future<void> done = finished->get_future();
    const auto run = [job, finished] {
        job();
        finished->set_value();
    };
    try {
        std::thread(run).detach();
    } catch (const std::system_error&) {
        run(); // no thread to spare: run it here, however long it takes
    }
    return done.wait_for(limit) == std::future_status::ready;
}

std::string DescribePortAudioError(PaError error) {
    const char* words = Pa_GetErrorText(error);
    std::string text = words != nullptr ? words : "unknown PortAudio error";
    if (error == paUnanticipatedHostError) {
        const PaHostErrorInfo* host = Pa_GetLastHostErrorInfo();
        if (host != nullptr && host->errorText != nullptr && *host->errorText != '\0')
            text += std::string(": ") + host->errorText;
    }
    return text;
}

} // namespace platform
