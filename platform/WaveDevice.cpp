#include "platform/WaveDevice.h"

#include "platform/Thread.h"

#include <algorithm>
#include <cstring>
#include <system_error>

void HeaderQueue::push(WAVEHDR* header) {
    header->lpNext = nullptr;
    if (m_last)
        m_last->lpNext = header;
    else
        m_first = header;
    m_last = header;
}

WAVEHDR* HeaderQueue::pop() {
    WAVEHDR* header = m_first;
    m_first = header->lpNext;
    if (!m_first)
        m_last = nullptr;
    header->lpNext = nullptr;
    return header;
}

bool HeaderQueue::holds(const WAVEHDR* header) const {
    for (const WAVEHDR* queued = m_first; queued; queued = queued->lpNext) {
        if (queued == header)
            return true;
    }
    return false;
}

Notifier::Notifier(DWORD ownerThread, Messages messages)
    : m_ownerThread(ownerThread), m_messages(messages) {}

Notifier::~Notifier() {
    {
        std::lock_guard lock(m_mutex);
        m_abandoned = true;
    }
    m_raised.notify_one();
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
    {
        std::lock_guard lock(m_mutex);
        m_openRaised = true;
    }
    m_raised.notify_one();
}

void Notifier::done(WAVEHDR* header) {
    {
        std::lock_guard lock(m_mutex);
        m_returned.push(header);
    }
    m_raised.notify_one();
}

bool Notifier::holds(const WAVEHDR* header) const {
    std::lock_guard lock(m_mutex);
    return m_returned.holds(header);
}

void Notifier::drain() {
    std::unique_lock lock(m_mutex);
    m_posted.wait(lock, [&] { return !m_openRaised && m_returned.empty() && !m_posting; });
}

void Notifier::close() {
    {
        std::lock_guard lock(m_mutex);
        m_closeRaised = true;
    }
    m_raised.notify_one();
    m_thread.join();
}

void Notifier::run() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_raised.wait(lock, [&] {
            return m_abandoned || m_openRaised || !m_returned.empty() || m_closeRaised;
        });
        if (m_abandoned)
            return;
        UINT message = m_messages.close;
        LPARAM header = 0;
        if (m_openRaised) {
            message = m_messages.open;
            m_openRaised = false;
        } else if (!m_returned.empty()) {
            message = m_messages.done;
            header = reinterpret_cast<LPARAM>(m_returned.pop());
        }
        m_posting = true;
        lock.unlock();
        // A thread that has ended no longer hears of its device.
        PostThreadMessageA(m_ownerThread, message, m_device, header);
        lock.lock();
        m_posting = false;
        m_posted.notify_all();
        if (message == m_messages.close)
            return;
    }
}

namespace {
Notifier::Messages messagesFor(WaveDirection direction) {
    if (direction == WaveDirection::Output)
        return {MM_WOM_OPEN, MM_WOM_DONE, MM_WOM_CLOSE};
    return {MM_WIM_OPEN, MM_WIM_DATA, MM_WIM_CLOSE};
}
} // namespace

WaveDevice::WaveDevice(WaveDirection direction, SoundCard& card, const WAVEFORMATEX& format,
                       DWORD ownerThread)
    : m_direction(direction), m_card(card), m_format(format),
      m_notifier(ownerThread, messagesFor(direction)) {}

MMRESULT WaveDevice::attach() {
    return m_notifier.start(handle()) ? MMSYSERR_NOERROR : MMSYSERR_NOMEM;
}

std::size_t WaveDevice::framesIn(const WAVEHDR& header) const {
    return header.dwBufferLength / m_format.nBlockAlign;
}

bool WaveDevice::isHeld(const WAVEHDR& header) const {
    return m_queue.holds(&header) || m_notifier.holds(&header);
}

MMRESULT WaveDevice::prepare(WAVEHDR& header) {
    std::lock_guard lock(m_mutex);
    if (!header.lpData || framesIn(header) == 0)
        return MMSYSERR_INVALPARAM;
    if (isHeld(header))
        return WAVERR_STILLPLAYING;
    header.dwFlags |= WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT WaveDevice::unprepare(WAVEHDR& header) {
    std::lock_guard lock(m_mutex);
    if (isHeld(header))
        return WAVERR_STILLPLAYING;
    header.dwFlags &= ~WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT WaveDevice::enqueue(WAVEHDR& header) {
    {
        std::lock_guard lock(m_mutex);
        if (!(header.dwFlags & WHDR_PREPARED))
            return WAVERR_UNPREPARED;
        if (isHeld(header))
            return WAVERR_STILLPLAYING;
        const bool loops = header.dwFlags & (WHDR_BEGINLOOP | WHDR_ENDLOOP);
        if (m_direction == WaveDirection::Output && loops && header.dwLoops > 1)
            return MMSYSERR_NOTSUPPORTED;
        header.dwFlags = (header.dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
        if (m_direction == WaveDirection::Input)
            header.dwBytesRecorded = 0;
        m_queue.push(&header);
        m_queuedFrames += framesIn(header);
    }
    m_card.buffersQueued();
    return MMSYSERR_NOERROR;
}

void WaveDevice::returnAll() {
    {
        std::lock_guard lock(m_mutex);
        while (!m_queue.empty())
            complete(m_queue.pop());
        m_queuedFrames = 0;
        m_headPosition = 0;
    }
    m_notifier.drain();
}

bool WaveDevice::hasQueuedHeaders() const {
    std::lock_guard lock(m_mutex);
    return !m_queue.empty();
}

void WaveDevice::complete(WAVEHDR* header) {
    header->dwFlags = (header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    m_notifier.done(header);
}

void WaveDevice::render(std::int16_t* samples, std::size_t frames) {
    const std::size_t channels = m_format.nChannels;
    const std::size_t frameBytes = m_format.nBlockAlign;
    std::size_t filled = 0;
    {
        std::lock_guard lock(m_mutex);
        while (filled < frames && !m_queue.empty()) {
            WAVEHDR* header = m_queue.front();
            const std::size_t length = framesIn(*header);
            const std::size_t count = std::min(length - m_headPosition, frames - filled);
            std::memcpy(samples + filled * channels, header->lpData + m_headPosition * frameBytes,
                        count * frameBytes);
            filled += count;
            m_headPosition += count;
            m_queuedFrames -= count;
            if (m_headPosition == length) {
                m_queue.pop();
                m_headPosition = 0;
                complete(header);
            }
        }
    }
    std::fill(samples + filled * channels, samples + frames * channels, std::int16_t{0});
}

// What finds no queued buffer is lost, as on a real card.
void WaveDevice::capture(const std::int16_t* samples, std::size_t frames) {
    const std::size_t channels = m_format.nChannels;
    const std::size_t frameBytes = m_format.nBlockAlign;
    std::size_t stored = 0;
    std::lock_guard lock(m_mutex);
    while (stored < frames && !m_queue.empty()) {
        WAVEHDR* header = m_queue.front();
        const std::size_t length = framesIn(*header);
        const std::size_t recorded = header->dwBytesRecorded / frameBytes;
        const std::size_t count = std::min(length - recorded, frames - stored);
        std::memcpy(header->lpData + header->dwBytesRecorded, samples + stored * channels,
                    count * frameBytes);
        stored += count;
        header->dwBytesRecorded += static_cast<DWORD>(count * frameBytes);
        m_queuedFrames -= count;
        if (recorded + count == length) {
            m_queue.pop();
            complete(header);
        }
    }
    if (stored < frames)
        m_gaps.fetch_add(1, std::memory_order_relaxed);
}

void WaveDevice::inputOverflowed() {
    m_gaps.fetch_add(1, std::memory_order_relaxed);
}

std::size_t WaveDevice::queuedFrames() {
    std::lock_guard lock(m_mutex);
    return m_queuedFrames;
}
