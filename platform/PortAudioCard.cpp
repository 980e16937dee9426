#include "platform/PortAudioCard.h"

#include "platform/AudioCallback.h"
#include "platform/AudioDevices.h"
#include "platform/PortAudioLibrary.h"

#include <portaudio.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

using platform::PortAudioLock;

namespace {

using Clock = std::chrono::steady_clock;

constexpr double SampleRate = 44100.0;

// Enough for the ALSA plugin in front of a sound server to play and record
// without gaps; the device's own default is often shorter than that.
constexpr PaTime MinimumLatency = 0.15;

// PortAudio says nothing about a stream whose sound server died: its
// callbacks simply stop. A running stream silent for this long is dead. A
// server that has just started may take nearly two seconds to deliver its
// first capture, so the first callback is given longer.
constexpr auto SilenceLimit = std::chrono::seconds(2);
constexpr auto FirstCallbackLimit = std::chrono::seconds(5);

// How long stopping or closing a stream may hold up its caller: a live
// stream ends within milliseconds, and the device layer's shutdown closes
// two of them within its two seconds.
constexpr auto EndWait = std::chrono::milliseconds(750);

// The mono samples converted per step in a callback; PortAudio's callbacks
// may be longer and are converted in several steps.
constexpr std::size_t ScratchFrames = 1024;

// The most channels a device is opened with: enough to take the mono signal
// from either side of a stereo input and to play it on both sides, and for a
// stereo stream.
constexpr int WantedChannels = 2;

bool isSupported(const WAVEFORMATEX& format) {
    return format.wFormatTag == WAVE_FORMAT_PCM &&
           (format.nChannels == 1 || format.nChannels == WantedChannels) &&
           format.nSamplesPerSec == SampleRate && format.wBitsPerSample == 16 &&
           format.nBlockAlign == 2 * format.nChannels &&
           format.nAvgBytesPerSec == format.nBlockAlign * format.nSamplesPerSec;
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

const char* directionWord(WaveDirection direction) {
    return direction == WaveDirection::Output ? "output" : "input";
}

int channelsOf(const PaDeviceInfo& device, WaveDirection direction) {
    return direction == WaveDirection::Output ? device.maxOutputChannels : device.maxInputChannels;
}

// The device listed under `name` as AudioDeviceInfo gives it; paNoDevice
// when there is none.
PaDeviceIndex deviceNamed(std::string_view name) {
    for (PaDeviceIndex index = 0; index < Pa_GetDeviceCount(); ++index) {
        const auto device = platform::DescribeAudioDevice(index);
        if (device && device->name == name)
            return index;
    }
    return paNoDevice;
}

// ALSA's `default` device falls back to the raw card (`sysdefault`) when its
// sound server is down, and a stream that holds the raw card locks the
// server out when it restarts. So where the sound server's own ALSA device
// answers, `default` is opened through that device instead, which has no
// fallback: from the first open on, so that every reopen reaches the same
// server or nothing.
PaDeviceIndex throughSoundServer(PaDeviceIndex device, WaveDirection direction) {
    const PaDeviceInfo* info = Pa_GetDeviceInfo(device);
    const PaHostApiInfo* api = info != nullptr ? Pa_GetHostApiInfo(info->hostApi) : nullptr;
    if (api == nullptr || api->type != paALSA || std::string_view(info->name) != "default")
        return device;
    for (const char* server : {"pipewire (ALSA)", "pulse (ALSA)"}) {
        const PaDeviceIndex serverDevice = deviceNamed(server);
        const PaDeviceInfo* serverInfo = Pa_GetDeviceInfo(serverDevice);
        if (serverInfo != nullptr && channelsOf(*serverInfo, direction) > 0)
            return serverDevice;
    }
    return device;
}

} // namespace

// Set up at open and shared with the stream's audio thread; nothing in it
// is resized while the stream runs.
struct PortAudioCard::CallbackContext {
    CallbackContext(StreamClient& client, int channels, int clientChannels, int channel)
        : client(client), channels(channels), clientChannels(clientChannels), channel(channel) {}

    void noteStart() {
        called.store(false, std::memory_order_relaxed);
        lastCallback.store(Clock::now().time_since_epoch().count(), std::memory_order_relaxed);
    }
    void noteCallback() {
        lastCallback.store(Clock::now().time_since_epoch().count(), std::memory_order_relaxed);
        called.store(true, std::memory_order_relaxed);
    }
    bool silentTooLong() const {
        const Clock::duration silent =
            Clock::now().time_since_epoch() -
            Clock::duration(lastCallback.load(std::memory_order_relaxed));
        return silent >
               (called.load(std::memory_order_relaxed) ? SilenceLimit : FirstCallbackLimit);
    }

    StreamClient& client;
    const int channels;       // the device's
    const int clientChannels; // the client's: as many as the device's, or 1
    const int channel;        // the input channel a mono client's signal is taken from
    std::atomic<Clock::rep> lastCallback{0};
    std::atomic<bool> called{false}; // since the start
    // The card gave up on the stream: a late callback must not reach the
    // client any more.
    std::atomic<bool> abandoned{false};
    std::array<std::int16_t, ScratchFrames> mono{};
};

namespace {

using CallbackContext = PortAudioCard::CallbackContext;

// The two directions are streams of their own, each called back when it
// suits it; the time at which a block leaves or entered the card is what
// relates them. PortAudio gives it on the clock of Pa_GetStreamTime, which
// for ALSA's devices (the sound servers' too) is the system's, the same for
// both streams. 0 where a host API does not know it.
void tellBlockTime(StreamClient& client, PaTime time, unsigned long frames) {
    if (time > 0)
        client.blockTimed(time, frames);
}

// Called on PortAudio's audio thread: nothing here may allocate or wait.
int renderCallback(const void*, void* output, unsigned long frames,
                   const PaStreamCallbackTimeInfo* time, PaStreamCallbackFlags flags, void* user) {
    platform::AudioCallbackScope scope;
    auto& context = *static_cast<CallbackContext*>(user);
    if (context.abandoned.load(std::memory_order_relaxed))
        return paAbort;
    context.noteCallback();
    if (flags & paOutputUnderflow)
        context.client.outputUnderflowed();
    if (time)
        tellBlockTime(context.client, time->outputBufferDacTime, frames);
    auto* samples = static_cast<std::int16_t*>(output);
    if (context.clientChannels == context.channels) {
        context.client.render(samples, frames);
        return paContinue;
    }
    for (std::size_t done = 0; done < frames;) {
        const std::size_t step = std::min<std::size_t>(frames - done, ScratchFrames);
        context.client.render(context.mono.data(), step);
        for (std::size_t i = 0; i < step; ++i)
            std::fill_n(samples + (done + i) * context.channels, context.channels, context.mono[i]);
        done += step;
    }
    return paContinue;
}

int captureCallback(const void* input, void*, unsigned long frames,
                    const PaStreamCallbackTimeInfo* time, PaStreamCallbackFlags flags, void* user) {
    platform::AudioCallbackScope scope;
    auto& context = *static_cast<CallbackContext*>(user);
    if (context.abandoned.load(std::memory_order_relaxed))
        return paAbort;
    context.noteCallback();
    if (flags & paInputOverflow)
        context.client.inputOverflowed();
    if (time)
        tellBlockTime(context.client, time->inputBufferAdcTime, frames);
    const auto* samples = static_cast<const std::int16_t*>(input);
    if (context.clientChannels == context.channels) {
        context.client.capture(samples, frames);
        return paContinue;
    }
    for (std::size_t done = 0; done < frames;) {
        const std::size_t step = std::min<std::size_t>(frames - done, ScratchFrames);
        for (std::size_t i = 0; i < step; ++i)
            context.mono[i] = samples[(done + i) * context.channels + context.channel];
        context.client.capture(context.mono.data(), step);
        done += step;
    }
    return paContinue;
}

// Stops a stream, and closes it when asked, off the caller's thread (see
// RunBounded). Nothing: it did not end in time and is left to end, or not,
// by itself, holding its context until then.
std::optional<PaError> endStream(PaStream* stream, std::shared_ptr<CallbackContext> context,
                                 bool close) {
    auto error = std::make_shared<PaError>(paNoError);
    const bool ended = platform::RunBounded(
        [stream, context, close, error]() mutable {
            *error = Pa_IsStreamStopped(stream) == 1 ? paNoError : Pa_AbortStream(stream);
            if (close) {
                PortAudioLock lock;
                const PaError closed = Pa_CloseStream(stream);
                platform::TerminatePortAudio();
                if (*error == paNoError)
                    *error = closed;
            }
            context.reset();
        },
        EndWait);
    if (!ended)
        return std::nullopt;
    return *error;
}

// One open of a stream: resolving the device, the channels, Pa_OpenStream.
// It runs off the caller's thread, since a stalled sound server can hold
// PortAudio up for half a minute; when the caller stops waiting, the stream
// it opens after all is closed again. It never starts the stream, so an
// abandoned attempt never calls the client.
class OpenAttempt {
  public:
    OpenAttempt(WaveDirection direction, StreamClient& client, int clientChannels,
                platform::DeviceChoice choice, std::optional<std::string> remembered)
        : m_direction(direction), m_client(client), m_clientChannels(clientChannels),
          m_choice(std::move(choice)), m_remembered(std::move(remembered)) {}

    void run() {
        {
            PortAudioLock library;
            if (const PaError initialised = platform::InitialisePortAudio();
                initialised != paNoError)
                refuse(resultFor(initialised), platform::DescribePortAudioError(initialised));
            else if (!open())
                platform::TerminatePortAudio();
        }
        std::lock_guard lock(m_mutex);
        m_done = true;
        if (m_abandoned && handle != nullptr) {
            PortAudioLock library;
            Pa_CloseStream(handle);
            platform::TerminatePortAudio();
            handle = nullptr;
        }
    }

    // Gives up on the attempt unless it has finished; true when given up.
    bool abandonUnlessDone() {
        std::lock_guard lock(m_mutex);
        m_abandoned = !m_done;
        return m_abandoned;
    }

    MMRESULT result = MMSYSERR_ERROR;
    std::string failure;
    PaStream* handle = nullptr;
    std::shared_ptr<CallbackContext> context;
    std::string name; // the device reached, as AudioDeviceInfo names it

  private:
    bool refuse(MMRESULT refusal, std::string words) {
        result = refusal;
        failure = std::move(words);
        return false;
    }

    PaDeviceIndex resolve() {
        const bool output = m_direction == WaveDirection::Output;
        const std::string word = directionWord(m_direction);
        const std::string& chosen = output ? m_choice.output : m_choice.input;
        if (m_remembered) {
            const PaDeviceIndex device = deviceNamed(*m_remembered);
            if (device == paNoDevice)
                refuse(MMSYSERR_BADDEVICEID,
                       "the " + word + " device \"" + *m_remembered + "\" is not present");
            return device;
        }
        if (chosen.empty()) {
            const PaDeviceIndex device =
                output ? Pa_GetDefaultOutputDevice() : Pa_GetDefaultInputDevice();
            if (device == paNoDevice) {
                refuse(MMSYSERR_NODRIVER, "there is no default " + word + " device");
                return device;
            }
            return throughSoundServer(device, m_direction);
        }
        const PaDeviceIndex device = deviceNamed(chosen);
        if (device == paNoDevice) {
            refuse(MMSYSERR_BADDEVICEID,
                   "the " + word + " device \"" + chosen + "\" is not present");
            return device;
        }
        return throughSoundServer(device, m_direction);
    }

    bool open() {
        const bool output = m_direction == WaveDirection::Output;
        const std::string word = directionWord(m_direction);
        const PaDeviceIndex device = resolve();
        if (device == paNoDevice)
            return false;
        const PaDeviceInfo* info = Pa_GetDeviceInfo(device);
        const auto described = platform::DescribeAudioDevice(device);
        if (info == nullptr || !described)
            return refuse(MMSYSERR_BADDEVICEID,
                          "PortAudio does not describe the " + word + " device");

        const int available = channelsOf(*info, m_direction);
        if (available < 1)
            return refuse(MMSYSERR_BADDEVICEID,
                          "the device \"" + described->name + "\" has no " + word + " channels");
        if (available < m_clientChannels)
            return refuse(WAVERR_BADFORMAT, "the " + word + " device \"" + described->name +
                                                "\" has " + std::to_string(available) +
                                                " channel, not the " +
                                                std::to_string(m_clientChannels) + " asked for");
        int channels = std::min(WantedChannels, available);
        const int inputChannel = m_choice.inputChannel;
        if (!output && m_clientChannels == 1) {
            if (inputChannel < 1 || inputChannel > available)
                return refuse(WAVERR_BADFORMAT, "the input device \"" + described->name +
                                                    "\" has " + std::to_string(available) +
                                                    " channels, so it has no channel " +
                                                    std::to_string(inputChannel));
            channels = std::min(available, std::max(WantedChannels, inputChannel));
        }

        context = std::make_shared<CallbackContext>(m_client, channels, m_clientChannels,
                                                    output ? 0 : inputChannel - 1);
        const PaTime defaultLatency =
            output ? info->defaultHighOutputLatency : info->defaultHighInputLatency;
        const PaStreamParameters parameters{device, channels, paInt16,
                                            std::max(defaultLatency, MinimumLatency), nullptr};
        const PaError opened =
            Pa_OpenStream(&handle, output ? nullptr : &parameters, output ? &parameters : nullptr,
                          SampleRate, paFramesPerBufferUnspecified, paNoFlag,
                          output ? renderCallback : captureCallback, context.get());
        if (opened != paNoError) {
            handle = nullptr;
            return refuse(resultFor(opened), platform::DescribePortAudioError(opened));
        }
        result = MMSYSERR_NOERROR;
        name = described->name;
        return true;
    }

    const WaveDirection m_direction;
    StreamClient& m_client;
    const int m_clientChannels;
    const platform::DeviceChoice m_choice;
    const std::optional<std::string> m_remembered;
    std::mutex m_mutex;
    bool m_done = false;
    bool m_abandoned = false;
};

} // namespace

PortAudioCard::~PortAudioCard() {
    closeInput();
    closeOutput();
}

UINT PortAudioCard::outputDeviceCount() {
    return countDevices(WaveDirection::Output);
}

UINT PortAudioCard::inputDeviceCount() {
    return countDevices(WaveDirection::Input);
}

UINT PortAudioCard::countDevices(WaveDirection direction) {
    std::string failure;
    const std::vector<platform::AudioDeviceInfo> devices = platform::ListAudioDevices(&failure);
    std::lock_guard lock(m_mutex);
    m_lastFailure = failure;
    return static_cast<UINT>(std::count_if(devices.begin(), devices.end(), [&](const auto& device) {
        return (direction == WaveDirection::Output ? device.outputChannels : device.inputChannels) >
               0;
    }));
}

MMRESULT PortAudioCard::openOutput(const WAVEFORMATEX& format, StreamClient& client) {
    std::lock_guard lock(m_mutex);
    m_lastFailure.clear();
    const MMRESULT opened = openStream(WaveDirection::Output, format, client);
    if (opened != MMSYSERR_NOERROR)
        return opened;
    const MMRESULT started = startStream(stream(WaveDirection::Output));
    if (started != MMSYSERR_NOERROR) {
        const std::string failure = m_lastFailure;
        closeStream(stream(WaveDirection::Output));
        return fail(started, failure);
    }
    return MMSYSERR_NOERROR;
}

MMRESULT PortAudioCard::closeOutput() {
    std::lock_guard lock(m_mutex);
    m_lastFailure.clear();
    return closeStream(stream(WaveDirection::Output));
}

MMRESULT PortAudioCard::openInput(const WAVEFORMATEX& format, StreamClient& client) {
    std::lock_guard lock(m_mutex);
    m_lastFailure.clear();
    return openStream(WaveDirection::Input, format, client);
}

MMRESULT PortAudioCard::startInput() {
    std::lock_guard lock(m_mutex);
    m_lastFailure.clear();
    Stream& input = stream(WaveDirection::Input);
    if (input.handle == nullptr)
        return MMSYSERR_INVALHANDLE;
    if (input.running)
        return MMSYSERR_NOERROR;
    return startStream(input);
}

MMRESULT PortAudioCard::stopInput() {
    std::lock_guard lock(m_mutex);
    m_lastFailure.clear();
    Stream& input = stream(WaveDirection::Input);
    if (input.handle == nullptr)
        return input.abandoned ? MMSYSERR_NOERROR : MMSYSERR_INVALHANDLE;
    if (!input.running)
        return MMSYSERR_NOERROR;
    // Aborting drops what the device still holds; capture ends either way.
    const std::optional<PaError> stopped = endStream(input.handle, input.context, false);
    if (!stopped) {
        // Left behind, never closed: it may leak, but the caller goes on.
        input.context->abandoned.store(true, std::memory_order_relaxed);
        input.handle = nullptr;
        input.context.reset();
        input.running = false;
        input.abandoned = true;
        return MMSYSERR_NOERROR;
    }
    if (*stopped != paNoError)
        return fail(*stopped);
    input.running = false;
    return MMSYSERR_NOERROR;
}

MMRESULT PortAudioCard::closeInput() {
    std::lock_guard lock(m_mutex);
    m_lastFailure.clear();
    return closeStream(stream(WaveDirection::Input));
}

std::string PortAudioCard::deviceName(WaveDirection direction) const {
    std::lock_guard lock(m_mutex);
    return stream(direction).name;
}

int PortAudioCard::openedChannels(WaveDirection direction) const {
    std::lock_guard lock(m_mutex);
    return stream(direction).channels;
}

bool PortAudioCard::streamFailed(WaveDirection direction) const {
    std::lock_guard lock(m_mutex);
    const Stream& s = stream(direction);
    if (s.abandoned)
        return true;
    if (s.handle == nullptr || !s.running)
        return false;
    return Pa_IsStreamActive(s.handle) != 1 || s.context->silentTooLong();
}

std::string PortAudioCard::lastFailure() const {
    std::lock_guard lock(m_mutex);
    return m_lastFailure;
}

MMRESULT PortAudioCard::openStream(WaveDirection direction, const WAVEFORMATEX& format,
                                   StreamClient& client) {
    Stream& s = stream(direction);
    if (s.handle != nullptr)
        return fail(MMSYSERR_ALLOCATED, "the device is already open");
    if (!isSupported(format))
        return fail(WAVERR_BADFORMAT, "only mono or stereo 16-bit PCM at 44100 Hz is supported");

    const platform::DeviceChoice choice = platform::ChosenSystemDevices();
    const std::string& chosen = direction == WaveDirection::Output ? choice.output : choice.input;
    const bool reopening = s.remembered && s.chosen == chosen;
    auto attempt =
        std::make_shared<OpenAttempt>(direction, client, format.nChannels, choice,
                                      reopening ? std::optional(s.reached) : std::nullopt);
    const auto wait = reopening ? ReopenWait : FirstOpenWait;
    if (!platform::RunBounded([attempt] { attempt->run(); }, wait) && attempt->abandonUnlessDone())
        return fail(MMSYSERR_ERROR, std::string("the ") + directionWord(direction) +
                                        " device did not answer within " +
                                        std::to_string(wait.count() / 1000) + " s");
    if (attempt->result != MMSYSERR_NOERROR)
        return fail(attempt->result, attempt->failure);

    s.handle = attempt->handle;
    s.context = std::move(attempt->context);
    s.running = false;
    s.abandoned = false;
    s.name = attempt->name;
    s.channels = s.context->channels;
    if (!reopening) {
        s.chosen = chosen;
        s.reached = attempt->name;
        s.remembered = true;
    }
    return MMSYSERR_NOERROR;
}

MMRESULT PortAudioCard::startStream(Stream& s) {
    // The silence that marks a dead stream counts from the start.
    s.context->noteStart();
    const PaError started = Pa_StartStream(s.handle);
    if (started != paNoError)
        return fail(started);
    s.running = true;
    return MMSYSERR_NOERROR;
}

MMRESULT PortAudioCard::closeStream(Stream& s) {
    if (s.handle == nullptr) {
        if (!std::exchange(s.abandoned, false))
            return MMSYSERR_INVALHANDLE;
        return MMSYSERR_NOERROR;
    }
    PaStream* handle = std::exchange(s.handle, nullptr);
    std::shared_ptr<CallbackContext> context = std::move(s.context);
    s.running = false;
    s.abandoned = false;
    const std::optional<PaError> ended = endStream(handle, context, true);
    if (!ended) {
        // Given up on: the caller may reopen or end at once.
        context->abandoned.store(true, std::memory_order_relaxed);
        return MMSYSERR_NOERROR;
    }
    if (*ended != paNoError)
        return fail(*ended);
    return MMSYSERR_NOERROR;
}

MMRESULT PortAudioCard::fail(int paError) {
    return fail(resultFor(paError), platform::DescribePortAudioError(paError));
}

MMRESULT PortAudioCard::fail(MMRESULT result, std::string failure) {
    m_lastFailure = std::move(failure);
    return result;
}
