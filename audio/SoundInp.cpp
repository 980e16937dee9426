#include "audio/SoundInp.h"

#include "audio/Audio.h"
#include "platform/App.h"

const CRuntimeClass CSoundInp::runtimeClass = MakeRuntimeClass<CSoundInp>("CSoundInp");

namespace {

HWAVEIN deviceOf(WPARAM wParam) {
    return reinterpret_cast<HWAVEIN>(wParam);
}

void bindHeader(WAVEHDR* header, std::int16_t* buffer) {
    header->lpData = reinterpret_cast<char*>(buffer);
    header->dwBufferLength = AudioBufferBytes();
    RearmHeader(header);
}

// Queues one capture buffer; a failure ends the process as the open handler
// prescribes for each step. False when stopping.
bool queueFirst(HWAVEIN device, WAVEHDR* header) {
    MMRESULT result = waveInPrepareHeader(device, header, sizeof(WAVEHDR));
    if (result != MMSYSERR_NOERROR) {
        if (StopRequested())
            return false;
        ShowWaveInError(result);
        EndOnWaveInFailure("waveInPrepareHeader", result);
    }
    result = waveInAddBuffer(device, header, sizeof(WAVEHDR));
    if (result != MMSYSERR_NOERROR) {
        if (StopRequested())
            return false;
        waveInUnprepareHeader(device, header, sizeof(WAVEHDR));
        EndOnWaveInFailure("waveInAddBuffer", result);
    }
    return true;
}

} // namespace

void ConvertBlock(const std::int16_t* samples, double* block, int frames, int channels) {
    for (int channel = 0; channel < channels; ++channel) {
        double* to = block + static_cast<std::ptrdiff_t>(channel) * frames;
        for (int i = 0; i < frames; ++i)
            to[i] = samples[i * channels + channel] / FullScale;
    }
}

ThreadMessageMap CSoundInp::GetMessageMap() const {
    static const ThreadMessageEntry entries[] = {
        OnThreadMessage(MM_WIM_OPEN, &CSoundInp::OnWimOpen),
        OnThreadMessage(MM_WIM_CLOSE, &CSoundInp::OnWimClose),
        OnThreadMessage(MM_WIM_DATA, &CSoundInp::OnWimData),
    };
    return entries;
}

void CSoundInp::OnWimOpen(WPARAM wParam, LPARAM) {
    const HWAVEIN device = deviceOf(wParam);
    m_outputGapsAtHandOff = platform::OutputGaps(*OutDevice());
    WAVEHDR* first = CaptureHeader(0);
    bindHeader(first, CaptureBuffer(0));
    if (!queueFirst(device, first))
        return;

    const MMRESULT result = waveInStart(device);
    if (result != MMSYSERR_NOERROR) {
        if (StopRequested())
            return;
        waveInUnprepareHeader(device, first, sizeof(WAVEHDR));
        EndOnWaveInFailure("waveInStart", result);
    }

    WAVEHDR* second = CaptureHeader(1);
    bindHeader(second, CaptureBuffer(1));
    queueFirst(device, second);
}

void CSoundInp::OnWimData(WPARAM wParam, LPARAM lParam) {
    if (StopRequested())
        return; // the buffer stays with the device layer
    const HWAVEIN device = deviceOf(wParam);
    auto* header = reinterpret_cast<WAVEHDR*>(lParam);

    MMRESULT result = waveInUnprepareHeader(device, header, sizeof(WAVEHDR));
    if (result != MMSYSERR_NOERROR) {
        if (StopRequested())
            return;
        ShowWaveInError(result);
        EndOnWaveInFailure("waveInUnprepareHeader", result);
    }

    // Before the buffer is queued again: on the fast clock the virtual card
    // waits for it, so the recording loses nothing there.
    if (Recording.Requested())
        Recording.Append(*header, QueuedSignal.StartPosition(), CurrentStreamBreaks());
    if (WaitForSingleObject(DisplayReadyEvent, 0) == WAIT_OBJECT_0)
        handOff(header);
    else
        ++DroppedBlockCount;

    RearmHeader(header);
    result = waveInPrepareHeader(device, header, sizeof(WAVEHDR));
    if (result != MMSYSERR_NOERROR) {
        if (StopRequested())
            return;
        ShowWaveInError(result);
        EndOnWaveInFailure("waveInPrepareHeader", result);
    }
    result = waveInAddBuffer(device, header, sizeof(WAVEHDR));
    if (result != MMSYSERR_NOERROR) {
        if (StopRequested())
            return;
        ShowWaveInError(result);
        waveInUnprepareHeader(device, header, sizeof(WAVEHDR));
        EndOnWaveInFailure("waveInAddBuffer", result);
    }
}

void CSoundInp::OnWimClose(WPARAM, LPARAM) {
    InputClosedEvent.SetEvent();
    AfxEndThread(0, TRUE);
}

void CSoundInp::handOff(const WAVEHDR* header) {
    ConvertBlock(reinterpret_cast<const std::int16_t*>(header->lpData), SampleBlock(), FftSize,
                 ChannelCount);
    const bool outputGap = outputGapSinceHandOff();
    const LPARAM hasGap = platform::HeaderHasGap(*header) || outputGap ? 1 : 0;
    BlockReadyEvent.SetEvent();
    PostMessageA(AfxGetApp()->m_pMainWnd, WM_BLOCK_READY, static_cast<WPARAM>(DroppedBlockCount),
                 hasGap);
    DroppedBlockCount = 0;
}

bool CSoundInp::outputGapSinceHandOff() {
    // Compared for any change, not growth: a reopened output counts afresh.
    const std::uint64_t gaps = platform::OutputGaps(*OutDevice());
    const bool changed = gaps != m_outputGapsAtHandOff;
    m_outputGapsAtHandOff = gaps;
    return changed;
}
