#include "audio/AudioPathCheck.h"

#include "platform/AudioBackend.h"
#include "platform/SoundCard.h"

#include <memory>
#include <system_error>
#include <thread>

namespace audio {
namespace {

// Beyond the server's own limit: the thread asking is given up on only
// if libpulse itself should hang.
constexpr std::chrono::milliseconds Slack{500};

AudioPath Ask(int outputChannels, int inputChannels) {
    return DescribeAudioPath(platform::AskSoundServer(AudioPathCheck::AnswerLimit), outputChannels,
                             inputChannels);
}

} // namespace

void AudioPathCheck::Start() {
    m_started = true;
    m_giveUpAt = std::chrono::steady_clock::now() + AnswerLimit + Slack;
    auto path = std::make_shared<std::promise<AudioPath>>();
    m_path = path->get_future();
    const SoundCard& card = platform::CurrentSoundCard();
    if (platform::SelectedAudioBackend() != platform::AudioBackend::System ||
        (!MayGoThroughSoundServer(card.deviceName(WaveDirection::Output)) &&
         !MayGoThroughSoundServer(card.deviceName(WaveDirection::Input)))) {
        path->set_value(PathWithoutServer());
        return;
    }
    const int output = card.openedChannels(WaveDirection::Output);
    const int input = card.openedChannels(WaveDirection::Input);
    const auto ask = [path, output, input] { path->set_value(Ask(output, input)); };
    try {
        // Detached: a libpulse that never returns holds up no one.
        std::thread(ask).detach();
    } catch (const std::system_error&) {
        ask(); // no thread to spare: bounded all the same
    }
}

std::optional<AudioPath> AudioPathCheck::Take() {
    if (!m_path.valid())
        return std::nullopt;
    if (m_path.wait_for(std::chrono::seconds(0)) == std::future_status::ready)
        return m_path.get();
    if (std::chrono::steady_clock::now() < m_giveUpAt)
        return std::nullopt;
    m_path = {};
    return PathWithoutServer("the sound server did not answer");
}

std::optional<AudioPath> AudioPathCheck::TakeWaiting() {
    if (m_path.valid())
        m_path.wait_until(m_giveUpAt);
    return Take();
}

} // namespace audio
