// The waveform device layer on the virtual card, seen from a thread that
// owns the devices and records every notification that reaches its queue.
// Each test file that includes it gets its own copy, so a test suite's name
// may stand for a fixture in one file only.
#pragma once

#include "platform/AudioBackend.h"
#include "platform/Thread.h"
#include "platform/WaveAudio.h"
#include "sim/VirtualCard.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

constexpr WAVEFORMATEX Mono{WAVE_FORMAT_PCM, 1, 44100, 88200, 2, 16, 0};
constexpr UINT WM_MARK = WM_USER + 50;
constexpr UINT WM_END = WM_USER + 51;

struct Notification {
    UINT message;
    WPARAM device;
    WAVEHDR* header;
    DWORD flags;         // of the header, as the owner found them
    DWORD bytesRecorded; // likewise
    bool onOwnerThread;
    bool gap;               // platform::HeaderHasGap, as the owner found it
    std::uint64_t position; // platform::HeaderInputPosition, likewise
};

// What the owner thread heard, in order. One per test.
class NotificationLog {
  public:
    // Notifies under the lock: the test may end, and the log go, once it
    // sees the notification.
    void add(const Notification& notification) {
        std::lock_guard lock(m_mutex);
        m_notifications.push_back(notification);
        m_changed.notify_all();
    }
    std::vector<Notification> waitFor(std::size_t count) {
        return waitUntil([count](const auto& heard) { return heard.size() >= count; });
    }
    // Until `done(notifications)`, or 10 s.
    template <class Done> std::vector<Notification> waitUntil(Done done) {
        std::unique_lock lock(m_mutex);
        m_changed.wait_for(lock, 10s, [&] { return done(m_notifications); });
        return m_notifications;
    }
    // The owner's last touch of the log.
    void addEnd() {
        std::lock_guard lock(m_mutex);
        m_ended = true;
        m_changed.notify_all();
    }
    void waitForEnd() {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return m_ended; });
    }
    void addMark() {
        std::lock_guard lock(m_mutex);
        ++m_marks;
        m_changed.notify_all();
    }
    // Everything the owner heard before it took the next mark.
    std::vector<Notification> waitForMark() {
        std::unique_lock lock(m_mutex);
        const int marks = m_marks + 1;
        lock.unlock();
        PostThreadMessageA(owner, WM_MARK, 0, 0);
        lock.lock();
        m_changed.wait_for(lock, 10s, [&] { return m_marks >= marks; });
        return m_notifications;
    }

    // Runs on the owner thread for each notification, after it is logged.
    std::function<void(const Notification&)> react;
    DWORD owner = 0;
    std::thread::id ownerThread;

  private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Notification> m_notifications;
    int m_marks = 0;
    bool m_ended = false;
};

NotificationLog* activeLog = nullptr;

class Owner : public CWinThread {
  public:
    BOOL InitInstance() override {
        activeLog->ownerThread = std::this_thread::get_id();
        return TRUE;
    }
    ThreadMessageMap GetMessageMap() const override {
        static const ThreadMessageEntry map[] = {
            OnThreadMessage(MM_WOM_OPEN, &Owner::on<MM_WOM_OPEN>),
            OnThreadMessage(MM_WOM_DONE, &Owner::on<MM_WOM_DONE>),
            OnThreadMessage(MM_WOM_CLOSE, &Owner::on<MM_WOM_CLOSE>),
            OnThreadMessage(MM_WIM_OPEN, &Owner::on<MM_WIM_OPEN>),
            OnThreadMessage(MM_WIM_DATA, &Owner::on<MM_WIM_DATA>),
            OnThreadMessage(MM_WIM_CLOSE, &Owner::on<MM_WIM_CLOSE>),
            OnThreadMessage(WM_MARK, &Owner::mark),
            OnThreadMessage(WM_END, &Owner::end),
        };
        return map;
    }

  private:
    template <UINT Message> void on(WPARAM device, LPARAM lParam) {
        auto* header = reinterpret_cast<WAVEHDR*>(lParam);
        const Notification notification{Message,
                                        device,
                                        header,
                                        header ? header->dwFlags : 0,
                                        header ? header->dwBytesRecorded : 0,
                                        std::this_thread::get_id() == activeLog->ownerThread,
                                        header && platform::HeaderHasGap(*header),
                                        header ? platform::HeaderInputPosition(*header) : 0};
        activeLog->add(notification);
        if (activeLog->react)
            activeLog->react(notification);
    }
    void mark(WPARAM, LPARAM) { activeLog->addMark(); }
    void end(WPARAM, LPARAM) {
        activeLog->addEnd();
        AfxEndThread(0, TRUE);
    }
};
constexpr CRuntimeClass OwnerClass = MakeRuntimeClass<Owner>("Owner");

// A buffer of 16-bit samples and its header, at a fixed address.
struct Buffer {
    explicit Buffer(std::vector<std::int16_t> content) : samples(std::move(content)) {
        header.lpData = reinterpret_cast<char*>(samples.data());
        header.dwBufferLength = static_cast<DWORD>(samples.size() * 2);
    }
    explicit Buffer(std::size_t frames) : Buffer(std::vector<std::int16_t>(frames)) {}
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;

    std::vector<std::int16_t> samples;
    WAVEHDR header{};
};

std::vector<std::int16_t> ramp(std::size_t frames, std::int16_t first) {
    std::vector<std::int16_t> samples(frames);
    for (std::size_t i = 0; i < frames; ++i)
        samples[i] = static_cast<std::int16_t>(first + static_cast<int>(i));
    return samples;
}

class WaveAudioTest : public ::testing::Test {
  protected:
    void SetUp() override {
        activeLog = &log;
        platform::UseSoundCard(sim::TheVirtualCard(), platform::AudioBackend::Virtual);
        card.reset();
        card.setClock(VirtualCard::Clock::Fast);
        ASSERT_TRUE(card.setModel(DeviceModel::IdealWire()));
        owner = AfxBeginThread(&OwnerClass)->m_nThreadID;
        log.owner = owner;
    }
    void TearDown() override {
        card.reset();
        if (out) {
            waveOutReset(out);
            waveOutClose(out);
        }
        if (in) {
            waveInReset(in);
            waveInClose(in);
        }
        PostThreadMessageA(owner, WM_END, 0, 0);
        log.waitForEnd();
    }

    MMRESULT openOut() { return waveOutOpen(&out, WAVE_MAPPER, &Mono, owner, 0, CALLBACK_THREAD); }
    MMRESULT openIn() { return waveInOpen(&in, WAVE_MAPPER, &Mono, owner, 0, CALLBACK_THREAD); }

    // Buffers live as long as the test's devices, whatever the test does.
    Buffer& buffer(std::vector<std::int16_t> samples) {
        return buffers.emplace_back(std::move(samples));
    }
    Buffer& buffer(std::size_t frames) { return buffers.emplace_back(frames); }

    MMRESULT write(Buffer& buffer) {
        if (const MMRESULT result = waveOutPrepareHeader(out, &buffer.header, sizeof(WAVEHDR)))
            return result;
        return waveOutWrite(out, &buffer.header, sizeof(WAVEHDR));
    }
    MMRESULT add(Buffer& buffer) {
        if (const MMRESULT result = waveInPrepareHeader(in, &buffer.header, sizeof(WAVEHDR)))
            return result;
        return waveInAddBuffer(in, &buffer.header, sizeof(WAVEHDR));
    }

    // Every notification posted so far, handled.
    std::vector<Notification> heardSoFar() { return log.waitForMark(); }

    static std::vector<UINT> messages(const std::vector<Notification>& heard) {
        std::vector<UINT> result;
        for (const Notification& n : heard)
            result.push_back(n.message);
        return result;
    }
    // One device's notifications keep their order; two devices' may interleave.
    template <class Handle>
    static std::vector<Notification> of(Handle device, const std::vector<Notification>& heard) {
        std::vector<Notification> result;
        for (const Notification& n : heard)
            if (n.device == reinterpret_cast<WPARAM>(device))
                result.push_back(n);
        return result;
    }
    template <class Handle>
    static std::vector<UINT> messagesOf(Handle device, const std::vector<Notification>& heard) {
        return messages(of(device, heard));
    }

    VirtualCard& card = sim::TheVirtualCard();
    std::deque<Buffer> buffers;
    NotificationLog log;
    DWORD owner = 0;
    HWAVEOUT out = nullptr;
    HWAVEIN in = nullptr;
};

// Devices that stream on the real-time clock for as long as the test runs:
// the owner queues every buffer again as it comes back, as the capture and
// playback threads do.
class StreamingTest : public WaveAudioTest {
  protected:
    // Over half a second queued each way, so that a busy test machine does
    // not lose frames on the real-time clock.
    static constexpr std::size_t Frames = 4096, Queued = 8;

    void SetUp() override {
        WaveAudioTest::SetUp();
        card.setClock(VirtualCard::Clock::RealTime);
        for (std::size_t k = 0; k < Queued; ++k) {
            played.emplace_back(ramp(Frames, static_cast<std::int16_t>(k * Frames)));
            recorded.emplace_back(Frames);
        }
        log.react = [this](const Notification& n) { keepQueued(n); };
    }
    void TearDown() override {
        stop();
        WaveAudioTest::TearDown();
    }

    void startStreaming() {
        ASSERT_EQ(openOut(), MMSYSERR_NOERROR);
        ASSERT_EQ(openIn(), MMSYSERR_NOERROR);
    }
    // The owner queues nothing more once it has handled what came so far.
    void stop() {
        stopping = true;
        heardSoFar();
    }
    // Both devices reset and closed, as the application shuts down.
    void shutDown() {
        stop();
        EXPECT_EQ(waveOutReset(out), MMSYSERR_NOERROR);
        EXPECT_EQ(waveInReset(in), MMSYSERR_NOERROR);
        EXPECT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
        EXPECT_EQ(waveInClose(in), MMSYSERR_NOERROR);
        out = nullptr, in = nullptr;
    }

    static std::size_t recordings(const std::vector<Notification>& heard) {
        return std::count_if(heard.begin(), heard.end(),
                             [](const Notification& n) { return n.message == MM_WIM_DATA; });
    }
    // Everything heard once `more` recordings came after the `after` first
    // notifications.
    std::vector<Notification> waitForRecordings(std::size_t after, std::size_t more) {
        return log.waitUntil([&](const std::vector<Notification>& heard) {
            return heard.size() >= after &&
                   recordings({heard.begin() + after, heard.end()}) >= more;
        });
    }

    std::deque<Buffer> played, recorded;
    std::atomic<bool> stopping{false};

  private:
    // The handles as the notifications carry them: the test thread may not
    // have stored its own yet.
    void keepQueued(const Notification& n) {
        if (stopping)
            return;
        const UINT size = sizeof(WAVEHDR);
        const auto output = reinterpret_cast<HWAVEOUT>(n.device);
        const auto input = reinterpret_cast<HWAVEIN>(n.device);
        if (n.message == MM_WOM_OPEN) {
            for (Buffer& b : played) {
                EXPECT_EQ(waveOutPrepareHeader(output, &b.header, size), MMSYSERR_NOERROR);
                EXPECT_EQ(waveOutWrite(output, &b.header, size), MMSYSERR_NOERROR);
            }
        } else if (n.message == MM_WIM_OPEN) {
            for (Buffer& b : recorded) {
                EXPECT_EQ(waveInPrepareHeader(input, &b.header, size), MMSYSERR_NOERROR);
                EXPECT_EQ(waveInAddBuffer(input, &b.header, size), MMSYSERR_NOERROR);
            }
            EXPECT_EQ(waveInStart(input), MMSYSERR_NOERROR);
        } else if (n.message == MM_WOM_DONE) {
            EXPECT_EQ(waveOutWrite(output, n.header, size), MMSYSERR_NOERROR);
        } else if (n.message == MM_WIM_DATA) {
            EXPECT_EQ(waveInAddBuffer(input, n.header, size), MMSYSERR_NOERROR);
        }
    }
};

} // namespace
