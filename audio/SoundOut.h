// The playback thread: keeps the four playback buffers queued with the output
// device, refilling each returned one with a phase-continuous sine at the
// current GenPeriod and its own amplitude.
#pragma once

#include "platform/Thread.h"

#include <cstdint>

class CSoundOut : public CWinThread {
  public:
    static const CRuntimeClass runtimeClass;

    BOOL InitInstance() override;
    int ExitInstance() override { return CWinThread::ExitInstance(); }
    ThreadMessageMap GetMessageMap() const override;

    // Writes FftSize samples of the tone into buffer.
    void FillToneBuffer(std::int16_t* buffer);

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
};

// Generator phase in radians of the last sample produced; playback thread only.
extern double GenPhase;
extern const double TwoPi;
