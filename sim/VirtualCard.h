// The built-in loop-back sound card: its input records what its output
// plays, passed through a simulated device under test, one per channel
// (CardModel). Streams have one or two channels each way; a two-channel
// stream's buffers hold interleaved left, right frames, and `frames` counts
// frames. A mono output plays on both channels; a mono input records the
// left one. One
// clock thread drives both directions while a device is open, either in real
// time or, for tests, as fast as the clients keep their buffers queued. Tests
// also use it to make device operations fail, to hide the devices, and to
// make its streams die or its input overflow.
#pragma once

#include "platform/SoundCard.h"
#include "sim/DeviceModel.h"
#include "sim/DriftResampler.h"

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <limits>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

// Which call of which operation fails, and with what.
class FaultPlan {
  public:
    // nthCall 1 is the next call; 0 or less clears the operation's fault.
    void fail(WaveOperation operation, int nthCall, MMRESULT code);
    // Counts one call: its injected result, or MMSYSERR_NOERROR.
    MMRESULT take(WaveOperation operation);
    void clear() { m_faults = {}; }

  private:
    struct Fault {
        int callsToGo = 0;
        MMRESULT code = MMSYSERR_NOERROR;
    };
    std::array<Fault, WaveOperationCount> m_faults{};
};

class VirtualCard : public SoundCard {
  public:
    enum class Clock {
        RealTime, // a period every PeriodFrames / sample rate seconds
        Fast,     // a period as soon as every running direction has a buffer queued
    };
    static constexpr std::size_t PeriodFrames = 256;

    VirtualCard() = default;
    ~VirtualCard() override;
    VirtualCard(const VirtualCard&) = delete;
    VirtualCard& operator=(const VirtualCard&) = delete;

    UINT outputDeviceCount() override;
    UINT inputDeviceCount() override;
    MMRESULT openOutput(const WAVEFORMATEX& format, StreamClient& client) override;
    MMRESULT closeOutput() override;
    MMRESULT openInput(const WAVEFORMATEX& format, StreamClient& client) override;
    MMRESULT startInput() override;
    MMRESULT stopInput() override;
    MMRESULT closeInput() override;
    // The same for both directions: the card and its device under test, as
    // --virtual-card settings.
    std::string deviceName(WaveDirection direction) const override;
    std::string lastFailure() const override;
    bool streamFailed(WaveDirection direction) const override;
    void buffersQueued() override;
    MMRESULT injectedFault(WaveOperation operation) override;

    // Back to the defaults: the consumer-card model, the real-time clock, one
    // device each way, no faults, counters at 0. Open devices stay open.
    void reset();

    // False, and nothing changes, for an invalid model or for another sample
    // rate while a device is open. The simulation starts afresh (filters at
    // rest, the noise from its seed) whenever the clock starts, and with the
    // next period after a change; the right channel's also whenever something
    // starts to hear it (a two-channel input, or crosstalk), as it is not
    // simulated while nothing does.
    bool setCardModel(const CardModel& card);
    CardModel cardModel() const;
    // Both channels alike, without crosstalk.
    bool setModel(const DeviceModel& model);
    // The left channel's.
    DeviceModel model() const;
    void setClock(Clock clock);
    void setDeviceCounts(UINT outputs, UINT inputs);

    // The device layer's nthCall-th call of the operation (1 = the next),
    // counted from now, returns `code` and does nothing else. Once only;
    // nthCall 0 takes the fault back.
    void failOperation(WaveOperation operation, int nthCall, MMRESULT code);
    // Every close of that direction fails with MMSYSERR_ERROR and leaves the
    // device open and running, so no close notification comes; until reset().
    void failClose(WaveDirection direction);

    // Called on the calling thread with every device operation the layer
    // carries out, before any injected fault; an empty function removes it.
    void watchOperations(std::function<void(WaveOperation)> watcher);

    // The open streams die as when a sound server goes away: the clock calls
    // their clients no more, and streamFailed() says so until the stream is
    // closed. Returns once no client is being called.
    void killStreams();
    // The next period's recording is lost and the input told of an overflow.
    void injectInputOverflow();

    // Recorded frames that found no queued buffer (real-time clock only: the
    // fast clock waits for one).
    std::uint64_t lostInputFrames() const;
    // Frames the clock has advanced since the last reset().
    std::uint64_t framesElapsed() const;

  private:
    MMRESULT open(WaveDirection direction, const WAVEFORMATEX& format, StreamClient& client);
    MMRESULT close(WaveDirection direction);
    StreamClient*& clientOf(WaveDirection direction); // caller holds m_mutex
    MMRESULT checkFormat(const WAVEFORMATEX& format);
    MMRESULT startClock(); // caller holds both locks
    void stopClockIfIdle(std::unique_lock<std::mutex>& lock);
    void runClock();
    bool inputRecords() const;      // caller holds m_mutex
    bool inputWaitsToStart() const; // caller holds m_mutex
    std::size_t fastStep();
    void runPeriod(std::unique_lock<std::mutex>& lock, std::size_t frames);
    void rebuildSimulation(); // caller holds m_mutex
    void simulate(std::size_t frames, int outputChannels, int inputChannels);
    void awaitPeriodEnd(std::unique_lock<std::mutex>& lock);
    std::uint64_t frameAfter(double seconds) const; // caller holds m_mutex
    void applyDueFaults();                          // caller holds m_mutex
    MMRESULT fail(MMRESULT code, std::string words);

    std::mutex m_openCloseMutex; // so that one clock thread at most exists

    mutable std::mutex m_mutex; // all below, but what the clock thread keeps to itself
    std::condition_variable m_wake;
    std::condition_variable m_periodEnded;
    CardModel m_model;
    bool m_modelChanged = false;         // the clock thread rebuilds the simulation
    std::array<int, 2> m_channels{1, 1}; // of the open streams, by direction
    Clock m_clock = Clock::RealTime;
    UINT m_outputCount = 1;
    UINT m_inputCount = 1;
    std::array<bool, 2> m_closeRefused{};
    std::array<bool, 2> m_dead{}; // by direction, until it is closed
    bool m_overflowInjected = false;
    // The model's faults, as values of m_framesElapsed.
    static constexpr std::uint64_t Never = std::numeric_limits<std::uint64_t>::max();
    std::uint64_t m_streamsDieAt = Never;
    std::uint64_t m_overflowAt = Never;
    StreamClient* m_output = nullptr;
    StreamClient* m_input = nullptr;
    bool m_recording = false;
    std::chrono::steady_clock::time_point m_inputStartsAt; // the model's start delay after an open
    bool m_stopClock = false;
    bool m_inPeriod = false; // the clock thread is calling the clients
    std::uint64_t m_periodsRun = 0;
    std::thread m_clockThread;
    std::uint64_t m_lostInputFrames = 0;
    std::uint64_t m_framesElapsed = 0;
    std::string m_lastFailure;
    // The clock thread's alone, as is the simulation while a period runs.
    static constexpr int MostChannels = 2;
    std::optional<DeviceSimulator> m_left;
    std::optional<DeviceSimulator> m_right; // only while something hears it
    double m_crosstalk = 0.0;               // the leak's amplitude factor
    std::optional<DriftResampler> m_drift;  // only when the clocks differ
    std::array<std::int16_t, MostChannels * PeriodFrames> m_played{};
    std::array<std::int16_t, PeriodFrames> m_playedLeft{};
    std::array<std::int16_t, PeriodFrames> m_playedRight{};
    std::array<double, PeriodFrames> m_leftOutput{};
    std::array<double, PeriodFrames> m_rightOutput{};
    std::array<std::int16_t, MostChannels * PeriodFrames> m_recorded{};

    std::mutex m_faultMutex;
    FaultPlan m_faults;
    std::function<void(WaveOperation)> m_watcher;
};

namespace sim {
// The built-in virtual card, for start-up to hand to the device layer and
// for tests to configure (model, clock, faults). Never destroyed: a device
// may still be closed while the process ends.
VirtualCard& TheVirtualCard();
} // namespace sim
