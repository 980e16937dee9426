// The waveform device layer over the selected sound card: one device per
// direction at a time, checked calls, and error texts that carry the card's
// own words when a failure came from it.
#include "platform/WaveAudio.h"

#include "platform/AudioBackend.h"
#include "platform/SoundCard.h"
#include "platform/StreamWatchdog.h"
#include "platform/WaveDevice.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <string>

namespace {

using SteadyClock = std::chrono::steady_clock;

// How often the card's streams are looked at, and how often a dead one is
// tried again.
constexpr auto WatchPeriod = std::chrono::milliseconds(150);
constexpr auto ReopenPeriod = std::chrono::seconds(1);

std::atomic<std::uint64_t> streamReopens{0};

StreamWatchdog& watchdog();

// The operations of one direction, as test cards name them; starting is for
// input only.
struct Operations {
    WaveOperation open, prepare, unprepare, enqueue, reset, close;
};

constexpr Operations OutputOperations{WaveOperation::OutOpen,      WaveOperation::OutPrepare,
                                      WaveOperation::OutUnprepare, WaveOperation::OutWrite,
                                      WaveOperation::OutReset,     WaveOperation::OutClose};
constexpr Operations InputOperations{WaveOperation::InOpen,      WaveOperation::InPrepare,
                                     WaveOperation::InUnprepare, WaveOperation::InAddBuffer,
                                     WaveOperation::InReset,     WaveOperation::InClose};

// Without the final full stop, so that the card's words can follow.
const char* ownText(MMRESULT code) {
    switch (code) {
    case MMSYSERR_NOERROR:
        return "The operation succeeded";
    case MMSYSERR_ERROR:
        return "The sound device failed";
    case MMSYSERR_BADDEVICEID:
        return "There is no sound device with that number";
    case MMSYSERR_NOTENABLED:
        return "The sound device is not enabled";
    case MMSYSERR_ALLOCATED:
        return "The sound device is already in use";
    case MMSYSERR_INVALHANDLE:
        return "The sound device handle is not valid (the device is not open)";
    case MMSYSERR_NODRIVER:
        return "No sound device is installed";
    case MMSYSERR_NOMEM:
        return "There is not enough memory for the sound device";
    case MMSYSERR_NOTSUPPORTED:
        return "The sound device does not support that operation";
    case MMSYSERR_BADERRNUM:
        return "The error number is not known";
    case MMSYSERR_INVALFLAG:
        return "A flag passed to the sound device is not valid";
    case MMSYSERR_INVALPARAM:
        return "A parameter passed to the sound device is not valid";
    case WAVERR_BADFORMAT:
        return "The sound device cannot use that audio format";
    case WAVERR_STILLPLAYING:
        return "Buffers are still queued on the sound device";
    case WAVERR_UNPREPARED:
        return "The buffer has not been prepared";
    default:
        return nullptr;
    }
}

// Only what the streams can carry: 16-bit PCM, consistent in itself. The
// card decides which rates and channel counts it takes.
MMRESULT checkFormat(const WAVEFORMATEX* format) {
    if (!format)
        return MMSYSERR_INVALPARAM;
    const bool consistent = format->wFormatTag == WAVE_FORMAT_PCM && format->wBitsPerSample == 16 &&
                            format->nChannels > 0 && format->nSamplesPerSec > 0 &&
                            format->nBlockAlign == format->nChannels * 2 &&
                            format->nAvgBytesPerSec == format->nSamplesPerSec * format->nBlockAlign;
    return consistent ? MMSYSERR_NOERROR : WAVERR_BADFORMAT;
}

// The calls of one direction. Two locks, neither taken by the card's audio
// thread: the card lock for what goes to the card's stream (open, start,
// stop, close), which a dead stream's closing and reopening takes too, and
// the queue lock for the headers, so that queueing never waits for the card.
// Whoever replaces the device holds both, so a device is never closed under
// another call.
class DeviceTable {
  public:
    DeviceTable(WaveDirection direction, Operations operations)
        : m_direction(direction), m_operations(operations) {}

    UINT deviceCount() const { return deviceCount(platform::CurrentSoundCard()); }

    MMRESULT open(WaveDevice*& opened, bool hasHandle, UINT deviceId, const WAVEFORMATEX* format,
                  std::uintptr_t callback, DWORD flags) {
        SoundCard& card = platform::CurrentSoundCard();
        if (const MMRESULT fault = card.injectedFault(m_operations.open))
            return refuse(fault);
        if (!hasHandle)
            return refuse(MMSYSERR_INVALPARAM);
        if (flags != CALLBACK_THREAD)
            return refuse(MMSYSERR_INVALFLAG);
        if (callback == 0 || callback > std::numeric_limits<DWORD>::max())
            return refuse(MMSYSERR_INVALPARAM);
        if (deviceId != WAVE_MAPPER && deviceId != 0)
            return refuse(MMSYSERR_BADDEVICEID);
        if (const MMRESULT result = checkFormat(format))
            return refuse(result);
        if (deviceCount(card) == 0)
            return refuse(deviceId == WAVE_MAPPER ? MMSYSERR_NODRIVER : MMSYSERR_BADDEVICEID);

        {
            std::lock_guard cardLock(m_cardMutex);
            if (m_device)
                return refuse(MMSYSERR_ALLOCATED);
            std::unique_ptr<WaveDevice> device =
                makeDevice(card, *format, static_cast<DWORD>(callback));
            if (!device)
                return refuse(MMSYSERR_NOMEM);
            if (const MMRESULT result = device->attach())
                return refuse(result);
            if (const MMRESULT result = openOnCard(card, *format, *device))
                return cardRefused(result, card);
            device->setStreamOpen(true);
            {
                std::lock_guard lock(m_mutex);
                m_device = std::move(device);
                opened = m_device.get();
            }
            // Only now: the owner's first call on hearing of it must find the
            // device open.
            opened->opened();
        }
        watchdog().hold();
        return MMSYSERR_NOERROR;
    }

    MMRESULT prepare(WaveDevice* handle, WAVEHDR* header, UINT headerSize) {
        return onHeader(m_operations.prepare, handle, header, headerSize,
                        [](WaveDevice& device, WAVEHDR& h) { return device.prepare(h); });
    }

    MMRESULT unprepare(WaveDevice* handle, WAVEHDR* header, UINT headerSize) {
        return onHeader(m_operations.unprepare, handle, header, headerSize,
                        [](WaveDevice& device, WAVEHDR& h) { return device.unprepare(h); });
    }

    MMRESULT enqueue(WaveDevice* handle, WAVEHDR* header, UINT headerSize) {
        return onHeader(m_operations.enqueue, handle, header, headerSize,
                        [](WaveDevice& device, WAVEHDR& h) { return device.enqueue(h); });
    }

    MMRESULT start(WaveDevice* handle) {
        if (const MMRESULT fault =
                platform::CurrentSoundCard().injectedFault(WaveOperation::InStart))
            return refuse(fault);
        std::lock_guard lock(m_cardMutex);
        if (!isOpen(handle))
            return refuse(MMSYSERR_INVALHANDLE);
        if (handle->started())
            return MMSYSERR_NOERROR;
        // A stream that is being opened again starts when it is back.
        if (handle->streamOpen()) {
            if (const MMRESULT result = handle->card().startInput())
                return cardRefused(result, handle->card());
        }
        handle->setStarted(true);
        return MMSYSERR_NOERROR;
    }

    MMRESULT reset(WaveDevice* handle) {
        if (const MMRESULT fault = platform::CurrentSoundCard().injectedFault(m_operations.reset))
            return refuse(fault);
        std::lock_guard cardLock(m_cardMutex);
        if (!isOpen(handle))
            return refuse(MMSYSERR_INVALHANDLE);
        // A dead stream, which the watchdog has yet to close, calls back no
        // more: there is nothing to stop.
        SoundCard& card = handle->card();
        if (handle->started() && handle->streamOpen() && !card.streamFailed(m_direction)) {
            if (const MMRESULT result = card.stopInput())
                return cardRefused(result, card);
        }
        handle->setStarted(false);
        std::lock_guard lock(m_mutex);
        handle->returnAll();
        return MMSYSERR_NOERROR;
    }

    MMRESULT close(WaveDevice* handle) {
        if (const MMRESULT fault = platform::CurrentSoundCard().injectedFault(m_operations.close))
            return refuse(fault);
        {
            std::lock_guard cardLock(m_cardMutex);
            std::lock_guard lock(m_mutex);
            if (!isOpen(handle))
                return refuse(MMSYSERR_INVALHANDLE);
            if (handle->hasQueuedHeaders())
                return refuse(WAVERR_STILLPLAYING);
            if (handle->streamOpen()) {
                if (const MMRESULT result = closeOnCard(handle->card()))
                    return cardRefused(result, handle->card());
            }
            handle->closed();
            m_device.reset();
        }
        watchdog().release();
        return MMSYSERR_NOERROR;
    }

    std::uint64_t gaps(WaveDevice* handle) {
        std::lock_guard lock(m_mutex);
        return isOpen(handle) ? handle->gaps() : 0;
    }

    SteadyClock::time_point streamOpenedAt(WaveDevice* handle) {
        std::lock_guard lock(m_mutex);
        return isOpen(handle) ? handle->streamOpenedAt() : SteadyClock::time_point();
    }

    // The watchdog's look at the open device: a dead stream is closed on the
    // card and then opened again, at once and after that once a second.
    // True when it was opened again.
    bool watch(SteadyClock::time_point now) {
        std::lock_guard lock(m_cardMutex);
        WaveDevice* device = m_device.get();
        if (!device)
            return false;
        if (device->streamOpen()) {
            if (!device->card().streamFailed(m_direction))
                return false;
            // A stream that the card will not close is tried again next time.
            if (closeOnCard(device->card()) != MMSYSERR_NOERROR)
                return false;
            device->setStreamOpen(false);
            m_nextReopen = now;
        }
        if (now < m_nextReopen)
            return false;
        m_nextReopen = now + ReopenPeriod;
        return reopen(*device);
    }

    // After the card's devices were chosen anew: the open device's stream
    // closes and opens on what the card now stands for. What cannot be
    // opened is left to the watchdog.
    void reopenNow() {
        std::lock_guard lock(m_cardMutex);
        WaveDevice* device = m_device.get();
        if (!device)
            return;
        if (device->streamOpen()) {
            if (closeOnCard(device->card()) != MMSYSERR_NOERROR)
                return;
            device->setStreamOpen(false);
        }
        m_nextReopen = SteadyClock::now() + ReopenPeriod;
        reopen(*device);
    }

    MMRESULT errorText(MMRESULT code, char* text, UINT textSize) const {
        if (!text || textSize == 0)
            return MMSYSERR_INVALPARAM;
        const char* own = ownText(code);
        if (!own) {
            text[0] = '\0';
            return MMSYSERR_BADERRNUM;
        }
        std::string message = own;
        {
            std::lock_guard lock(m_failureMutex);
            if (m_cardFailure.code == code && !m_cardFailure.words.empty())
                message += " (" + m_cardFailure.words + ")";
        }
        message += '.';
        const std::size_t length = std::min<std::size_t>(message.size(), textSize - 1);
        std::memcpy(text, message.data(), length);
        text[length] = '\0';
        return MMSYSERR_NOERROR;
    }

  private:
    struct CardFailure {
        MMRESULT code = MMSYSERR_NOERROR;
        std::string words;
    };

    template <class Action>
    MMRESULT onHeader(WaveOperation operation, WaveDevice* handle, WAVEHDR* header, UINT headerSize,
                      Action action) {
        if (const MMRESULT fault = platform::CurrentSoundCard().injectedFault(operation))
            return refuse(fault);
        std::lock_guard lock(m_mutex);
        if (!isOpen(handle))
            return refuse(MMSYSERR_INVALHANDLE);
        if (!header || headerSize < sizeof(WAVEHDR))
            return refuse(MMSYSERR_INVALPARAM);
        return settle(action(*handle, *header));
    }

    // A stale or foreign handle is never followed: only the open device's
    // address is taken.
    bool isOpen(const WaveDevice* handle) const { return handle && handle == m_device.get(); }

    UINT deviceCount(SoundCard& card) const {
        return m_direction == WaveDirection::Output ? card.outputDeviceCount()
                                                    : card.inputDeviceCount();
    }

    std::unique_ptr<WaveDevice> makeDevice(SoundCard& card, const WAVEFORMATEX& format,
                                           DWORD owner) const {
        if (m_direction == WaveDirection::Output)
            return std::unique_ptr<WaveDevice>(new (std::nothrow) HWAVEOUT__(card, format, owner));
        return std::unique_ptr<WaveDevice>(new (std::nothrow) HWAVEIN__(card, format, owner));
    }

    MMRESULT openOnCard(SoundCard& card, const WAVEFORMATEX& format, WaveDevice& device) const {
        return m_direction == WaveDirection::Output ? card.openOutput(format, device)
                                                    : card.openInput(format, device);
    }

    MMRESULT closeOnCard(SoundCard& card) const {
        return m_direction == WaveDirection::Output ? card.closeOutput() : card.closeInput();
    }

    // The same device and format on the card again, the input started as it
    // was; what it records next is marked as not following on. Caller holds
    // the card lock.
    bool reopen(WaveDevice& device) {
        SoundCard& card = device.card();
        if (card.injectedFault(m_operations.open) != MMSYSERR_NOERROR)
            return false;
        if (openOnCard(card, device.format(), device) != MMSYSERR_NOERROR)
            return false;
        if (device.started() && card.startInput() != MMSYSERR_NOERROR) {
            closeOnCard(card);
            return false;
        }
        device.streamReopened();
        device.setStreamOpen(true);
        return true;
    }

    MMRESULT settle(MMRESULT result) {
        return result == MMSYSERR_NOERROR ? result : refuse(result);
    }

    MMRESULT refuse(MMRESULT code) {
        std::lock_guard lock(m_failureMutex);
        m_cardFailure = {};
        return code;
    }

    // A code that the layer has no words for still reaches the user with
    // the card's.
    MMRESULT cardRefused(MMRESULT code, const SoundCard& card) {
        const MMRESULT known = ownText(code) ? code : MMSYSERR_ERROR;
        std::lock_guard lock(m_failureMutex);
        m_cardFailure = {known, card.lastFailure()};
        return known;
    }

    const WaveDirection m_direction;
    const Operations m_operations;
    std::mutex m_cardMutex;
    std::mutex m_mutex; // the queue lock; taken after the card lock
    std::unique_ptr<WaveDevice> m_device;
    SteadyClock::time_point m_nextReopen; // under the card lock
    mutable std::mutex m_failureMutex;
    CardFailure m_cardFailure;
};

// Never destroyed: devices may still be closed while the process ends.
DeviceTable& outputs() {
    static auto* table = new DeviceTable(WaveDirection::Output, OutputOperations);
    return *table;
}

DeviceTable& inputs() {
    static auto* table = new DeviceTable(WaveDirection::Input, InputOperations);
    return *table;
}

StreamWatchdog& watchdog() {
    // Streams that a server took down together come back as one reopening.
    static auto* watchdog = new StreamWatchdog(WatchPeriod, [] {
        const SteadyClock::time_point now = SteadyClock::now();
        const bool outputBack = outputs().watch(now);
        const bool inputBack = inputs().watch(now);
        if (outputBack || inputBack)
            streamReopens.fetch_add(1, std::memory_order_relaxed);
    });
    return *watchdog;
}

} // namespace

UINT waveOutGetNumDevs() {
    return outputs().deviceCount();
}

MMRESULT waveOutOpen(LPHWAVEOUT handle, UINT deviceId, const WAVEFORMATEX* format,
                     std::uintptr_t callback, std::uintptr_t /*instance*/, DWORD flags) {
    WaveDevice* device = nullptr;
    const MMRESULT result =
        outputs().open(device, handle != nullptr, deviceId, format, callback, flags);
    if (handle)
        *handle = static_cast<HWAVEOUT>(device);
    return result;
}

MMRESULT waveOutPrepareHeader(HWAVEOUT device, LPWAVEHDR header, UINT headerSize) {
    return outputs().prepare(device, header, headerSize);
}

MMRESULT waveOutUnprepareHeader(HWAVEOUT device, LPWAVEHDR header, UINT headerSize) {
    return outputs().unprepare(device, header, headerSize);
}

MMRESULT waveOutWrite(HWAVEOUT device, LPWAVEHDR header, UINT headerSize) {
    return outputs().enqueue(device, header, headerSize);
}

MMRESULT waveOutReset(HWAVEOUT device) {
    return outputs().reset(device);
}

MMRESULT waveOutClose(HWAVEOUT device) {
    return outputs().close(device);
}

MMRESULT waveOutGetErrorTextA(MMRESULT error, char* text, UINT textSize) {
    return outputs().errorText(error, text, textSize);
}

UINT waveInGetNumDevs() {
    return inputs().deviceCount();
}

MMRESULT waveInOpen(LPHWAVEIN handle, UINT deviceId, const WAVEFORMATEX* format,
                    std::uintptr_t callback, std::uintptr_t /*instance*/, DWORD flags) {
    WaveDevice* device = nullptr;
    const MMRESULT result =
        inputs().open(device, handle != nullptr, deviceId, format, callback, flags);
    if (handle)
        *handle = static_cast<HWAVEIN>(device);
    return result;
}

MMRESULT waveInPrepareHeader(HWAVEIN device, LPWAVEHDR header, UINT headerSize) {
    return inputs().prepare(device, header, headerSize);
}

MMRESULT waveInUnprepareHeader(HWAVEIN device, LPWAVEHDR header, UINT headerSize) {
    return inputs().unprepare(device, header, headerSize);
}

MMRESULT waveInAddBuffer(HWAVEIN device, LPWAVEHDR header, UINT headerSize) {
    return inputs().enqueue(device, header, headerSize);
}

MMRESULT waveInStart(HWAVEIN device) {
    return inputs().start(device);
}

MMRESULT waveInReset(HWAVEIN device) {
    return inputs().reset(device);
}

MMRESULT waveInClose(HWAVEIN device) {
    return inputs().close(device);
}

MMRESULT waveInGetErrorTextA(MMRESULT error, char* text, UINT textSize) {
    return inputs().errorText(error, text, textSize);
}

namespace platform {
std::uint64_t InputGaps(HWAVEIN device) {
    return inputs().gaps(device);
}

std::uint64_t OutputGaps(HWAVEOUT device) {
    return outputs().gaps(device);
}

std::chrono::steady_clock::time_point InputOpenedAt(HWAVEIN device) {
    return inputs().streamOpenedAt(device);
}

bool HeaderHasGap(const WAVEHDR& header) {
    return header.reserved & HeaderGapMark;
}

std::uint64_t HeaderInputPosition(const WAVEHDR& header) {
    return static_cast<std::uint64_t>(header.reserved) >> HeaderPositionShift;
}

void ReopenDevices() {
    outputs().reopenNow();
    inputs().reopenNow();
}

std::uint64_t StreamReopens() {
    return streamReopens.load(std::memory_order_relaxed);
}
} // namespace platform
