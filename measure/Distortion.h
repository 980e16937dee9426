// THD and THD+N of a tone at a known frequency, measured over blocks that
// carry it:
// - THD: the power sum of harmonics 2 to 10 that lie below 20 kHz, relative to
//   the fundamental. Levels are read from the quasi-Chebyshev spectrum, the
//   blocks' powers averaged, each line's level with the window's own gain at
//   its offset from its bin removed, as the sweep does.
// - THD+N: what is left of each block when a least-squares sine at the
//   generator's frequency and an offset are taken away, its power summed over
//   20 Hz to 20 kHz from a rectangle-window transform (each bin counts once:
//   the rectangle's equivalent noise bandwidth is one bin), relative to the
//   fitted sine's power. Also A-weighted, and relative to full scale, which
//   gives the dynamic range.
#pragma once

#include "dsp/FFT.h"

#include <vector>

class DistortionMeter {
  public:
    static constexpr int HighestHarmonic = 10;
    static constexpr double BandLowHz = 20;
    static constexpr double BandHighHz = 20000;

    DistortionMeter(double toneHz, int fftSize);

    // A block of fftSize samples carrying the tone.
    void Add(const double* block);
    int Blocks() const { return m_blocks; }

    struct Result {
        double fundamentalDbfs;          // the fitted sine, re a full-scale sine
        std::vector<double> harmonicsDb; // 2, 3, ... below 20 kHz, re the fundamental
        double thdDb;                    // re the fundamental
        double thdNDb;                   // re the fundamental
        double residualDbfs;             // the residual, 20 Hz to 20 kHz, re full scale
        double residualDbfsA;            // the same A-weighted
        // The blocks' quasi-Chebyshev spectrum, powers averaged, in dB.
        std::vector<double> spectrumDb;
        // Samples reached full scale: the figures measure the clipping.
        bool clipped;
    };
    // After at least one block.
    Result Compute() const;

  private:
    double LineLevelDb(double frequencyHz) const; // from the averaged windowed spectrum

    double m_toneHz;
    int m_fftSize;
    CFFT m_windowed;
    CFFT m_rectangle;
    std::vector<double> m_residual;
    std::vector<double> m_spectrum;
    std::vector<double> m_windowedPower; // summed over the blocks, linear
    double m_fundamentalPower = 0;       // summed
    double m_residualPower = 0;
    double m_residualPowerA = 0;
    int m_blocks = 0;
    bool m_clipped = false;
};

// The noise of blocks without a tone: the RMS over 20 Hz to 20 kHz re a
// full-scale sine (dBFS), from a rectangle-window transform, unweighted and
// A-weighted; or digital silence, when every sample of every block is zero.
class NoiseMeter {
  public:
    explicit NoiseMeter(int fftSize);

    void Add(const double* block);
    bool DigitalSilence() const { return m_silent; }
    // After at least one block that is not silent.
    double Dbfs() const;
    double DbfsA() const;
    // The blocks' rectangle-window spectrum, powers averaged, in dB.
    std::vector<double> SpectrumDb() const;

  private:
    int m_fftSize;
    CFFT m_rectangle;
    std::vector<double> m_spectrum;
    std::vector<double> m_binPower; // summed over the blocks, linear
    double m_power = 0;
    double m_powerA = 0;
    int m_blocks = 0;
    bool m_silent = true;
};
