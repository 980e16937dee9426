// The system's sound card: the default input and output devices through
// PortAudio, in the one format the program uses (mono, 16-bit, 44100 Hz).
// PortAudio is initialised only while it is needed (counting devices, an open
// stream), so a closed card holds no device.
#pragma once

#include "platform/SoundCard.h"

#include <mutex>
#include <string>

typedef void PaStream; // as PortAudio declares it

class PortAudioCard : public SoundCard {
  public:
    PortAudioCard() = default;
    ~PortAudioCard() override;
    PortAudioCard(const PortAudioCard&) = delete;
    PortAudioCard& operator=(const PortAudioCard&) = delete;

    UINT outputDeviceCount() override;
    UINT inputDeviceCount() override;

    MMRESULT openOutput(const WAVEFORMATEX& format, StreamClient& client) override;
    MMRESULT closeOutput() override;

    MMRESULT openInput(const WAVEFORMATEX& format, StreamClient& client) override;
    MMRESULT startInput() override;
    MMRESULT stopInput() override;
    MMRESULT closeInput() override;

    std::string deviceName(WaveDirection direction) const override;
    std::string lastFailure() const override;

  private:
    enum class Direction { Output, Input };

    UINT countDevices(Direction direction);
    MMRESULT openStream(Direction direction, const WAVEFORMATEX& format, StreamClient& client,
                        PaStream*& stream);
    MMRESULT closeStream(PaStream*& stream);
    MMRESULT fail(int paError);
    MMRESULT fail(MMRESULT result, std::string failure);

    mutable std::mutex m_mutex;
    PaStream* m_output = nullptr;
    PaStream* m_input = nullptr;
    bool m_inputRunning = false;
    std::string m_outputName;
    std::string m_inputName;
    std::string m_lastFailure;
};
