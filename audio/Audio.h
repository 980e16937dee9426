// The audio state shared by the application, the capture and playback
// threads and the main window: format constants, the shared buffers, the five
// events, a signal played once and its recording, and the private messages.
// Allocated and owned by the application's start-up; see the application
// object for its life.
#pragma once

#include "audio/InputRecording.h"
#include "audio/SignalPlayback.h"
#include "dsp/SignalFormat.h"
#include "platform/Event.h"
#include "platform/Thread.h"
#include "platform/ThreadIdentity.h"
#include "platform/WaveAudio.h"

#include <atomic>
#include <cstddef>
#include <cstdint>

// Block length N: every buffer size and loop bound derives from it.
extern int FftSize;
// Channels of both streams: 1 (the window's, and a command-line run's by
// default), or 2 for a run that measures both sides. Set before
// PrepareAudioState. The playback and capture buffers hold FftSize frames of
// this many interleaved samples.
extern int ChannelCount;
// Generator period in samples (44100 / frequency). Written by the window,
// read by the playback thread at every sample, without a lock.
extern std::atomic<double> GenPeriod;
// A captured sample s becomes s / FullScale; a generated one is scaled by
// FullScale - 1.
extern double FullScale;
// Blocks the capture thread discarded since its last hand-off. Capture thread
// only.
extern int DroppedBlockCount;

// The playback and capture threads, by identity: each deletes its own object
// when its device has closed, and a post after that is refused, never sent to
// freed memory.
extern ThreadIdentity SoundOutThread;
extern ThreadIdentity SoundInpThread;

// The shared blocks, by allocation order. The index is the number shown when
// an allocation fails.
enum AudioBufferIndex {
    PlaybackBuffer1 = 0, // .. 3
    CaptureBuffer1 = 4,  // .. 5
    SpectrumBuffer = 6,
    SampleBlockBuffer = 7,
    OutFormatBuffer = 8,
    InFormatBuffer = 9,
    OutHandleBuffer = 10,
    InHandleBuffer = 11,
    PlaybackHeader1 = 12, // .. 15
    CaptureHeader1 = 16,  // .. 17
    AudioBufferCount = 18
};
constexpr int PlaybackBufferCount = 4;
constexpr int CaptureBufferCount = 2;

extern void* AudioBuffers[AudioBufferCount];

inline std::int16_t* PlaybackBuffer(int k) {
    return static_cast<std::int16_t*>(AudioBuffers[PlaybackBuffer1 + k]);
}
inline std::int16_t* CaptureBuffer(int k) {
    return static_cast<std::int16_t*>(AudioBuffers[CaptureBuffer1 + k]);
}
// Power in dB of bins 0 .. N/2-1 of the last displayed block.
inline double* Spectrum() {
    return static_cast<double*>(AudioBuffers[SpectrumBuffer]);
}
// The last handed-off block, normalised to full scale: the first channel's
// FftSize samples, then the second's, if any.
inline double* SampleBlock() {
    return static_cast<double*>(AudioBuffers[SampleBlockBuffer]);
}
inline double* SampleBlock(int channel) {
    return SampleBlock() + static_cast<std::ptrdiff_t>(channel) * FftSize;
}
// Bytes in one playback or capture buffer.
inline DWORD AudioBufferBytes() {
    return static_cast<DWORD>(FftSize * ChannelCount) * sizeof(std::int16_t);
}
inline WAVEFORMATEX* OutFormat() {
    return static_cast<WAVEFORMATEX*>(AudioBuffers[OutFormatBuffer]);
}
inline WAVEFORMATEX* InFormat() {
    return static_cast<WAVEFORMATEX*>(AudioBuffers[InFormatBuffer]);
}
inline HWAVEOUT* OutDevice() {
    return static_cast<HWAVEOUT*>(AudioBuffers[OutHandleBuffer]);
}
inline HWAVEIN* InDevice() {
    return static_cast<HWAVEIN*>(AudioBuffers[InHandleBuffer]);
}
inline WAVEHDR* PlaybackHeader(int k) {
    return static_cast<WAVEHDR*>(AudioBuffers[PlaybackHeader1 + k]);
}
inline WAVEHDR* CaptureHeader(int k) {
    return static_cast<WAVEHDR*>(AudioBuffers[CaptureHeader1 + k]);
}

// Returns 1 when all blocks are allocated; 0 after it has shown the failure
// and released what it had.
int AllocAudioBuffers();
// Releases every allocated block; harmless on a partly or fully released set.
void FreeAudioBuffers();

// The signal that the playback thread plays once in place of the tone, and
// what the capture thread records meanwhile. Never destroyed: the threads may
// still look at them while the process ends.
extern SignalPlayback& QueuedSignal;
extern InputRecording& Recording;
// The counts by which the recording tells a broken stream, as they stand.
// Both devices must be open.
InputRecording::StreamBreaks CurrentStreamBreaks();

// Device error boxes with the device layer's own text.
void ShowWaveOutError(MMRESULT code);
void ShowWaveInError(MMRESULT code);

// One line on standard error, "tembrix: OPERATION failed: TEXT", with the
// device layer's own text: a device failure never ends the process without a
// word, box or no box.
void ReportWaveOutFailure(const char* operation, MMRESULT code);
void ReportWaveInFailure(const char* operation, MMRESULT code);
// Reports the failure as above and ends the process with status 1.
[[noreturn]] void EndOnWaveOutFailure(const char* operation, MMRESULT code);
[[noreturn]] void EndOnWaveInFailure(const char* operation, MMRESULT code);

// Events. StopEvent: manual, tested by both threads at every returned buffer.
// DisplayReadyEvent / BlockReadyEvent: the block hand-off (automatic).
// InputClosedEvent / OutputClosedEvent: set by the threads on close.
extern CEvent& StopEvent;
extern CEvent& DisplayReadyEvent;
extern CEvent& BlockReadyEvent;
extern CEvent& InputClosedEvent;
extern CEvent& OutputClosedEvent;

// True once shutdown has begun. A device call of a worker thread that fails
// then failed because the device is being reset or is already closed: that
// is the stop, not an error.
inline bool StopRequested() {
    return WaitForSingleObject(StopEvent, 0) != WAIT_TIMEOUT;
}

// Clears what the device layer set in a header before it is queued again;
// its buffer and length stay.
inline void RearmHeader(WAVEHDR* header) {
    header->dwFlags = 0;
    header->dwLoops = 0;
    header->dwUser = 0;
}

// Posted by the capture thread to the main window: wParam = blocks dropped
// since the previous one; lParam = 1 when the block holds a gap, else 0. A
// block holds a gap when frames were lost before or inside it
// (platform::HeaderHasGap), or when the output played silence for want of
// samples since the previous block was handed off: a tone cut short reaches
// the input later. Treat it as a block after dropped blocks, and as if the
// tone had changed while it was recorded (ToneSettling::Interrupted).
constexpr UINT WM_BLOCK_READY = WM_USER + 5;
// Posted by the window to the playback thread: wParam = tone amplitude times
// 65536 (65536 full scale, 6554 -20 dB, 0 silence).
constexpr UINT WM_SET_LEVEL = WM_USER + 6;
// Posted by a command-line measurement to the playback thread: wParam = the
// tone's amplitude times TestLevelScale (full scale); from then on samples are
// rounded to the nearest 16-bit value rather than truncated toward zero, which
// would add its own distortion. WM_SET_LEVEL goes back to truncation.
constexpr UINT WM_SET_TEST_LEVEL = WM_USER + 7;
constexpr double TestLevelScale = 4294967296.0; // 2^32
// Posted to the playback thread once a signal is queued in QueuedSignal: from
// the next buffer on it plays that signal once, between its silences, and
// then the tone again. wParam, lParam: 0.
constexpr UINT WM_PLAY_SIGNAL = WM_USER + 8;
// Posted by QueuedSignal.Finish(): the tone again from the next buffer.
constexpr UINT WM_STOP_SIGNAL = WM_USER + 9;
// WM_SET_LEVEL's wParam for each of the window's level buttons, in order:
// "0dB", "-20dB", "No".
constexpr WPARAM LevelCommands[] = {65536, 6554, 0};
