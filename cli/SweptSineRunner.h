// A swept-sine measurement driven from the command line: the sweep played
// and recorded as often as asked, each recording with a gap made again, each
// whole one added to the analysis. Shared by the response and the report.
//
// The order of a run of two input channels is kept here. Without a reference
// channel each round plays the sweep on the left output only, then on the
// right only: the driven channel's own response comes from its input, and
// what the other input picks up meanwhile, aligned on the driven channel's
// impulse response, is the crosstalk. With a reference channel each round
// plays on both outputs at once, and the measured channel is aligned on the
// reference's impulse response, so that the two share one time base.
#pragma once

#include "cli/BlockHandOff.h"
#include "cli/MeasurementCommand.h"
#include "measure/ChannelComparison.h"
#include "measure/SweepAnalysis.h"
#include "measure/SweepSignal.h"

#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace cli {

class SweptSineRunner {
  public:
    // Silence played before each sweep: longer than a card's delay, so that
    // what played before has died away when the sweep comes back.
    static constexpr double LeadInSeconds = 0.3;
    // Recorded after the sweep: the card's delay and the response's tail.
    static constexpr double MarginSeconds = 0.75;
    // A recording with a gap is made again at most this many times.
    static constexpr int RetriesAfterAGap = 2;

    // Prepares the sweep and plans the analyses: before the devices open.
    // `settings` must be valid; `channels` is 1 or 2 (ChannelCount), and a
    // reference channel (0 or 1) needs 2.
    SweptSineRunner(const SweepSettings& settings, int sweeps, int channels = 1,
                    std::optional<int> reference = std::nullopt);

    const SweepSignal& Signal() const { return m_signal; }
    int SweepsAsked() const { return m_sweeps; }

    // Plays and records the rounds of sweeps until each has been added, a
    // recording fails (ExitPointTimeout after a gap each time, ExitLoopCheck
    // for one that holds no response), or a wait ends. `say` gets the
    // progress.
    using Say = std::function<void(const std::string& line)>;
    RunEnd Run(BlockHandOff& blocks, const Say& say);

    // An input on a clock of its own: every recording is read onto the
    // output's clock before its analysis (SweepAnalysis::CorrectClockDrift).
    // Before Run.
    void CorrectClockDrift(double ppm);

    // The rounds averaged so far, and where the impulse response peaked in
    // each recording of the first sweep of a round (the left channel's, or
    // the reference's).
    int Averaged() const;
    const std::vector<double>& RecordingDelays() const { return m_delays[m_passes[0].lead]; }
    // A recording reached full scale.
    bool Clipped() const { return m_clipped; }

    // Input channel `channel`'s response to its own output (to both outputs
    // with a reference channel), on the run's time base.
    SweepResponse Analyse(std::span<const double> frequencies, int channel = 0) {
        return m_direct[channel]->Analyse(frequencies);
    }
    // Two channels without a reference: what input channel `silent` picked
    // up while only the other output played, re what the other input
    // received.
    Crosstalk CrosstalkInto(int silent, std::span<const double> frequencies);

  private:
    // One sweep of a round: the output that plays it, the input channel
    // analysed on its own impulse response, and the one aligned on it.
    struct Pass {
        int output;
        int lead;
        SweepAnalysis* leadAnalysis;
        std::optional<int> companion;
        SweepAnalysis* companionAnalysis = nullptr;
    };

    RunEnd RecordOne(BlockHandOff& blocks, const Pass& pass, const Say& say);
    std::string ChannelWords(const Pass& pass) const;

    SweepSignal m_signal;
    int m_sweeps;
    int m_channels;
    // Per input channel: its response to the output that drives it, and,
    // with two channels and no reference, what it picks up from the other.
    std::vector<std::unique_ptr<SweepAnalysis>> m_direct;
    std::vector<std::unique_ptr<SweepAnalysis>> m_leak;
    std::vector<Pass> m_passes; // a round
    std::vector<std::vector<double>> m_delays;
    bool m_clipped = false;
};

} // namespace cli
