// The playback thread: keeps the four playback buffers queued with the output
// device, refilling each returned one with a phase-continuous sine at the
// current GenPeriod and its own amplitude, or, once, with the signal queued
// in QueuedSignal.
#pragma once

#include "audio/SignalCursor.h"
#include "platform/Thread.h"
#include "platform/WaveAudio.h"

#include <cstdint>

class CSoundOut : public CWinThread {
  public:
    static const CRuntimeClass runtimeClass;

    // A thread that ends while it plays a signal lets go of its samples.
    ~CSoundOut() override;

    BOOL InitInstance() override;
    int ExitInstance() override { return CWinThread::ExitInstance(); }
    ThreadMessageMap GetMessageMap() const override;

    // Writes FftSize frames of the tone into buffer, on every channel.
    void FillToneBuffer(std::int16_t* buffer);
    // Writes the header's buffer: the signal being played, as far as it
    // goes, else the tone.
    void FillBuffer(const WAVEHDR* header);

    // Linear tone level, 1.0 = full scale.
    double m_amplitude = 1.0;
    // Samples rounded to the nearest value, else truncated toward zero.
    bool m_rounded = false;

    // Message handlers (thread messages and device notifications).
    void OnWomOpen(WPARAM device, LPARAM);
    void OnWomDone(WPARAM device, LPARAM header);
    void OnWomClose(WPARAM device, LPARAM);
    void OnSetLevel(WPARAM level, LPARAM);
    void OnSetTestLevel(WPARAM level, LPARAM);
    void OnPlaySignal(WPARAM, LPARAM);
    void OnStopSignal(WPARAM, LPARAM);

  private:
    // The tone from buffer[from] to the buffer's end.
    void fillTone(std::int16_t* buffer, int from);
    void stopSignal();

    SignalCursor m_signal;
    std::uint64_t m_signalNumber = 0;
    // The buffer that holds the signal's first sample, and where, until it
    // comes back played.
    const WAVEHDR* m_signalStartHeader = nullptr;
    std::size_t m_signalStartOffset = 0;
};

// Generator phase in radians of the last sample produced; playback thread only.
extern double GenPhase;
extern const double TwoPi;
