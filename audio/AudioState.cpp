// The shared audio state: its definitions, its allocation and release, and
// the device error boxes.
#include "audio/Audio.h"

#include "platform/GlobalMemory.h"
#include "platform/MessageBox.h"
#include "platform/Process.h"

#include <cstddef>
#include <cstdio>
#include <string>

int FftSize = 0;
int ChannelCount = 1;
std::atomic<double> GenPeriod{0.0};
double FullScale = 0.0;
int DroppedBlockCount = 0;
ThreadIdentity SoundOutThread;
ThreadIdentity SoundInpThread;
void* AudioBuffers[AudioBufferCount] = {};

// Never destroyed: worker threads may still touch them while the process ends.
CEvent& StopEvent = *new CEvent(TRUE, TRUE);
CEvent& DisplayReadyEvent = *new CEvent(FALSE, FALSE);
CEvent& BlockReadyEvent = *new CEvent(FALSE, FALSE);
CEvent& InputClosedEvent = *new CEvent(FALSE, FALSE);
CEvent& OutputClosedEvent = *new CEvent(FALSE, FALSE);
SignalPlayback& QueuedSignal = *new SignalPlayback;
InputRecording& Recording = *new InputRecording;

namespace {

std::size_t audioBufferSize(int index) {
    const auto n = static_cast<std::size_t>(FftSize);
    const auto samples = n * static_cast<std::size_t>(ChannelCount);
    switch (index) {
    case SpectrumBuffer:
        return n / 2 * sizeof(double);
    case SampleBlockBuffer:
        return samples * sizeof(double);
    case OutFormatBuffer:
    case InFormatBuffer:
        return sizeof(WAVEFORMATEX);
    case OutHandleBuffer:
        return sizeof(HWAVEOUT);
    case InHandleBuffer:
        return sizeof(HWAVEIN);
    default:
        return index < SpectrumBuffer ? samples * sizeof(std::int16_t) : sizeof(WAVEHDR);
    }
}

// Release order: capture buffers first, then playback, the analysis arrays,
// and the small records.
constexpr int FreeOrder[AudioBufferCount] = {4, 5,  0,  1,  2,  3,  7,  6,  8,
                                             9, 10, 11, 12, 13, 14, 15, 16, 17};

using ErrorTextLookUp = MMRESULT (*)(MMRESULT, char*, UINT);

std::string deviceErrorText(MMRESULT code, ErrorTextLookUp lookUp) {
    char text[256];
    const MMRESULT found = lookUp(code, text, sizeof text);
    if (found == MMSYSERR_BADERRNUM)
        return "Unknown Error";
    // The text itself could not be read: still say which error it was.
    if (found != MMSYSERR_NOERROR)
        return "Unknown Error (code " + std::to_string(code) + ")";
    return text;
}

void showDeviceError(MMRESULT code, ErrorTextLookUp lookUp, const char* title) {
    MessageBoxA(nullptr, deviceErrorText(code, lookUp).c_str(), title, MB_ICONERROR);
}

void reportDeviceFailure(const char* operation, MMRESULT code, ErrorTextLookUp lookUp) {
    std::fprintf(stderr, "tembrix: %s failed: %s\n", operation,
                 deviceErrorText(code, lookUp).c_str());
}

} // namespace

int AllocAudioBuffers() {
    for (void*& buffer : AudioBuffers)
        buffer = nullptr;
    for (int index = 0; index < AudioBufferCount; ++index) {
        AudioBuffers[index] =
            GlobalLock(GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, audioBufferSize(index)));
        if (!AudioBuffers[index]) {
            const std::string text = "Нет памяти для буфера " + std::to_string(index);
            MessageBoxA(nullptr, text.c_str(), "Orvex error", MB_OK);
            FreeAudioBuffers();
            return 0;
        }
    }
    return 1;
}

void FreeAudioBuffers() {
    for (const int index : FreeOrder) {
        void*& buffer = AudioBuffers[index];
        if (!buffer)
            continue;
        HGLOBAL block = GlobalHandle(buffer);
        GlobalUnlock(block);
        GlobalFree(block);
        buffer = nullptr;
    }
}

InputRecording::StreamBreaks CurrentStreamBreaks() {
    return {platform::OutputGaps(*OutDevice()), platform::StreamReopens()};
}

void ShowWaveOutError(MMRESULT code) {
    showDeviceError(code, waveOutGetErrorTextA, "Multimedia out error");
}

void ShowWaveInError(MMRESULT code) {
    showDeviceError(code, waveInGetErrorTextA, "Multimedia in error");
}

void ReportWaveOutFailure(const char* operation, MMRESULT code) {
    reportDeviceFailure(operation, code, waveOutGetErrorTextA);
}

void ReportWaveInFailure(const char* operation, MMRESULT code) {
    reportDeviceFailure(operation, code, waveInGetErrorTextA);
}

void EndOnWaveOutFailure(const char* operation, MMRESULT code) {
    ReportWaveOutFailure(operation, code);
    platform::ExitProcessNow(1);
}

void EndOnWaveInFailure(const char* operation, MMRESULT code) {
    ReportWaveInFailure(operation, code);
    platform::ExitProcessNow(1);
}
