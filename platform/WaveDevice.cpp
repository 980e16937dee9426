#include "platform/WaveDevice.h"

#include "platform/StreamAlignment.h"
#include "platform/Thread.h"

#include <algorithm>
#include <cstring>
#include <system_error>

namespace {

// The flags of a header that the layer, the notifier and the owner each
// touch in turn; the owner reads them only after it is notified.
std::atomic_ref<DWORD> flagsOf(WAVEHDR& header) {
    return std::atomic_ref<DWORD>(header.dwFlags);
}

bool isHeld(WAVEHDR& header) {
    return flagsOf(header).load(std::memory_order_acquire) & WHDR_INQUEUE;
}

// The input's clock: the frames handed to the open input since the process
// began. Headers of both directions are stamped with it, so that a sample
// played can be found among those recorded. Written by the input's audio
// thread only.
std::atomic<std::uint64_t> inputFramesHanded{0};

// Where the output's frames stand on that clock, for a card that times its
// blocks. One that does not runs both directions in step, so that the input's
// count when the output is called is where its frames are played.
StreamAlignment alignment;

// Keeps a capture header's gap mark.
void stampPosition(WAVEHDR& header, std::uint64_t position) {
    header.reserved = static_cast<std::uintptr_t>(position << HeaderPositionShift) |
                      (header.reserved & HeaderGapMark);
}

Notifier::Messages messagesFor(WaveDirection direction) {
    if (direction == WaveDirection::Output)
        return {MM_WOM_OPEN, MM_WOM_DONE, MM_WOM_CLOSE};
    return {MM_WIM_OPEN, MM_WIM_DATA, MM_WIM_CLOSE};
}

} // namespace

Notifier::Notifier(DWORD ownerThread, Messages messages)
    : m_ownerThread(ownerThread), m_messages(messages) {}

Notifier::~Notifier() {
    m_abandoned.store(true, std::memory_order_release);
    m_raised.release();
    if (m_thread.joinable())
        m_thread.join();
}

bool Notifier::start(WPARAM device) {
    m_device = device;
    try {
        m_thread = std::thread([this] { run(); });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void Notifier::open() {
    m_openRaised.store(true, std::memory_order_release);
    m_raisedCount.fetch_add(1, std::memory_order_release);
    m_raised.release();
}

// Only the layer adds and only the notifier takes away, so the check holds.
bool Notifier::hold() {
    if (m_held.load(std::memory_order_acquire) >= MaxHeldHeaders)
        return false;
    m_held.fetch_add(1, std::memory_order_relaxed);
    return true;
}

// The ring has room: it never holds more than the headers held.
void Notifier::done(WAVEHDR* header) {
    m_returned.push(header);
    m_raisedCount.fetch_add(1, std::memory_order_release);
    m_raised.release();
}

void Notifier::drain() {
    const std::uint64_t raised = m_raisedCount.load(std::memory_order_acquire);
    std::unique_lock lock(m_mutex);
    m_postedChanged.wait(lock, [&] { return m_postedCount >= raised; });
}

void Notifier::close() {
    m_closeRaised.store(true, std::memory_order_release);
    m_raised.release();
    if (m_thread.joinable())
        m_thread.join();
}

void Notifier::run() {
    for (;;) {
        m_raised.acquire();
        bool ended = false;
        while (postNext(ended)) {
        }
        if (ended)
            return;
    }
}

// A thread that has ended no longer hears of its device.
bool Notifier::postNext(bool& ended) {
    if (m_abandoned.load(std::memory_order_acquire)) {
        ended = true;
        return false;
    }
    if (m_openRaised.exchange(false, std::memory_order_acq_rel)) {
        PostThreadMessageA(m_ownerThread, m_messages.open, m_device, 0);
        posted();
        return true;
    }
    WAVEHDR* header = nullptr;
    if (m_returned.pop(header)) {
        flagsOf(*header).fetch_or(WHDR_DONE, std::memory_order_relaxed);
        flagsOf(*header).fetch_and(~WHDR_INQUEUE, std::memory_order_release);
        m_held.fetch_sub(1, std::memory_order_release);
        PostThreadMessageA(m_ownerThread, m_messages.done, m_device,
                           reinterpret_cast<LPARAM>(header));
        posted();
        return true;
    }
    if (m_closeRaised.load(std::memory_order_acquire)) {
        PostThreadMessageA(m_ownerThread, m_messages.close, m_device, 0);
        ended = true;
    }
    return false;
}

void Notifier::posted() {
    {
        std::lock_guard lock(m_mutex);
        ++m_postedCount;
    }
    m_postedChanged.notify_all();
}

// Lets the audio thread at the queue unless a reset keeps it off; the reset
// waits only for a callback already inside to leave. Both sides write their
// own flag before they read the other's (sequentially consistent), so at
// least one of them sees the other.
class WaveDevice::Callback {
  public:
    explicit Callback(WaveDevice& device) : m_device(device) {
        m_device.m_inCallback.store(true);
        m_admitted = !m_device.m_resetting.load();
    }
    ~Callback() { m_device.m_inCallback.store(false, std::memory_order_release); }
    Callback(const Callback&) = delete;
    Callback& operator=(const Callback&) = delete;

    bool admitted() const { return m_admitted; }

  private:
    WaveDevice& m_device;
    bool m_admitted = false;
};

WaveDevice::WaveDevice(WaveDirection direction, SoundCard& card, const WAVEFORMATEX& format,
                       DWORD ownerThread)
    : m_direction(direction), m_card(card), m_format(format),
      m_notifier(ownerThread, messagesFor(direction)) {}

// Starting the input, or opening a stream, pairs the streams anew: the
// input's clock went on while the output played, or a new stream has a delay
// of its own.
void WaveDevice::setStarted(bool started) {
    m_started = started;
    if (started)
        alignment.restart();
}

void WaveDevice::setStreamOpen(bool open) {
    m_streamOpen = open;
    if (!open)
        return;
    m_streamOpenedAt.store(std::chrono::steady_clock::now().time_since_epoch().count(),
                           std::memory_order_relaxed);
    alignment.restart();
}

MMRESULT WaveDevice::attach() {
    return m_notifier.start(handle()) ? MMSYSERR_NOERROR : MMSYSERR_NOMEM;
}

std::size_t WaveDevice::framesIn(const WAVEHDR& header) const {
    return header.dwBufferLength / m_format.nBlockAlign;
}

MMRESULT WaveDevice::prepare(WAVEHDR& header) {
    if (!header.lpData || framesIn(header) == 0)
        return MMSYSERR_INVALPARAM;
    if (isHeld(header))
        return WAVERR_STILLPLAYING;
    flagsOf(header).fetch_or(WHDR_PREPARED, std::memory_order_relaxed);
    return MMSYSERR_NOERROR;
}

MMRESULT WaveDevice::unprepare(WAVEHDR& header) {
    if (isHeld(header))
        return WAVERR_STILLPLAYING;
    flagsOf(header).fetch_and(~WHDR_PREPARED, std::memory_order_relaxed);
    return MMSYSERR_NOERROR;
}

// The header goes into the ring before its frames are counted, so that a
// card that asks queuedFrames() never finds fewer frames than it was told.
MMRESULT WaveDevice::enqueue(WAVEHDR& header) {
    const DWORD flags = flagsOf(header).load(std::memory_order_acquire);
    if (!(flags & WHDR_PREPARED))
        return WAVERR_UNPREPARED;
    if (flags & WHDR_INQUEUE)
        return WAVERR_STILLPLAYING;
    const bool loops = flags & (WHDR_BEGINLOOP | WHDR_ENDLOOP);
    if (m_direction == WaveDirection::Output && loops && header.dwLoops > 1)
        return MMSYSERR_NOTSUPPORTED;
    if (!m_notifier.hold())
        return MMSYSERR_NOMEM;
    header.reserved = 0;
    if (m_direction == WaveDirection::Input)
        header.dwBytesRecorded = 0;
    flagsOf(header).store((flags & ~WHDR_DONE) | WHDR_INQUEUE, std::memory_order_relaxed);
    if (m_direction == WaveDirection::Output)
        m_outputInUse.store(true, std::memory_order_relaxed);
    m_queue.push(&header);
    m_queuedFrames.fetch_add(framesIn(header), std::memory_order_relaxed);
    m_card.buffersQueued();
    return MMSYSERR_NOERROR;
}

void WaveDevice::returnAll() {
    m_outputInUse.store(false, std::memory_order_relaxed);
    m_resetting.store(true);
    while (m_inCallback.load())
        std::this_thread::yield();
    if (m_current)
        finishCurrent();
    WAVEHDR* header = nullptr;
    while (m_queue.pop(header))
        m_notifier.done(header);
    m_queuedFrames.store(0, std::memory_order_relaxed);
    m_resetting.store(false, std::memory_order_release);
    m_notifier.drain();
}

bool WaveDevice::hasQueuedHeaders() const {
    return m_queuedFrames.load(std::memory_order_relaxed) > 0;
}

WAVEHDR* WaveDevice::currentHeader() {
    if (!m_current)
        m_queue.pop(m_current);
    return m_current;
}

void WaveDevice::finishCurrent() {
    m_notifier.done(m_current);
    m_current = nullptr;
    m_headPosition = 0;
}

void WaveDevice::render(std::int16_t* samples, std::size_t frames) {
    const Callback callback(*this);
    const std::size_t channels = m_format.nChannels;
    const std::size_t frameBytes = m_format.nBlockAlign;
    const std::uint64_t inputPosition =
        alignment.inputPositionOf(m_framesRendered)
            .value_or(inputFramesHanded.load(std::memory_order_relaxed));
    m_framesRendered += frames;
    std::size_t filled = 0;
    if (callback.admitted()) {
        while (filled < frames) {
            WAVEHDR* header = currentHeader();
            if (!header)
                break;
            if (m_headPosition == 0)
                stampPosition(*header, inputPosition + filled);
            const std::size_t length = framesIn(*header);
            const std::size_t count = std::min(length - m_headPosition, frames - filled);
            std::memcpy(samples + filled * channels, header->lpData + m_headPosition * frameBytes,
                        count * frameBytes);
            filled += count;
            m_headPosition += count;
            m_queuedFrames.fetch_sub(count, std::memory_order_relaxed);
            if (m_headPosition == length)
                finishCurrent();
        }
        if (filled < frames && m_outputInUse.load(std::memory_order_relaxed))
            m_gaps.fetch_add(1, std::memory_order_relaxed);
    }
    std::fill(samples + filled * channels, samples + frames * channels, std::int16_t{0});
}

// What finds no queued buffer is lost, as on a real card; the header that
// records next carries the mark of the gap. The input's clock counts every
// frame handed here, lost or not, so that it keeps pace with the output.
void WaveDevice::capture(const std::int16_t* samples, std::size_t frames) {
    const Callback callback(*this);
    if (!callback.admitted())
        return;
    const std::size_t channels = m_format.nChannels;
    const std::size_t frameBytes = m_format.nBlockAlign;
    const std::uint64_t position = inputFramesHanded.load(std::memory_order_relaxed);
    std::size_t stored = 0;
    while (stored < frames) {
        WAVEHDR* header = currentHeader();
        if (!header)
            break;
        const std::size_t length = framesIn(*header);
        const std::size_t recorded = header->dwBytesRecorded / frameBytes;
        if (recorded == 0)
            stampPosition(*header, position + stored);
        if (m_gapPending.exchange(false, std::memory_order_relaxed))
            header->reserved |= HeaderGapMark;
        const std::size_t count = std::min(length - recorded, frames - stored);
        std::memcpy(header->lpData + header->dwBytesRecorded, samples + stored * channels,
                    count * frameBytes);
        stored += count;
        header->dwBytesRecorded += static_cast<DWORD>(count * frameBytes);
        m_queuedFrames.fetch_sub(count, std::memory_order_relaxed);
        if (recorded + count == length)
            finishCurrent();
    }
    inputFramesHanded.fetch_add(frames, std::memory_order_relaxed);
    if (stored < frames)
        lostFrames();
}

// Frames that the card lost never reach the input's clock, and silence that
// the card played for want of samples never reached the output's count: the
// streams are paired anew.
void WaveDevice::inputOverflowed() {
    alignment.restart();
    const Callback callback(*this);
    if (callback.admitted())
        lostFrames();
}

void WaveDevice::outputUnderflowed() {
    alignment.restart();
    const Callback callback(*this);
    if (callback.admitted() && m_outputInUse.load(std::memory_order_relaxed))
        m_gaps.fetch_add(1, std::memory_order_relaxed);
}

// Only the audio thread of the block's direction touches its side of the
// alignment, and the input's clock is its own.
void WaveDevice::blockTimed(double seconds, std::size_t frames) {
    const double time = seconds * m_format.nSamplesPerSec;
    if (m_direction == WaveDirection::Output)
        alignment.outputLeaves(m_framesRendered, frames, time);
    else
        alignment.inputEntered(inputFramesHanded.load(std::memory_order_relaxed), frames, time);
}

void WaveDevice::lostFrames() {
    m_gaps.fetch_add(1, std::memory_order_relaxed);
    m_gapPending.store(true, std::memory_order_relaxed);
}

std::size_t WaveDevice::queuedFrames() {
    return m_queuedFrames.load(std::memory_order_relaxed);
}

std::uint64_t platform::StreamPairings() {
    return alignment.pairings();
}
