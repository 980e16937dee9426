// The one signal format of the instrument: mono 16-bit samples at 44100 Hz,
// analysed in blocks of 8192. Every layer takes these values from here.
#pragma once

// Samples per second; also the constant of every frequency computation.
constexpr double SampleRate = 44100.0;
// Samples per block: the capture and playback buffers and the FFT length.
constexpr int BlockSize = 8192;
// A 16-bit sample s is s / SampleFullScale of full scale.
constexpr double SampleFullScale = 32768.0;
// The FFT order of a block: 2^BlockOrder = BlockSize.
constexpr int BlockOrder = 13;
static_assert(1 << BlockOrder == BlockSize);
