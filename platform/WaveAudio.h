// Waveform audio devices, in the manner of the Windows multimedia API: a
// device is opened with a format and a thread to notify; buffers travel in
// headers that are prepared, queued, and returned one by one through a
// notification posted to that thread, in order. Reset returns every queued
// buffer at once; close, with no buffer queued, notifies once more.
//
// Which sound card stands behind these calls is picked at run time (see
// AudioBackend.h): the system's default devices or the built-in virtual card.
#pragma once

#include "platform/WinTypes.h"

#include <chrono>
#include <cstddef>

struct HWAVEOUT__;
struct HWAVEIN__;
using HWAVEOUT = HWAVEOUT__*;
using HWAVEIN = HWAVEIN__*;
using LPHWAVEOUT = HWAVEOUT*;
using LPHWAVEIN = HWAVEIN*;

constexpr UINT WAVE_MAPPER = 0xFFFFFFFF;
constexpr DWORD CALLBACK_THREAD = 0x00020000;
constexpr WORD WAVE_FORMAT_PCM = 1;

#pragma pack(push, 1)
struct WAVEFORMATEX {
    WORD wFormatTag;
    WORD nChannels;
    DWORD nSamplesPerSec;
    DWORD nAvgBytesPerSec;
    WORD nBlockAlign;
    WORD wBitsPerSample;
    WORD cbSize;
};
#pragma pack(pop)
static_assert(sizeof(WAVEFORMATEX) == 18);

struct WAVEHDR {
    char* lpData;          // the buffer
    DWORD dwBufferLength;  // its length in bytes
    DWORD dwBytesRecorded; // input: bytes filled
    std::uintptr_t dwUser; // for the owner
    DWORD dwFlags;         // WHDR_*
    DWORD dwLoops;         // output loop count (not supported beyond 0 or 1)
    WAVEHDR* lpNext;       // reserved for the device layer
    std::uintptr_t reserved;
};
using LPWAVEHDR = WAVEHDR*;

constexpr DWORD WHDR_DONE = 0x01;
constexpr DWORD WHDR_PREPARED = 0x02;
constexpr DWORD WHDR_BEGINLOOP = 0x04;
constexpr DWORD WHDR_ENDLOOP = 0x08;
constexpr DWORD WHDR_INQUEUE = 0x10;

// Notifications, posted to the owning thread: wParam = the device handle,
// lParam = the returned header (DONE/DATA) or 0.
constexpr UINT MM_WOM_OPEN = 0x3BB;
constexpr UINT MM_WOM_CLOSE = 0x3BC;
constexpr UINT MM_WOM_DONE = 0x3BD;
constexpr UINT MM_WIM_OPEN = 0x3BE;
constexpr UINT MM_WIM_CLOSE = 0x3BF;
constexpr UINT MM_WIM_DATA = 0x3C0;

// Result codes.
constexpr MMRESULT MMSYSERR_NOERROR = 0;
constexpr MMRESULT MMSYSERR_ERROR = 1;
constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;
constexpr MMRESULT MMSYSERR_NOTENABLED = 3;
constexpr MMRESULT MMSYSERR_ALLOCATED = 4;
constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
constexpr MMRESULT MMSYSERR_NODRIVER = 6;
constexpr MMRESULT MMSYSERR_NOMEM = 7;
constexpr MMRESULT MMSYSERR_NOTSUPPORTED = 8;
constexpr MMRESULT MMSYSERR_BADERRNUM = 9;
constexpr MMRESULT MMSYSERR_INVALFLAG = 10;
constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
constexpr MMRESULT WAVERR_BADFORMAT = 32;
constexpr MMRESULT WAVERR_STILLPLAYING = 33;
constexpr MMRESULT WAVERR_UNPREPARED = 34;

UINT waveOutGetNumDevs();
MMRESULT waveOutOpen(LPHWAVEOUT handle, UINT deviceId, const WAVEFORMATEX* format,
                     std::uintptr_t callback, std::uintptr_t instance, DWORD flags);
MMRESULT waveOutPrepareHeader(HWAVEOUT device, LPWAVEHDR header, UINT headerSize);
MMRESULT waveOutUnprepareHeader(HWAVEOUT device, LPWAVEHDR header, UINT headerSize);
MMRESULT waveOutWrite(HWAVEOUT device, LPWAVEHDR header, UINT headerSize);
MMRESULT waveOutReset(HWAVEOUT device);
MMRESULT waveOutClose(HWAVEOUT device);
MMRESULT waveOutGetErrorTextA(MMRESULT error, char* text, UINT textSize);

UINT waveInGetNumDevs();
MMRESULT waveInOpen(LPHWAVEIN handle, UINT deviceId, const WAVEFORMATEX* format,
                    std::uintptr_t callback, std::uintptr_t instance, DWORD flags);
MMRESULT waveInPrepareHeader(HWAVEIN device, LPWAVEHDR header, UINT headerSize);
MMRESULT waveInUnprepareHeader(HWAVEIN device, LPWAVEHDR header, UINT headerSize);
MMRESULT waveInAddBuffer(HWAVEIN device, LPWAVEHDR header, UINT headerSize);
MMRESULT waveInStart(HWAVEIN device);
MMRESULT waveInReset(HWAVEIN device);
MMRESULT waveInClose(HWAVEIN device);
MMRESULT waveInGetErrorTextA(MMRESULT error, char* text, UINT textSize);

namespace platform {
// Times that the open input lost captured frames (no buffer was queued for
// them, or the card overflowed); 0 for a device that is not open.
std::uint64_t InputGaps(HWAVEIN device);
// Times that the open output ran out of samples and played silence; 0 for a
// device that is not open.
std::uint64_t OutputGaps(HWAVEOUT device);
// When the open input's stream was last opened on the card: at waveInOpen,
// or when it was opened again (a dead stream, ReopenDevices). The clock's
// epoch for a device that is not open.
std::chrono::steady_clock::time_point InputOpenedAt(HWAVEIN device);
// A returned capture buffer whose samples do not follow on from those of the
// buffer returned before it (frames were lost before or inside it).
bool HeaderHasGap(const WAVEHDR& header);
// Where a returned header's first frame stands on the input's clock, which
// counts the frames handed to the input since the process began (lost ones
// too): for a capture header, the position of its first sample; for a
// playback header, the input's position when its first sample leaves the
// card. So a sample played at position p comes back at p plus the delay of
// what lies between output and input. Exactly so on the virtual card; on the
// system card, whose two directions are separate streams, that position is
// worked out from the times at which the card says its blocks leave and
// enter it, to within a millisecond or so, and is then held while both
// streams run on without a break (see StreamAlignment.h), so that every
// recording made meanwhile finds the same delay. 0 for a header returned
// unplayed.
std::uint64_t HeaderInputPosition(const WAVEHDR& header);
// Closes the open devices on the card and opens them again, with their
// buffers and started state kept: after the system card's devices were
// chosen anew. Returns within a bounded time; a device that cannot be opened
// again is retried as a dead stream is.
void ReopenDevices();
// Times that a dead stream was closed and opened again, both directions.
std::uint64_t StreamReopens();
// Times that the system card's two streams were paired anew (see
// HeaderInputPosition): a stream opened or started, frames lost or an
// underflow. Between two recordings that see the same count, a played
// signal comes back equally late.
std::uint64_t StreamPairings();
} // namespace platform
