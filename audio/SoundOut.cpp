#include "audio/SoundOut.h"

#include "audio/Audio.h"

#include <algorithm>
#include <cmath>

const CRuntimeClass CSoundOut::runtimeClass = MakeRuntimeClass<CSoundOut>("CSoundOut");

double GenPhase = 0.0;
const double TwoPi = 2 * 3.1415926535;

namespace {

HWAVEOUT deviceOf(WPARAM wParam) {
    return reinterpret_cast<HWAVEOUT>(wParam);
}

// Prepares and writes a filled buffer; a failure shows its box and ends the
// process with status 1. False when stopping.
bool queue(HWAVEOUT device, WAVEHDR* header) {
    MMRESULT result = waveOutPrepareHeader(device, header, sizeof(WAVEHDR));
    if (result != MMSYSERR_NOERROR) {
        if (StopRequested())
            return false;
        ShowWaveOutError(result);
        EndOnWaveOutFailure("waveOutPrepareHeader", result);
    }
    result = waveOutWrite(device, header, sizeof(WAVEHDR));
    if (result != MMSYSERR_NOERROR) {
        if (StopRequested())
            return false;
        ShowWaveOutError(result);
        waveOutUnprepareHeader(device, header, sizeof(WAVEHDR));
        EndOnWaveOutFailure("waveOutWrite", result);
    }
    return true;
}

} // namespace

CSoundOut::~CSoundOut() {
    stopSignal();
}

BOOL CSoundOut::InitInstance() {
    m_amplitude = 1.0;
    return TRUE;
}

ThreadMessageMap CSoundOut::GetMessageMap() const {
    static const ThreadMessageEntry entries[] = {
        OnThreadMessage(MM_WOM_OPEN, &CSoundOut::OnWomOpen),
        OnThreadMessage(MM_WOM_DONE, &CSoundOut::OnWomDone),
        OnThreadMessage(MM_WOM_CLOSE, &CSoundOut::OnWomClose),
        OnThreadMessage(WM_SET_LEVEL, &CSoundOut::OnSetLevel),
        OnThreadMessage(WM_SET_TEST_LEVEL, &CSoundOut::OnSetTestLevel),
        OnThreadMessage(WM_PLAY_SIGNAL, &CSoundOut::OnPlaySignal),
        OnThreadMessage(WM_STOP_SIGNAL, &CSoundOut::OnStopSignal),
    };
    return entries;
}

void CSoundOut::FillToneBuffer(std::int16_t* buffer) {
    fillTone(buffer, 0);
}

void CSoundOut::fillTone(std::int16_t* buffer, int from) {
    // FftSize and GenPeriod are read afresh at every sample: a new frequency
    // takes effect from the next sample, with no phase jump.
    // Every channel plays the tone.
    for (int i = from; i < FftSize; ++i) {
        GenPhase = GenPhase + TwoPi / GenPeriod.load(std::memory_order_relaxed);
        GenPhase = std::fmod(GenPhase, TwoPi);
        const double sample = std::sin(GenPhase) * (FullScale - 1) * m_amplitude;
        std::fill_n(buffer + static_cast<std::ptrdiff_t>(i) * ChannelCount, ChannelCount,
                    static_cast<std::int16_t>(m_rounded ? std::round(sample) : sample));
    }
}

// The tone resumes where it stopped: its phase stood still meanwhile.
void CSoundOut::FillBuffer(const WAVEHDR* header) {
    auto* buffer = reinterpret_cast<std::int16_t*>(header->lpData);
    if (!m_signal.Active()) {
        FillToneBuffer(buffer);
        return;
    }
    const SignalCursor::Filled filled =
        m_signal.Fill(buffer, static_cast<std::size_t>(FftSize), ChannelCount);
    if (filled.signalStart) {
        m_signalStartHeader = header;
        m_signalStartOffset = *filled.signalStart;
    }
    if (filled.signalWritten)
        QueuedSignal.LetGo();
    if (filled.frames < static_cast<std::size_t>(FftSize))
        fillTone(buffer, static_cast<int>(filled.frames));
}

void CSoundOut::OnWomOpen(WPARAM wParam, LPARAM) {
    const HWAVEOUT device = deviceOf(wParam);
    for (int k = 0; k < PlaybackBufferCount; ++k) {
        WAVEHDR* header = PlaybackHeader(k);
        header->lpData = reinterpret_cast<char*>(PlaybackBuffer(k));
        header->dwBufferLength = AudioBufferBytes();
        FillBuffer(header);
        RearmHeader(header);
        if (!queue(device, header))
            return;
    }
}

void CSoundOut::OnWomDone(WPARAM wParam, LPARAM lParam) {
    if (StopRequested())
        return; // the buffer stays with the device layer
    const HWAVEOUT device = deviceOf(wParam);
    auto* header = reinterpret_cast<WAVEHDR*>(lParam);

    const MMRESULT result = waveOutUnprepareHeader(device, header, sizeof(WAVEHDR));
    if (result != MMSYSERR_NOERROR) {
        if (StopRequested())
            return;
        ShowWaveOutError(result);
        EndOnWaveOutFailure("waveOutUnprepareHeader", result);
    }
    if (header == m_signalStartHeader) {
        QueuedSignal.Started(m_signalNumber,
                             platform::HeaderInputPosition(*header) + m_signalStartOffset);
        m_signalStartHeader = nullptr;
    }
    FillBuffer(header);
    RearmHeader(header);
    queue(device, header);
}

void CSoundOut::OnWomClose(WPARAM, LPARAM) {
    OutputClosedEvent.SetEvent();
    AfxEndThread(0, TRUE);
}

void CSoundOut::OnSetLevel(WPARAM wParam, LPARAM) {
    // Above 65536 the samples would leave the 16-bit range: hold at full scale.
    m_amplitude = std::min(static_cast<std::uint32_t>(wParam) / 65536.0, 1.0);
    m_rounded = false;
}

void CSoundOut::OnSetTestLevel(WPARAM wParam, LPARAM) {
    m_amplitude = std::min(static_cast<double>(wParam) / TestLevelScale, 1.0);
    m_rounded = true;
}

void CSoundOut::OnPlaySignal(WPARAM, LPARAM) {
    SignalPlayback::Program program;
    if (!QueuedSignal.Take(program, m_signalNumber))
        return; // withdrawn before it was taken
    m_signal.Start(program);
    m_signalStartHeader = nullptr;
}

void CSoundOut::OnStopSignal(WPARAM, LPARAM) {
    stopSignal();
}

void CSoundOut::stopSignal() {
    m_signalStartHeader = nullptr;
    if (!m_signal.Active())
        return;
    m_signal.Stop();
    QueuedSignal.LetGo();
}
