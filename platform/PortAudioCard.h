// The system's sound card: the chosen input and output devices (the defaults
// unless ChooseSystemDevices names others) through PortAudio. The layers
// above see mono 16-bit 44100 Hz; the card opens each device with up to two
// channels and converts, so that the sound server never mixes channels for
// us. PortAudio is initialised only while it is needed (counting devices, an
// open stream), so a closed card holds no device.
#pragma once

#include "platform/BuildSpeed.h"
#include "platform/SoundCard.h"

#include <chrono>

#include <memory>
#include <mutex>
#include <string>

typedef void PaStream; // as PortAudio declares it

class PortAudioCard : public SoundCard {
  public:
    PortAudioCard() = default;
    ~PortAudioCard() override;
    PortAudioCard(const PortAudioCard&) = delete;
    PortAudioCard& operator=(const PortAudioCard&) = delete;

    // How long an open may hold up its caller: the first open of a device may
    // have PortAudio look at every device; a reopen of a device that answered
    // before is quick unless its server stalls.
    static constexpr std::chrono::milliseconds FirstOpenWait{10000 * platform::BuildSlowdown};
    static constexpr std::chrono::milliseconds ReopenWait{1000 * platform::BuildSlowdown};

    UINT outputDeviceCount() override;
    UINT inputDeviceCount() override;

    MMRESULT openOutput(const WAVEFORMATEX& format, StreamClient& client) override;
    MMRESULT closeOutput() override;

    MMRESULT openInput(const WAVEFORMATEX& format, StreamClient& client) override;
    MMRESULT startInput() override;
    MMRESULT stopInput() override;
    MMRESULT closeInput() override;

    std::string deviceName(WaveDirection direction) const override;
    int openedChannels(WaveDirection direction) const override;
    bool streamFailed(WaveDirection direction) const override;
    std::string lastFailure() const override;

    struct CallbackContext; // what a stream's audio thread touches

  private:
    struct Stream {
        PaStream* handle = nullptr;
        // Shared with a close that may outlive the wait for it.
        std::shared_ptr<CallbackContext> context;
        bool running = false;   // callbacks are due
        bool abandoned = false; // a stop or close that did not return in time
        std::string name;       // the device the last open reached
        int channels = 0;       // and the channels it was opened with
        // The choice the first open resolved, and the device it reached:
        // every later open of that choice goes to that device or fails.
        std::string chosen;
        std::string reached;
        bool remembered = false;
    };

    UINT countDevices(WaveDirection direction);
    Stream& stream(WaveDirection direction) { return m_streams[index(direction)]; }
    const Stream& stream(WaveDirection direction) const { return m_streams[index(direction)]; }
    static std::size_t index(WaveDirection direction) {
        return direction == WaveDirection::Output ? 0 : 1;
    }

    MMRESULT openStream(WaveDirection direction, const WAVEFORMATEX& format, StreamClient& client);
    MMRESULT startStream(Stream& stream);
    MMRESULT closeStream(Stream& stream);
    MMRESULT fail(int paError);
    MMRESULT fail(MMRESULT result, std::string failure);

    mutable std::mutex m_mutex;
    Stream m_streams[2];
    std::string m_lastFailure;
};
