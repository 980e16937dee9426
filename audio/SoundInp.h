// The capture thread: keeps the two capture buffers queued with the input
// device and hands each full block to the main window as SampleBlock, or
// drops and counts it while the window is still busy with the previous one.
// A handed-off block says whether it holds a gap (see WM_BLOCK_READY). While
// a recording is requested, every block also goes into Recording.
#pragma once

#include "platform/Thread.h"
#include "platform/WaveAudio.h"

#include <cstdint>

class CSoundInp : public CWinThread {
  public:
    static const CRuntimeClass runtimeClass;

    BOOL InitInstance() override { return TRUE; }
    int ExitInstance() override { return CWinThread::ExitInstance(); }
    ThreadMessageMap GetMessageMap() const override;

    // Message handlers (thread messages and device notifications).
    void OnWimOpen(WPARAM device, LPARAM);
    void OnWimData(WPARAM device, LPARAM header);
    void OnWimClose(WPARAM device, LPARAM);

  private:
    // Converts the block into SampleBlock and posts WM_BLOCK_READY with the
    // dropped blocks and the gap flag.
    void handOff(const WAVEHDR* header);
    bool outputGapSinceHandOff();

    std::uint64_t m_outputGapsAtHandOff = 0;
};

// Each channel's samples of `frames` interleaved frames, divided by FullScale,
// one channel after the other into `block` (see SampleBlock).
void ConvertBlock(const std::int16_t* samples, double* block, int frames, int channels = 1);
