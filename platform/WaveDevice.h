// One open waveform device: the queue of headers the card plays from or
// records into, and the notifications to the owning thread. The card's audio
// thread reaches it through StreamClient; the device layer's calls through
// the methods below. An HWAVEOUT or HWAVEIN is a pointer to one of these.
//
// The audio thread never allocates, locks or waits here: queued headers reach
// it through a lock-free ring, it hands the finished ones to the notifier
// through another and wakes it with a semaphore release, and a reset keeps it
// off the queue with two atomic flags instead of a lock.
#pragma once

#include "platform/SoundCard.h"
#include "platform/SpscRing.h"
#include "platform/WaveAudio.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <semaphore>
#include <thread>

// Headers that one device keeps at once, queued or waiting to be returned.
constexpr std::size_t MaxHeldHeaders = 64;
// In WAVEHDR::reserved of a returned capture header: its samples do not
// follow on from those of the header returned before it.
constexpr std::uintptr_t HeaderGapMark = 1;
// Above the gap mark in WAVEHDR::reserved of a returned header: the input's
// position at its first frame (see platform::HeaderInputPosition).
constexpr int HeaderPositionShift = 1;

// Posts a device's notifications to its owning thread from a thread of its
// own, in the order they are raised, so that the card's audio thread never
// waits on a message queue: open first, then the returned headers, then
// close, after which it ends. A header counts as held, and its flags say
// WHDR_INQUEUE, until its notification is posted.
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
    // One more header held until its notification is posted; false when
    // MaxHeldHeaders are held already. The layer's side.
    bool hold();
    // The header is finished: it is marked done and posted. From one thread
    // at a time (the audio thread, or the layer while it keeps the audio
    // thread off); never allocates, locks or waits.
    void done(WAVEHDR* header);
    // Returns once everything raised so far has been posted.
    void drain();
    // Posts the close notification after all others and ends the thread.
    void close();

  private:
    void run();
    // Posts one raised notification; false when none is left, or after close.
    bool postNext(bool& ended);
    void posted();

    const DWORD m_ownerThread;
    const Messages m_messages;
    WPARAM m_device = 0;
    SpscRing<WAVEHDR*, MaxHeldHeaders> m_returned;
    std::counting_semaphore<> m_raised{0};
    std::atomic<bool> m_openRaised{false};
    std::atomic<bool> m_closeRaised{false};
    std::atomic<bool> m_abandoned{false};
    std::atomic<std::size_t> m_held{0};
    std::atomic<std::uint64_t> m_raisedCount{0};
    std::mutex m_mutex; // m_postedCount, for drain()
    std::condition_variable m_postedChanged;
    std::uint64_t m_postedCount = 0;
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
    const WAVEFORMATEX& format() const { return m_format; }
    // Input: between waveInStart and waveInReset. Under the layer's lock.
    bool started() const { return m_started; }
    void setStarted(bool started);
    // The card's stream is open (it is not while a dead one waits to be
    // opened again). Under the layer's lock.
    bool streamOpen() const { return m_streamOpen; }
    void setStreamOpen(bool open);
    // When the card's stream was last opened, first or again.
    std::chrono::steady_clock::time_point streamOpenedAt() const {
        return std::chrono::steady_clock::time_point(
            std::chrono::steady_clock::duration(m_streamOpenedAt.load(std::memory_order_relaxed)));
    }

    // The value of the device's handle, which the notifications carry.
    virtual WPARAM handle() const = 0;

    // Starts the notifications; MMSYSERR_NOMEM when they cannot be started.
    MMRESULT attach();
    // The device is open: its owner hears of it before anything else.
    void opened() { m_notifier.open(); }

    MMRESULT prepare(WAVEHDR& header);
    MMRESULT unprepare(WAVEHDR& header);
    // waveOutWrite or waveInAddBuffer; from one thread at a time.
    MMRESULT enqueue(WAVEHDR& header);
    // Returns every queued header, in order, and posts their notifications
    // before it returns. Not at the same time as enqueue().
    void returnAll();
    bool hasQueuedHeaders() const;
    // The card's stream was opened anew: what the input records next does
    // not follow on from what it recorded before.
    void streamReopened() { m_gapPending.store(true, std::memory_order_relaxed); }
    // Posts the close notification last; the card has let go of the device.
    void closed() { m_notifier.close(); }

    void render(std::int16_t* samples, std::size_t frames) override;
    void capture(const std::int16_t* samples, std::size_t frames) override;
    void inputOverflowed() override;
    void outputUnderflowed() override;
    void blockTimed(double seconds, std::size_t frames) override;
    std::size_t queuedFrames() override;
    // Input: times that captured frames were lost, because no buffer was
    // queued for them or the card overflowed. Output: times that it played
    // silence while in use (between the first write and a reset).
    std::uint64_t gaps() const { return m_gaps.load(std::memory_order_relaxed); }

  private:
    class Callback;

    std::size_t framesIn(const WAVEHDR& header) const;
    // The header the audio thread works on, taking the next queued one when
    // it has none; nullptr when nothing is queued.
    WAVEHDR* currentHeader();
    void finishCurrent();
    void lostFrames();

    const WaveDirection m_direction;
    SoundCard& m_card;
    const WAVEFORMATEX m_format;
    bool m_started = false;
    bool m_streamOpen = false;
    Notifier m_notifier;

    SpscRing<WAVEHDR*, MaxHeldHeaders> m_queue; // from enqueue() to the audio thread
    // The audio thread's, but for the layer while a reset keeps it off.
    WAVEHDR* m_current = nullptr;
    std::size_t m_headPosition = 0;             // output: frames of m_current played
    std::uint64_t m_framesRendered = 0;         // output: by the audio thread, in use or not
    std::atomic<std::size_t> m_queuedFrames{0}; // still to play, or room left to record
    // The handshake that keeps the audio thread off the queue during a reset.
    std::atomic<bool> m_inCallback{false};
    std::atomic<bool> m_resetting{false};
    std::atomic<bool> m_outputInUse{false};
    std::atomic<bool> m_gapPending{false}; // input: mark the next header that records
    std::atomic<std::uint64_t> m_gaps{0};
    std::atomic<std::chrono::steady_clock::rep> m_streamOpenedAt{0};
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
