#include "sim/VirtualCard.h"

#include "platform/AudioCallback.h"
#include "sim/VirtualCardSettings.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <system_error>
#include <utility>

namespace {

using SteadyClock = std::chrono::steady_clock;

// Deadlines counted from an anchor, so that the clock never drifts. After a
// stall longer than MaxLag it starts again from now instead of rushing to
// catch up.
class Pacer {
  public:
    explicit Pacer(double sampleRate) : m_sampleRate(sampleRate) { restart(); }

    void restart() {
        m_anchor = SteadyClock::now();
        m_frames = 0;
    }

    SteadyClock::time_point deadlineAfter(std::size_t frames) const {
        const double seconds = static_cast<double>(m_frames + frames) / m_sampleRate;
        return m_anchor + std::chrono::duration_cast<SteadyClock::duration>(
                              std::chrono::duration<double>(seconds));
    }

    void advance(std::size_t frames) {
        m_frames += frames;
        if (SteadyClock::now() - deadlineAfter(0) > MaxLag)
            restart();
    }

  private:
    static constexpr auto MaxLag = std::chrono::milliseconds(100);
    const double m_sampleRate;
    SteadyClock::time_point m_anchor;
    std::uint64_t m_frames = 0;
};

std::size_t directionIndex(WaveDirection direction) {
    return direction == WaveDirection::Output ? 0 : 1;
}

std::string nameOf(WaveDirection direction) {
    return direction == WaveDirection::Output ? "the output" : "the input";
}

} // namespace

void FaultPlan::fail(WaveOperation operation, int nthCall, MMRESULT code) {
    m_faults[static_cast<std::size_t>(operation)] = {std::max(nthCall, 0), code};
}

MMRESULT FaultPlan::take(WaveOperation operation) {
    Fault& fault = m_faults[static_cast<std::size_t>(operation)];
    if (fault.callsToGo == 0 || --fault.callsToGo > 0)
        return MMSYSERR_NOERROR;
    return fault.code;
}

VirtualCard::~VirtualCard() {
    std::unique_lock lock(m_mutex);
    m_stopClock = true;
    m_wake.notify_all();
    std::thread clock = std::move(m_clockThread);
    lock.unlock();
    if (clock.joinable())
        clock.join();
}

UINT VirtualCard::outputDeviceCount() {
    std::lock_guard lock(m_mutex);
    return m_outputCount;
}

UINT VirtualCard::inputDeviceCount() {
    std::lock_guard lock(m_mutex);
    return m_inputCount;
}

MMRESULT VirtualCard::openOutput(const WAVEFORMATEX& format, StreamClient& client) {
    return open(WaveDirection::Output, format, client);
}

MMRESULT VirtualCard::closeOutput() {
    return close(WaveDirection::Output);
}

MMRESULT VirtualCard::openInput(const WAVEFORMATEX& format, StreamClient& client) {
    return open(WaveDirection::Input, format, client);
}

MMRESULT VirtualCard::startInput() {
    std::lock_guard lock(m_mutex);
    if (!m_input)
        return fail(MMSYSERR_INVALHANDLE, "the input is not open");
    m_recording = true;
    m_wake.notify_all();
    return MMSYSERR_NOERROR;
}

MMRESULT VirtualCard::stopInput() {
    std::unique_lock lock(m_mutex);
    if (!m_input)
        return fail(MMSYSERR_INVALHANDLE, "the input is not open");
    m_recording = false;
    m_wake.notify_all();
    awaitPeriodEnd(lock);
    return MMSYSERR_NOERROR;
}

MMRESULT VirtualCard::closeInput() {
    return close(WaveDirection::Input);
}

std::string VirtualCard::deviceName(WaveDirection) const {
    return "virtual loop-back card: " + DescribeVirtualCard(cardModel());
}

std::string VirtualCard::lastFailure() const {
    std::lock_guard lock(m_mutex);
    return m_lastFailure;
}

bool VirtualCard::streamFailed(WaveDirection direction) const {
    std::lock_guard lock(m_mutex);
    return m_dead[directionIndex(direction)];
}

// Taking the lock orders the wake-up after the clock's look at the queues.
void VirtualCard::buffersQueued() {
    std::lock_guard lock(m_mutex);
    m_wake.notify_all();
}

MMRESULT VirtualCard::injectedFault(WaveOperation operation) {
    std::unique_lock lock(m_faultMutex);
    const std::function<void(WaveOperation)> watcher = m_watcher;
    lock.unlock();
    if (watcher)
        watcher(operation);
    lock.lock();
    return m_faults.take(operation);
}

void VirtualCard::watchOperations(std::function<void(WaveOperation)> watcher) {
    std::lock_guard lock(m_faultMutex);
    m_watcher = std::move(watcher);
}

void VirtualCard::reset() {
    {
        std::lock_guard lock(m_faultMutex);
        m_faults.clear();
        m_watcher = nullptr;
    }
    std::lock_guard lock(m_mutex);
    m_model = CardModel();
    m_modelChanged = true;
    m_streamsDieAt = Never;
    m_overflowAt = Never;
    m_clock = Clock::RealTime;
    m_outputCount = 1;
    m_inputCount = 1;
    m_closeRefused = {};
    m_dead = {};
    m_overflowInjected = false;
    m_lostInputFrames = 0;
    m_framesElapsed = 0;
    m_lastFailure.clear();
    m_wake.notify_all();
}

bool VirtualCard::setCardModel(const CardModel& card) {
    std::lock_guard lock(m_mutex);
    const bool running = m_output || m_input;
    if (!card.valid() || (running && card.left.sampleRate != m_model.left.sampleRate))
        return false;
    m_model = card;
    m_modelChanged = true;
    m_streamsDieAt = frameAfter(card.left.streamsDieAfterSeconds);
    m_overflowAt = frameAfter(card.left.inputOverflowsAfterSeconds);
    return true;
}

CardModel VirtualCard::cardModel() const {
    std::lock_guard lock(m_mutex);
    return m_model;
}

bool VirtualCard::setModel(const DeviceModel& model) {
    return setCardModel(CardModel(model));
}

DeviceModel VirtualCard::model() const {
    return cardModel().left;
}

void VirtualCard::setClock(Clock clock) {
    std::lock_guard lock(m_mutex);
    m_clock = clock;
    m_wake.notify_all();
}

void VirtualCard::setDeviceCounts(UINT outputs, UINT inputs) {
    std::lock_guard lock(m_mutex);
    m_outputCount = outputs;
    m_inputCount = inputs;
}

void VirtualCard::failOperation(WaveOperation operation, int nthCall, MMRESULT code) {
    std::lock_guard lock(m_faultMutex);
    m_faults.fail(operation, nthCall, code);
}

void VirtualCard::failClose(WaveDirection direction) {
    std::lock_guard lock(m_mutex);
    m_closeRefused[directionIndex(direction)] = true;
}

void VirtualCard::killStreams() {
    std::unique_lock lock(m_mutex);
    m_dead = {m_output != nullptr, m_input != nullptr};
    awaitPeriodEnd(lock);
}

void VirtualCard::injectInputOverflow() {
    std::lock_guard lock(m_mutex);
    m_overflowInjected = true;
}

std::uint64_t VirtualCard::lostInputFrames() const {
    std::lock_guard lock(m_mutex);
    return m_lostInputFrames;
}

std::uint64_t VirtualCard::framesElapsed() const {
    std::lock_guard lock(m_mutex);
    return m_framesElapsed;
}

MMRESULT VirtualCard::open(WaveDirection direction, const WAVEFORMATEX& format,
                           StreamClient& client) {
    std::lock_guard openClose(m_openCloseMutex);
    std::lock_guard lock(m_mutex);
    StreamClient*& opened = clientOf(direction);
    if (opened)
        return fail(MMSYSERR_ALLOCATED, nameOf(direction) + " is already open");
    if (const MMRESULT result = checkFormat(format))
        return result;
    if (const MMRESULT result = startClock())
        return result;
    opened = &client;
    m_channels[directionIndex(direction)] = format.nChannels;
    if (direction == WaveDirection::Input)
        m_inputStartsAt = SteadyClock::now() +
                          std::chrono::duration_cast<SteadyClock::duration>(
                              std::chrono::duration<double>(m_model.left.inputStartDelaySeconds));
    m_wake.notify_all();
    return MMSYSERR_NOERROR;
}

// Once it returns, the client is called no more.
MMRESULT VirtualCard::close(WaveDirection direction) {
    std::lock_guard openClose(m_openCloseMutex);
    std::unique_lock lock(m_mutex);
    if (m_closeRefused[directionIndex(direction)])
        return fail(MMSYSERR_ERROR, nameOf(direction) + " refuses to close (test fault)");
    StreamClient*& opened = clientOf(direction);
    if (!opened)
        return fail(MMSYSERR_INVALHANDLE, nameOf(direction) + " is not open");
    opened = nullptr;
    m_dead[directionIndex(direction)] = false;
    if (direction == WaveDirection::Input)
        m_recording = false;
    awaitPeriodEnd(lock);
    stopClockIfIdle(lock);
    return MMSYSERR_NOERROR;
}

StreamClient*& VirtualCard::clientOf(WaveDirection direction) {
    return direction == WaveDirection::Output ? m_output : m_input;
}

// Both directions run at the model's rate, so that what is played comes back
// sample for sample.
MMRESULT VirtualCard::checkFormat(const WAVEFORMATEX& format) {
    if (format.wFormatTag != WAVE_FORMAT_PCM || format.wBitsPerSample != 16)
        return fail(WAVERR_BADFORMAT, "16-bit PCM only");
    if (format.nChannels < 1 || format.nChannels > MostChannels)
        return fail(WAVERR_BADFORMAT,
                    "1 or 2 channels only, not " + std::to_string(format.nChannels));
    const double rate = m_model.left.sampleRate;
    if (format.nSamplesPerSec != rate)
        return fail(WAVERR_BADFORMAT, "the device model runs at " +
                                          std::to_string(std::lround(rate)) + " Hz, not " +
                                          std::to_string(format.nSamplesPerSec) + " Hz");
    return MMSYSERR_NOERROR;
}

MMRESULT VirtualCard::startClock() {
    if (m_clockThread.joinable())
        return MMSYSERR_NOERROR;
    rebuildSimulation();
    m_stopClock = false;
    try {
        m_clockThread = std::thread([this] { runClock(); });
    } catch (const std::system_error&) {
        return fail(MMSYSERR_NOMEM, "its clock thread cannot be started");
    }
    return MMSYSERR_NOERROR;
}

// The clock ends once neither direction is open; the join happens outside
// the lock, which the clock thread needs to see that it is to stop.
void VirtualCard::stopClockIfIdle(std::unique_lock<std::mutex>& lock) {
    m_wake.notify_all();
    if (m_output || m_input)
        return;
    m_stopClock = true;
    std::thread clock = std::move(m_clockThread);
    lock.unlock();
    clock.join();
}

void VirtualCard::runClock() {
    std::unique_lock lock(m_mutex);
    Pacer pacer(m_model.left.sampleRate);
    while (!m_stopClock) {
        if (m_clock == Clock::Fast) {
            if (const std::size_t frames = fastStep())
                runPeriod(lock, frames);
            else if (inputWaitsToStart())
                m_wake.wait_until(lock, m_inputStartsAt);
            else
                m_wake.wait(lock);
            pacer.restart();
            continue;
        }
        const bool interrupted = m_wake.wait_until(lock, pacer.deadlineAfter(PeriodFrames), [&] {
            return m_stopClock || m_clock != Clock::RealTime;
        });
        if (interrupted)
            continue;
        runPeriod(lock, PeriodFrames);
        pacer.advance(PeriodFrames);
    }
}

bool VirtualCard::inputRecords() const {
    return m_input && m_recording && !m_dead[1];
}

bool VirtualCard::inputWaitsToStart() const {
    return inputRecords() && SteadyClock::now() < m_inputStartsAt;
}

// As many frames as every running direction can take at once, up to a
// period; 0 while one of them has nothing queued or nothing runs, and while
// the input waits to start: the output would only race ahead of it.
std::size_t VirtualCard::fastStep() {
    if (inputWaitsToStart())
        return 0;
    std::size_t frames = PeriodFrames;
    bool running = false;
    if (m_output && !m_dead[0]) {
        running = true;
        frames = std::min(frames, m_output->queuedFrames());
    }
    if (inputRecords()) {
        running = true;
        frames = std::min(frames, m_input->queuedFrames());
    }
    return running ? frames : 0;
}

// The period runs outside the lock, so that no call on the card waits for
// more than the rest of a period; whoever takes a client away waits for its
// end. The input therefore only gains room during a period (stopping it waits
// here first), so what is handed to capture() all finds a buffer and the rest
// is counted as lost and the input told of it, as a real card's overflow.
// The clients are called as a real card's audio thread calls them.
void VirtualCard::runPeriod(std::unique_lock<std::mutex>& lock, std::size_t frames) {
    if (m_modelChanged)
        rebuildSimulation();
    const int outputChannels = m_output ? m_channels[0] : 1;
    const int inputChannels = m_input ? m_channels[1] : 1;
    const bool rightHeard = m_input && (inputChannels == 2 || m_crosstalk != 0.0);
    if (!rightHeard)
        m_right.reset();
    else if (!m_right)
        m_right.emplace(m_model.right);
    StreamClient* output = m_dead[0] ? nullptr : m_output;
    // An input that waits to start records nothing and loses nothing.
    StreamClient* input = inputRecords() && !inputWaitsToStart() ? m_input : nullptr;
    const bool overflow = input && std::exchange(m_overflowInjected, false);
    m_inPeriod = true;
    lock.unlock();

    std::size_t lost = 0;
    {
        const platform::AudioCallbackScope audioThread;
        if (output)
            output->render(m_played.data(), frames);
        else
            std::fill_n(m_played.begin(), frames * outputChannels, std::int16_t{0});
        simulate(frames, outputChannels, inputChannels);
        if (input) {
            const std::size_t delivered = overflow ? 0 : std::min(frames, input->queuedFrames());
            if (delivered > 0)
                input->capture(m_recorded.data(), delivered);
            lost = frames - delivered;
            if (lost > 0)
                input->inputOverflowed();
        }
    }

    lock.lock();
    m_inPeriod = false;
    ++m_periodsRun;
    m_lostInputFrames += lost;
    m_framesElapsed += frames;
    applyDueFaults();
    m_periodEnded.notify_all();
}

void VirtualCard::rebuildSimulation() {
    m_left.emplace(m_model.left);
    m_right.reset();
    m_crosstalk = std::pow(10.0, m_model.crosstalkDb / 20.0);
    m_drift.reset();
    if (m_model.driftPpm != 0.0)
        m_drift.emplace(m_model.driftPpm, m_model.left.sampleRate);
    m_modelChanged = false;
}

// A mono output plays on both channels; a mono input records the left one.
// Without anything that hears the right channel, the left alone runs, as a
// mono card. The input's clock, when it drifts, samples the device outputs
// before the input's rounding, each channel's with the other's leak alike.
void VirtualCard::simulate(std::size_t frames, int outputChannels, int inputChannels) {
    const std::int16_t* playedLeft = m_played.data();
    const std::int16_t* playedRight = m_played.data();
    if (outputChannels == 2) {
        for (std::size_t i = 0; i < frames; ++i) {
            m_playedLeft[i] = m_played[2 * i];
            m_playedRight[i] = m_played[2 * i + 1];
        }
        playedLeft = m_playedLeft.data();
        playedRight = m_playedRight.data();
    }
    if (!m_right && !m_drift) {
        m_left->process(playedLeft, m_recorded.data(), frames);
        return;
    }
    m_left->processUnrounded(playedLeft, m_leftOutput.data(), frames);
    if (m_right)
        m_right->processUnrounded(playedRight, m_rightOutput.data(), frames);
    if (m_drift)
        m_drift->process(m_leftOutput.data(), m_right ? m_rightOutput.data() : nullptr, frames);
    if (!m_right) {
        for (std::size_t i = 0; i < frames; ++i)
            m_recorded[i] = RecordedSample(m_leftOutput[i]);
        return;
    }
    for (std::size_t i = 0; i < frames; ++i) {
        const double left = m_leftOutput[i], right = m_rightOutput[i];
        if (inputChannels == 2) {
            m_recorded[2 * i] = RecordedSample(left + m_crosstalk * right);
            m_recorded[2 * i + 1] = RecordedSample(right + m_crosstalk * left);
        } else {
            m_recorded[i] = RecordedSample(left + m_crosstalk * right);
        }
    }
}

std::uint64_t VirtualCard::frameAfter(double seconds) const {
    if (seconds < 0.0)
        return Never;
    return m_framesElapsed +
           static_cast<std::uint64_t>(std::llround(seconds * m_model.left.sampleRate));
}

void VirtualCard::applyDueFaults() {
    if (m_framesElapsed >= m_streamsDieAt) {
        m_dead = {m_output != nullptr, m_input != nullptr};
        m_streamsDieAt = Never;
    }
    if (m_framesElapsed >= m_overflowAt) {
        m_overflowInjected = true;
        m_overflowAt = Never;
    }
}

// Only the period under way: the next one sees the change already, and
// waiting for a pause between periods could wait for ever in fast mode.
void VirtualCard::awaitPeriodEnd(std::unique_lock<std::mutex>& lock) {
    if (!m_inPeriod)
        return;
    const std::uint64_t underWay = m_periodsRun;
    m_periodEnded.wait(lock, [&] { return m_periodsRun != underWay; });
}

MMRESULT VirtualCard::fail(MMRESULT code, std::string words) {
    m_lastFailure = "virtual card: " + std::move(words);
    return code;
}

namespace sim {
VirtualCard& TheVirtualCard() {
    static auto* card = new VirtualCard;
    return *card;
}
} // namespace sim
