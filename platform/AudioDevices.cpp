#include "platform/AudioDevices.h"

#include "platform/PortAudioLibrary.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <chrono>
#include <memory>
#include <mutex>

namespace platform {
namespace {

// PortAudio looks at every device while it lists them; a sound server that
// has stalled makes it wait half a minute for each of its devices.
constexpr std::chrono::milliseconds ListingWait(10000);

std::mutex& choiceMutex() {
    static std::mutex instance;
    return instance;
}

DeviceChoice& currentChoice() {
    static DeviceChoice instance;
    return instance;
}

bool hasChannels(const AudioDeviceInfo& device, WaveDirection direction) {
    return (direction == WaveDirection::Input ? device.inputChannels : device.outputChannels) > 0;
}

std::string lowered(std::string_view text) {
    std::string result(text);
    std::transform(result.begin(), result.end(), result.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return result;
}

// "pulse" of "pulse (ALSA)".
std::string_view deviceOnly(const AudioDeviceInfo& device) {
    const std::string_view name = device.name;
    const std::size_t suffix = device.hostApi.size() + 3;
    return name.size() > suffix ? name.substr(0, name.size() - suffix) : name;
}

// One line of the listing: numbers right-aligned, names left-aligned.
std::string row(std::string_view index, std::string_view name, std::size_t nameWidth,
                std::string_view inputs, std::string_view outputs, std::string_view defaults) {
    const auto pad = [](std::string_view text, std::size_t width) {
        return std::string(width > text.size() ? width - text.size() : 0, ' ');
    };
    std::string line = pad(index, 5) + std::string(index) + "  " + std::string(name) +
                       pad(name, nameWidth) + "  " + pad(inputs, 6) + std::string(inputs) + "  " +
                       pad(outputs, 7) + std::string(outputs) + "  " + std::string(defaults);
    while (line.back() == ' ')
        line.pop_back();
    return line + "\n";
}

} // namespace

std::vector<AudioDeviceInfo> ListAudioDevices(std::string* failure) {
    struct Listing {
        std::vector<AudioDeviceInfo> devices;
        std::string failure;
    };
    auto listing = std::make_shared<Listing>();
    const bool listed = RunBounded(
        [listing] {
            PortAudioLock lock;
            const PaError initialised = InitialisePortAudio();
            if (initialised != paNoError) {
                listing->failure = DescribePortAudioError(initialised);
                return;
            }
            for (PaDeviceIndex index = 0; index < Pa_GetDeviceCount(); ++index)
                if (const auto device = DescribeAudioDevice(index))
                    listing->devices.push_back(*device);
            TerminatePortAudio();
        },
        ListingWait);
    if (!listed) {
        if (failure != nullptr)
            *failure = "the audio library did not list the devices within " +
                       std::to_string(ListingWait.count() / 1000) + " s";
        return {};
    }
    if (failure != nullptr)
        *failure = listing->failure;
    return listing->devices;
}

std::string DeviceListText(const std::vector<AudioDeviceInfo>& devices, int inputChannel) {
    std::size_t nameWidth = 4;
    for (const AudioDeviceInfo& device : devices)
        nameWidth = std::max(nameWidth, device.name.size());

    std::string text = row("index", "name", nameWidth, "inputs", "outputs", "default");
    for (const AudioDeviceInfo& device : devices) {
        std::string defaults;
        if (device.defaultInput)
            defaults = "input";
        if (device.defaultOutput)
            defaults += defaults.empty() ? "output" : ", output";
        text += row(std::to_string(device.index), device.name, nameWidth,
                    std::to_string(device.inputChannels), std::to_string(device.outputChannels),
                    defaults);
    }
    text += "The input is taken from channel " + std::to_string(inputChannel) +
            " of the input device.\n";
    return text;
}

DeviceMatch FindAudioDevice(const std::vector<AudioDeviceInfo>& devices, std::string_view dev,
                            WaveDirection direction, AudioDeviceInfo& found) {
    int index = 0;
    const auto [end, error] = std::from_chars(dev.data(), dev.data() + dev.size(), index);
    if (!dev.empty() && error == std::errc() && end == dev.data() + dev.size()) {
        for (const AudioDeviceInfo& device : devices)
            if (device.index == index && hasChannels(device, direction)) {
                found = device;
                return DeviceMatch::Found;
            }
        return DeviceMatch::Unknown;
    }

    // A whole name ("default") picks its device even where it is also a part
    // of other names ("sysdefault").
    const std::string wanted = lowered(dev);
    const AudioDeviceInfo* whole = nullptr;
    const AudioDeviceInfo* part = nullptr;
    int wholeMatches = 0;
    int partMatches = 0;
    for (const AudioDeviceInfo& device : devices) {
        if (wanted.empty() || !hasChannels(device, direction))
            continue;
        const std::string name = lowered(device.name);
        if (name == wanted || lowered(deviceOnly(device)) == wanted) {
            whole = &device;
            ++wholeMatches;
        }
        if (name.find(wanted) != std::string::npos) {
            part = &device;
            ++partMatches;
        }
    }
    const AudioDeviceInfo* match = wholeMatches == 1 ? whole : partMatches == 1 ? part : nullptr;
    if (match != nullptr) {
        found = *match;
        return DeviceMatch::Found;
    }
    return partMatches > 1 ? DeviceMatch::Ambiguous : DeviceMatch::Unknown;
}

void ChooseSystemDevices(const DeviceChoice& choice) {
    std::lock_guard lock(choiceMutex());
    currentChoice() = choice;
}

DeviceChoice ChosenSystemDevices() {
    std::lock_guard lock(choiceMutex());
    return currentChoice();
}

} // namespace platform
