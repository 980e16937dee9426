#include "platform/PortAudioCard.h"

#include <portaudio.h>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr double SampleRate = 44100.0;

// Enough for the ALSA plugin in front of a sound server to play and record
// without gaps; the device's own default is often shorter than that.
constexpr PaTime MinimumLatency = 0.15;

// ALSA and JACK describe every device they probe on stderr when PortAudio
// initialises, opens or ends; none of it is for the user. Stderr goes to
// /dev/null for the length of such a call. The descriptor is shared by the
// whole process, hence the lock.
class StderrSilencer {
  public:
    StderrSilencer() : m_lock(mutex()) {
        std::fflush(stderr);
        m_saved = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 0);
        const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (m_saved >= 0 && null >= 0)
            ::dup2(null, STDERR_FILENO);
        if (null >= 0)
            ::close(null);
    }
    ~StderrSilencer() {
        if (m_saved < 0)
            return;
        std::fflush(stderr);
        ::dup2(m_saved, STDERR_FILENO);
        ::close(m_saved);
    }
    StderrSilencer(const StderrSilencer&) = delete;
    StderrSilencer& operator=(const StderrSilencer&) = delete;

  private:
    static std::mutex& mutex() {
        static std::mutex instance;
        return instance;
    }

    std::lock_guard<std::mutex> m_lock;
    int m_saved = -1;
};

PaError initialisePortAudio() {
    StderrSilencer silence;
    return Pa_Initialize();
}

void terminatePortAudio() {
    StderrSilencer silence;
    Pa_Terminate();
}

bool isSupported(const WAVEFORMATEX& format) {
    return format.wFormatTag == WAVE_FORMAT_PCM && format.nChannels == 1 &&
           format.nSamplesPerSec == SampleRate && format.wBitsPerSample == 16 &&
           format.nBlockAlign == 2 && format.nAvgBytesPerSec == 2 * format.nSamplesPerSec;
}

MMRESULT resultFor(PaError error) {
    switch (error) {
    case paInvalidDevice:
        return MMSYSERR_BADDEVICEID;
    case paDeviceUnavailable:
        return MMSYSERR_ALLOCATED;
    case paInvalidSampleRate:
    case paSampleFormatNotSupported:
    case paInvalidChannelCount:
        return WAVERR_BADFORMAT;
    case paInsufficientMemory:
        return MMSYSERR_NOMEM;
    default:
        return MMSYSERR_ERROR;
    }
}

std::string describe(PaError error) {
    std::string text = Pa_GetErrorText(error);
    if (error == paUnanticipatedHostError) {
        const PaHostErrorInfo* host = Pa_GetLastHostErrorInfo();
        if (host != nullptr && host->errorText != nullptr && *host->errorText != '\0')
            text += std::string(": ") + host->errorText;
    }
    return text;
}

// Called on PortAudio's audio thread: nothing here may allocate or wait.
int renderCallback(const void*, void* output, unsigned long frames, const PaStreamCallbackTimeInfo*,
                   PaStreamCallbackFlags, void* client) {
    static_cast<StreamClient*>(client)->render(static_cast<std::int16_t*>(output), frames);
    return paContinue;
}

int captureCallback(const void* input, void*, unsigned long frames, const PaStreamCallbackTimeInfo*,
                    PaStreamCallbackFlags flags, void* client) {
    if (flags & paInputOverflow)
        static_cast<StreamClient*>(client)->inputOverflowed();
    static_cast<StreamClient*>(client)->capture(static_cast<const std::int16_t*>(input), frames);
    return paContinue;
}

// "pulse (ALSA)": the device and the host API it is reached through.
std::string nameOf(const PaDeviceInfo& device) {
    const PaHostApiInfo* api = Pa_GetHostApiInfo(device.hostApi);
    return api ? std::string(device.name) + " (" + api->name + ")" : device.name;
}

} // namespace

PortAudioCard::~PortAudioCard() {
    closeInput();
    closeOutput();
}

UINT PortAudioCard::outputDeviceCount() {
    return countDevices(Direction::Output);
}

UINT PortAudioCard::inputDeviceCount() {
    return countDevices(Direction::Input);
}

UINT PortAudioCard::countDevices(Direction direction) {
    std::lock_guard lock(m_mutex);
    m_lastFailure.clear();
    const PaError initialised = initialisePortAudio();
    if (initialised != paNoError) {
        fail(initialised);
        return 0;
    }
    UINT count = 0;
    for (PaDeviceIndex device = 0; device < Pa_GetDeviceCount(); ++device) {
        const PaDeviceInfo* info = Pa_GetDeviceInfo(device);
        const int channels =
            direction == Direction::Output ? info->maxOutputChannels : info->maxInputChannels;
        if (channels > 0)
            ++count;
    }
    terminatePortAudio();
    return count;
}

MMRESULT PortAudioCard::openOutput(const WAVEFORMATEX& format, StreamClient& client) {
    std::lock_guard lock(m_mutex);
    m_lastFailure.clear();
    const MMRESULT opened = openStream(Direction::Output, format, client, m_output);
    if (opened != MMSYSERR_NOERROR)
        return opened;
    PaError started;
    {
        StderrSilencer silence;
        started = Pa_StartStream(m_output);
    }
    if (started != paNoError) {
        const MMRESULT result = fail(started);
        closeStream(m_output);
        return result;
    }
    return MMSYSERR_NOERROR;
}

MMRESULT PortAudioCard::closeOutput() {
    std::lock_guard lock(m_mutex);
    m_lastFailure.clear();
    return closeStream(m_output);
}

MMRESULT PortAudioCard::openInput(const WAVEFORMATEX& format, StreamClient& client) {
    std::lock_guard lock(m_mutex);
    m_lastFailure.clear();
    return openStream(Direction::Input, format, client, m_input);
}

MMRESULT PortAudioCard::startInput() {
    std::lock_guard lock(m_mutex);
    m_lastFailure.clear();
    if (m_input == nullptr)
        return MMSYSERR_INVALHANDLE;
    if (m_inputRunning)
        return MMSYSERR_NOERROR;
    PaError started;
    {
        StderrSilencer silence;
        started = Pa_StartStream(m_input);
    }
    if (started != paNoError)
        return fail(started);
    m_inputRunning = true;
    return MMSYSERR_NOERROR;
}

MMRESULT PortAudioCard::stopInput() {
    std::lock_guard lock(m_mutex);
    m_lastFailure.clear();
    if (m_input == nullptr)
        return MMSYSERR_INVALHANDLE;
    if (!m_inputRunning)
        return MMSYSERR_NOERROR;
    // Aborting drops what the device still holds; capture ends either way.
    const PaError stopped = Pa_AbortStream(m_input);
    if (stopped != paNoError)
        return fail(stopped);
    m_inputRunning = false;
    return MMSYSERR_NOERROR;
}

MMRESULT PortAudioCard::closeInput() {
    std::lock_guard lock(m_mutex);
    m_lastFailure.clear();
    m_inputRunning = false;
    return closeStream(m_input);
}

std::string PortAudioCard::deviceName(WaveDirection direction) const {
    std::lock_guard lock(m_mutex);
    return direction == WaveDirection::Output ? m_outputName : m_inputName;
}

std::string PortAudioCard::lastFailure() const {
    std::lock_guard lock(m_mutex);
    return m_lastFailure;
}

MMRESULT PortAudioCard::openStream(Direction direction, const WAVEFORMATEX& format,
                                   StreamClient& client, PaStream*& stream) {
    if (stream != nullptr)
        return fail(MMSYSERR_ALLOCATED, "the device is already open");
    if (!isSupported(format))
        return fail(WAVERR_BADFORMAT, "only mono 16-bit PCM at 44100 Hz is supported");

    const PaError initialised = initialisePortAudio();
    if (initialised != paNoError)
        return fail(initialised);

    const bool output = direction == Direction::Output;
    const PaDeviceIndex device = output ? Pa_GetDefaultOutputDevice() : Pa_GetDefaultInputDevice();
    if (device == paNoDevice) {
        terminatePortAudio();
        return fail(MMSYSERR_NODRIVER, output ? "there is no default output device"
                                              : "there is no default input device");
    }
    const PaDeviceInfo* info = Pa_GetDeviceInfo(device);
    const PaTime defaultLatency =
        output ? info->defaultHighOutputLatency : info->defaultHighInputLatency;
    const PaStreamParameters parameters{device, 1, paInt16,
                                        std::max(defaultLatency, MinimumLatency), nullptr};

    PaError opened;
    {
        StderrSilencer silence;
        opened =
            Pa_OpenStream(&stream, output ? nullptr : &parameters, output ? &parameters : nullptr,
                          SampleRate, paFramesPerBufferUnspecified, paNoFlag,
                          output ? renderCallback : captureCallback, &client);
    }
    if (opened != paNoError) {
        stream = nullptr;
        const MMRESULT result = fail(opened);
        terminatePortAudio();
        return result;
    }
    (output ? m_outputName : m_inputName) = nameOf(*info);
    return MMSYSERR_NOERROR;
}

MMRESULT PortAudioCard::closeStream(PaStream*& stream) {
    if (stream == nullptr)
        return MMSYSERR_INVALHANDLE;
    // Nothing still pending in the device is worth waiting for once the
    // owner closes it; aborting also never waits on a stalled server.
    const PaError stopped = Pa_IsStreamStopped(stream) == 1 ? paNoError : Pa_AbortStream(stream);
    const PaError closed = Pa_CloseStream(stream);
    stream = nullptr;
    terminatePortAudio();
    if (stopped != paNoError)
        return fail(stopped);
    if (closed != paNoError)
        return fail(closed);
    return MMSYSERR_NOERROR;
}

MMRESULT PortAudioCard::fail(int paError) {
    return fail(resultFor(paError), describe(paError));
}

MMRESULT PortAudioCard::fail(MMRESULT result, std::string failure) {
    m_lastFailure = std::move(failure);
    return result;
}
