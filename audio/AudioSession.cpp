#include "audio/AudioSession.h"

#include "audio/Audio.h"
#include "audio/SoundInp.h"
#include "audio/SoundOut.h"
#include "platform/MessageBox.h"
#include "platform/Process.h"

#include <cstdio>

namespace {

// The calls of one direction, with their names for the failure line.
template <class Device> struct DeviceCalls {
    MMRESULT (*reset)(Device);
    MMRESULT (*close)(Device);
    void (*showError)(MMRESULT);
    void (*reportFailure)(const char*, MMRESULT);
    const char* resetName;
    const char* closeName;
};

const DeviceCalls<HWAVEOUT> OutputCalls{waveOutReset,         waveOutClose,   ShowWaveOutError,
                                        ReportWaveOutFailure, "waveOutReset", "waveOutClose"};
const DeviceCalls<HWAVEIN> InputCalls{waveInReset,         waveInClose,   ShowWaveInError,
                                      ReportWaveInFailure, "waveInReset", "waveInClose"};

struct CloseResult {
    bool closed; // only then will the close notification come
    bool clean;  // no call failed
};

// Resets and closes one device. A buffer that a thread queued again just
// before it saw StopEvent makes the first close fail as still playing; a
// second reset returns it. Every failure is shown and reported, and the
// sequence goes on.
template <class Device> CloseResult resetAndClose(Device device, const DeviceCalls<Device>& calls) {
    bool clean = true;
    const auto failed = [&](const char* operation, MMRESULT result) {
        calls.showError(result);
        calls.reportFailure(operation, result);
        clean = false;
    };
    MMRESULT result = calls.reset(device);
    if (result != MMSYSERR_NOERROR)
        failed(calls.resetName, result);
    result = calls.close(device);
    if (result == WAVERR_STILLPLAYING) {
        calls.reset(device);
        result = calls.close(device);
    }
    if (result != MMSYSERR_NOERROR)
        failed(calls.closeName, result);
    return {result == MMSYSERR_NOERROR, clean};
}

CloseResult closeOutput() {
    return resetAndClose(*OutDevice(), OutputCalls);
}
CloseResult closeInput() {
    return resetAndClose(*InDevice(), InputCalls);
}

void fillFormats() {
    WAVEFORMATEX* out = OutFormat();
    out->wFormatTag = WAVE_FORMAT_PCM;
    out->nChannels = static_cast<WORD>(ChannelCount);
    out->nSamplesPerSec = static_cast<DWORD>(SampleRate);
    out->wBitsPerSample = 16;
    out->nBlockAlign = static_cast<WORD>(out->nChannels * out->wBitsPerSample / 8);
    out->nAvgBytesPerSec = out->nSamplesPerSec * out->nBlockAlign;
    out->cbSize = 0;
    *InFormat() = *out;
}

// No device of a kind is a device failure too: status 1. `line` names the
// operation for standard error, beside the box's own line.
[[noreturn]] void failForNoDevice(const char* text, const char* line) {
    MessageBoxA(nullptr, text, "Orvex error", MB_OK);
    std::fprintf(stderr, "tembrix: %s\n", line);
    platform::ExitProcessNow(1);
}

// A device whose close failed may still hold buffers and never sends its close
// notification: the shared memory is left to the process end, which also
// releases the device. Its failure has been reported.
[[noreturn]] void endWithDeviceStillOpen() {
    platform::ExitProcessNow(1);
}

} // namespace

namespace audio {

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
        failForNoDevice("Нет устройств для вывода звука",
                        "waveOutGetNumDevs found no output device");
    if (waveInGetNumDevs() == 0)
        failForNoDevice("Нет устройств для ввода звука", "waveInGetNumDevs found no input device");
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
    MMRESULT result = waveOutOpen(OutDevice(), WAVE_MAPPER, OutFormat(), SoundOutThread->id(), 0,
                                  CALLBACK_THREAD);
    if (result != MMSYSERR_NOERROR) {
        ShowWaveOutError(result);
        ReportWaveOutFailure("waveOutOpen", result);
        FreeAudioBuffers();
        platform::ExitProcessNow(1);
    }
    result =
        waveInOpen(InDevice(), WAVE_MAPPER, InFormat(), SoundInpThread->id(), 0, CALLBACK_THREAD);
    if (result != MMSYSERR_NOERROR) {
        ShowWaveInError(result);
        ReportWaveInFailure("waveInOpen", result);
        // The output already plays from the shared buffers: bring it to rest
        // before they are released.
        StopEvent.SetEvent();
        if (!closeOutput().closed)
            endWithDeviceStillOpen();
        WaitForSingleObject(OutputClosedEvent, INFINITE);
        FreeAudioBuffers();
        platform::ExitProcessNow(1);
    }
}

void ShutDownAudio() {
    StopEvent.SetEvent();
    const CloseResult output = closeOutput();
    const CloseResult input = closeInput();
    if (!output.closed || !input.closed)
        endWithDeviceStillOpen();
    WaitForSingleObject(InputClosedEvent, INFINITE);
    WaitForSingleObject(OutputClosedEvent, INFINITE);
    FreeAudioBuffers();
    if (!output.clean || !input.clean)
        platform::ExitProcessNow(1);
}

} // namespace audio
