#include "audio/SoundInp.h"

#include "audio/Audio.h"
#include "platform/App.h"
#include "platform/Process.h"

const CRuntimeClass CSoundInp::runtimeClass = MakeRuntimeClass<CSoundInp>("CSoundInp");

namespace {

HWAVEIN deviceOf(WPARAM wParam) {
    return reinterpret_cast<HWAVEIN>(wParam);
}

void bindHeader(WAVEHDR* header, std::int16_t* buffer) {
    header->lpData = reinterpret_cast<char*>(buffer);
    header->dwBufferLength = static_cast<DWORD>(FftSize) * sizeof(std::int16_t);
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
        platform::ExitProcessNow(1);
    }
    result = waveInAddBuffer(device, header, sizeof(WAVEHDR));
    if (result != MMSYSERR_NOERROR) {
        if (StopRequested())
            return false;
        waveInUnprepareHeader(device, header, sizeof(WAVEHDR));
        platform::ExitProcessNow(1);
    }
    return true;
}

void handOff(const WAVEHDR* header) {
    ConvertBlock(reinterpret_cast<const std::int16_t*>(header->lpData), SampleBlock(), FftSize);
    BlockReadyEvent.SetEvent();
    PostMessageA(AfxGetApp()->m_pMainWnd, WM_BLOCK_READY, static_cast<WPARAM>(DroppedBlockCount),
                 0);
    DroppedBlockCount = 0;
}

} // namespace

void ConvertBlock(const std::int16_t* samples, double* block, int count) {
    for (int i = 0; i < count; ++i)
        block[i] = samples[i] / FullScale;
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
    WAVEHDR* first = CaptureHeader(0);
    bindHeader(first, CaptureBuffer(0));
    if (!queueFirst(device, first))
        return;

    const MMRESULT result = waveInStart(device);
    if (result != MMSYSERR_NOERROR) {
        if (StopRequested())
            return;
        waveInUnprepareHeader(device, first, sizeof(WAVEHDR));
        platform::ExitProcessNow(1);
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
        platform::ExitProcessNow(1);
    }

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
        platform::ExitProcessNow(0);
    }
    result = waveInAddBuffer(device, header, sizeof(WAVEHDR));
    if (result != MMSYSERR_NOERROR) {
        if (StopRequested())
            return;
        ShowWaveInError(result);
        waveInUnprepareHeader(device, header, sizeof(WAVEHDR));
        platform::ExitProcessNow(1);
    }
}

void CSoundInp::OnWimClose(WPARAM, LPARAM) {
    InputClosedEvent.SetEvent();
    AfxEndThread(0, TRUE);
}
