// One open waveform device: the queue of headers the card plays from or
// records into, and the notifications to the owning thread. The card's audio
// thread reaches it through StreamClient; the device layer's calls through
// the methods below. An HWAVEOUT or HWAVEIN is a pointer to one of these.
#pragma once

#include "platform/SoundCard.h"
#include "platform/WaveAudio.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>

// Headers linked through their lpNext field, first in first out, so that
// queueing allocates nothing.
class HeaderQueue {
  public:
    bool empty() const { return m_first == nullptr; }
    WAVEHDR* front() const { return m_first; }
    void push(WAVEHDR* header);
    WAVEHDR* pop();
    bool holds(const WAVEHDR* header) const;

  private:
    WAVEHDR* m_first = nullptr;
    WAVEHDR* m_last = nullptr;
};

// Posts a device's notifications to its owning thread from a thread of its
// own, in the order they are raised, so that the card's audio thread never
// waits on a message queue: open first, then the returned headers, then
// close, after which it ends.
class Notifier {
  public:
    struct Messages {
        UINT open, done, close;
    };

    Notifier(DWORD ownerThread, Messages messages);
    ~Notifier(); // ends without posting what is left
    Notifier(const Notifier&) = delete;
    Notifier& operator=(const Notifier&) = delete;

    // Starts the thread, posting with wParam = `device`. False when it cannot.
    bool start(WPARAM device);
    void open();
    // Takes the header until its notification is posted.
    void done(WAVEHDR* header);
    bool holds(const WAVEHDR* header) const;
    // Returns once everything raised so far has been posted.
    void drain();
    // Posts the close notification after all others and ends the thread.
    void close();

  private:
    void run();

    const DWORD m_ownerThread;
    const Messages m_messages;
    WPARAM m_device = 0;
    mutable std::mutex m_mutex;
    std::condition_variable m_raised;
    std::condition_variable m_posted;
    bool m_openRaised = false;
    HeaderQueue m_returned;
    bool m_closeRaised = false;
    bool m_posting = false;
    bool m_abandoned = false;
    std::thread m_thread;
};

class WaveDevice : public StreamClient {
  public:
    WaveDevice(WaveDirection direction, SoundCard& card, const WAVEFORMATEX& format,
               DWORD ownerThread);
    virtual ~WaveDevice() = default;
    WaveDevice(const WaveDevice&) = delete;
    WaveDevice& operator=(const WaveDevice&) = delete;

    SoundCard& card() const { return m_card; }
    // Input: between waveInStart and waveInReset.
    bool started() const { return m_started; }
    void setStarted(bool started) { m_started = started; }

    // The value of the device's handle, which the notifications carry.
    virtual WPARAM handle() const = 0;

    // Starts the notifications; MMSYSERR_NOMEM when they cannot be started.
    MMRESULT attach();
    // The device is open: its owner hears of it before anything else.
    void opened() { m_notifier.open(); }

    MMRESULT prepare(WAVEHDR& header);
    MMRESULT unprepare(WAVEHDR& header);
    // waveOutWrite or waveInAddBuffer.
    MMRESULT enqueue(WAVEHDR& header);
    // Returns every queued header, in order, and posts their notifications
    // before it returns.
    void returnAll();
    bool hasQueuedHeaders() const;
    // Posts the close notification last; the card has let go of the device.
    void closed() { m_notifier.close(); }

    void render(std::int16_t* samples, std::size_t frames) override;
    void capture(const std::int16_t* samples, std::size_t frames) override;
    void inputOverflowed() override;
    std::size_t queuedFrames() override;
    // Input: times that captured frames were lost, because no buffer was
    // queued for them or the card overflowed.
    std::uint64_t gaps() const { return m_gaps.load(std::memory_order_relaxed); }

  private:
    std::size_t framesIn(const WAVEHDR& header) const;
    bool isHeld(const WAVEHDR& header) const; // caller holds m_mutex
    void complete(WAVEHDR* header);           // caller holds m_mutex

    const WaveDirection m_direction;
    SoundCard& m_card;
    const WAVEFORMATEX m_format;
    bool m_started = false; // under the layer's lock
    Notifier m_notifier;

    mutable std::mutex m_mutex; // the queue, its headers and the positions
    HeaderQueue m_queue;
    std::size_t m_queuedFrames = 0; // still to play, or room left to record
    std::size_t m_headPosition = 0; // output: frames of the front header played
    std::atomic<std::uint64_t> m_gaps{0};
};

// The handles are the device objects themselves.
struct HWAVEOUT__ final : WaveDevice {
    HWAVEOUT__(SoundCard& card, const WAVEFORMATEX& format, DWORD ownerThread)
        : WaveDevice(WaveDirection::Output, card, format, ownerThread) {}
    WPARAM handle() const override { return reinterpret_cast<WPARAM>(this); }
};
struct HWAVEIN__ final : WaveDevice {
    HWAVEIN__(SoundCard& card, const WAVEFORMATEX& format, DWORD ownerThread)
        : WaveDevice(WaveDirection::Input, card, format, ownerThread) {}
    WPARAM handle() const override { return reinterpret_cast<WPARAM>(this); }
};
