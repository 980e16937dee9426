#include "app/AudioSession.h"

#include "audio/Audio.h"
#include "audio/SoundInp.h"
#include "audio/SoundOut.h"
#include "platform/MessageBox.h"
#include "platform/Process.h"

namespace {

// Resets and closes one device. A buffer that a thread queued again just
// before it saw StopEvent makes the first close fail as still playing; a
// second reset returns it. Returns whether the device closed: only then will
// its close notification come.
template <class Device>
bool resetAndClose(Device device, MMRESULT (*reset)(Device), MMRESULT (*close)(Device),
                   void (*showError)(MMRESULT)) {
    MMRESULT result = reset(device);
    if (result != MMSYSERR_NOERROR)
        showError(result);
    result = close(device);
    if (result == WAVERR_STILLPLAYING) {
        reset(device);
        result = close(device);
    }
    if (result != MMSYSERR_NOERROR)
        showError(result);
    return result == MMSYSERR_NOERROR;
}

bool closeOutput() {
    return resetAndClose(*OutDevice(), waveOutReset, waveOutClose, ShowWaveOutError);
}
bool closeInput() {
    return resetAndClose(*InDevice(), waveInReset, waveInClose, ShowWaveInError);
}

void fillFormats() {
    WAVEFORMATEX* out = OutFormat();
    out->wFormatTag = WAVE_FORMAT_PCM;
    out->nChannels = 1;
    out->nSamplesPerSec = static_cast<DWORD>(SampleRate);
    out->wBitsPerSample = 16;
    out->nBlockAlign = static_cast<WORD>(out->nChannels * out->wBitsPerSample / 8);
    out->nAvgBytesPerSec = out->nSamplesPerSec * out->nBlockAlign;
    out->cbSize = 0;
    *InFormat() = *out;
}

void failStartUp(const char* text, int status) {
    MessageBoxA(nullptr, text, "Orvex error", MB_OK);
    platform::ExitProcessNow(status);
}

// A device whose close failed may still hold buffers and never sends its close
// notification: the shared memory is left to the process end, which also
// releases the device.
[[noreturn]] void endWithDeviceStillOpen(int status) {
    platform::ExitProcessNow(status);
}

} // namespace

namespace app {

void PrepareAudioState() {
    FftSize = BlockSize;
    if (!AllocAudioBuffers())
        platform::ExitProcessNow(1);
    GenPeriod = 32.5;
    FullScale = SampleFullScale;
    DisplayReadyEvent.SetEvent();
    StopEvent.ResetEvent();
}

void RequireAudioDevices() {
    if (waveOutGetNumDevs() == 0)
        failStartUp("Нет устройств для вывода звука", 0);
    if (waveInGetNumDevs() == 0)
        failStartUp("Нет устройств для ввода звука", 0);
}

void StartAudioThreads() {
    SoundOutThread = AfxBeginThread(&CSoundOut::runtimeClass, THREAD_PRIORITY_NORMAL, 1, 0);
    if (SoundOutThread)
        SoundInpThread = AfxBeginThread(&CSoundInp::runtimeClass, THREAD_PRIORITY_NORMAL, 1, 0);
    if (!SoundOutThread || !SoundInpThread) {
        // No device is open yet; the idle thread, if any, ends with the process.
        MessageBoxA(nullptr, "Cannot start the audio threads.", "Orvex error", MB_OK);
        FreeAudioBuffers();
        platform::ExitProcessNow(1);
    }
}

void OpenAudioDevices() {
    fillFormats();
    MMRESULT result = waveOutOpen(OutDevice(), WAVE_MAPPER, OutFormat(),
                                  SoundOutThread->m_nThreadID, 0, CALLBACK_THREAD);
    if (result != MMSYSERR_NOERROR) {
        ShowWaveOutError(result);
        FreeAudioBuffers();
        platform::ExitProcessNow(1);
    }
    result = waveInOpen(InDevice(), WAVE_MAPPER, InFormat(), SoundInpThread->m_nThreadID, 0,
                        CALLBACK_THREAD);
    if (result != MMSYSERR_NOERROR) {
        ShowWaveInError(result);
        // The output already plays from the shared buffers: bring it to rest
        // before they are released.
        StopEvent.SetEvent();
        if (!closeOutput())
            endWithDeviceStillOpen(1);
        WaitForSingleObject(OutputClosedEvent, INFINITE);
        FreeAudioBuffers();
        platform::ExitProcessNow(1);
    }
}

void ShutDownAudio() {
    StopEvent.SetEvent();
    const bool outputClosed = closeOutput();
    const bool inputClosed = closeInput();
    if (!outputClosed || !inputClosed)
        endWithDeviceStillOpen(0);
    WaitForSingleObject(InputClosedEvent, INFINITE);
    WaitForSingleObject(OutputClosedEvent, INFINITE);
    FreeAudioBuffers();
}

} // namespace app
