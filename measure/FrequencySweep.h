// The frequency-response sweep as data: which displayed blocks count, the
// peak of the generator's bin over five of them, the window-gain correction,
// and the points measured so far. Whoever runs the sweep (the window, the
// command line) owns the generator's frequency and retunes the tone; this
// object keeps what the sweep has seen.
#pragma once

#include "measure/ResponsePoint.h"
#include "measure/ToneSettling.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

class CFFT;

enum class NoiseVerdict {
    Pass,
    Fail,
    // The eleventh consecutive failing block: the user is told, once, until a
    // block passes.
    FailAndTell,
};

class FrequencySweep {
  public:
    static constexpr int CountedBlocks = 5;
    static constexpr int SilentNoiseFailures = 10;

    explicit FrequencySweep(int fftSize);

    // A new sweep, the tone just set to the start frequency: no points, no
    // block counted. Consecutive noise failures carry over.
    void Start();
    // The tone was just set to the next frequency.
    void Retuned();
    // First of all, with every displayed block while the sweep runs. A block
    // with a gap in it (see ToneSettling::Interrupted) starts the settling
    // again.
    void BlockShown(std::uint64_t droppedBefore, bool hasGap = false);

    // Blocks that may still carry the previous tone fail, as do blocks with
    // noise lines around the tone at `frequency` (see HasNoiseLines).
    NoiseVerdict CheckNoise(const double* spectrum, double frequency, int windowType);
    // Counts a block that passed: the generator bin's level joins the peak.
    // True on the fifth counted block, when the peak is complete.
    bool CountBlock(const double* spectrum, double frequency);
    // Stores the point measured at `frequency`: the peak less the window's
    // own gain at the tone's offset from its bin, since the tone rarely sits
    // on a bin's centre. The count starts again for the next frequency.
    const ResponsePoint& StorePoint(double frequency, const CFFT& fft);

    // What the caller does with a displayed block, when it has nothing else to
    // do between the steps (the command line; the window takes the steps one
    // by one). `frequency` is the generator's.
    struct Step {
        enum Kind { Waiting, NoiseLines, Point, Finished } kind;
        double nextFrequency; // Point: the frequency to tune the tone to
    };
    Step Advance(const double* spectrum, std::uint64_t droppedBefore, double frequency,
                 const CFFT& fft, bool hasGap = false);

    int BlockCount() const { return m_blockCount; }
    double Peak() const { return m_peak; }
    int NoiseFailCount() const { return m_noiseFailCount; }
    // Blocks recorded since the tone was last set, shown and dropped ones.
    std::uint64_t BlocksAtFrequency() const { return m_settling.BlocksRecorded(); }
    std::span<const ResponsePoint> Points() const { return m_points; }
    // Points whose frequency saw blocks with noise lines (stale blocks aside).
    int NoisyPoints() const { return m_noisyPoints; }
    // The window type every point was measured with; none when there are no
    // points or the window changed during the sweep.
    std::optional<int> PointsWindowType() const;

  private:
    int m_fftSize;
    int m_blockCount = 0;
    double m_peak = 0.0;
    int m_noiseFailCount = 0;
    ToneSettling m_settling;
    bool m_noiseAtFrequency = false;
    int m_noisyPoints = 0;
    std::vector<ResponsePoint> m_points; // room for a whole sweep from the start
    int m_pointsWindowType = -1;
    bool m_windowChanged = false;
};
