// A swept-sine measurement driven from the command line: the sweep played
// and recorded as often as asked, each recording with a gap made again, each
// whole one added to the analysis. Shared by the response and the report.
#pragma once

#include "cli/BlockHandOff.h"
#include "cli/MeasurementCommand.h"
#include "measure/SweepAnalysis.h"
#include "measure/SweepSignal.h"

#include <functional>
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

    // Prepares the sweep and plans the analysis: before the devices open.
    // `settings` must be valid.
    SweptSineRunner(const SweepSettings& settings, int sweeps);

    const SweepSignal& Signal() const { return m_signal; }
    int SweepsAsked() const { return m_sweeps; }

    // Plays and records the sweeps until each has been added, a recording
    // fails (ExitPointTimeout after a gap each time, ExitLoopCheck for one
    // that holds no response), or a wait ends. `say` gets the progress.
    using Say = std::function<void(const std::string& line)>;
    RunEnd Run(BlockHandOff& blocks, const Say& say);

    // The recordings averaged so far, and where each one's impulse
    // response peaked.
    int Averaged() const { return m_analysis.Recordings(); }
    const std::vector<double>& RecordingDelays() const { return m_delays; }
    // A recording reached full scale.
    bool Clipped() const { return m_clipped; }

    SweepResponse Analyse(std::span<const double> frequencies) {
        return m_analysis.Analyse(frequencies);
    }

  private:
    RunEnd RecordOne(BlockHandOff& blocks, const Say& say);

    SweepSignal m_signal;
    SweepAnalysis m_analysis;
    int m_sweeps;
    std::vector<double> m_delays;
    bool m_clipped = false;
};

} // namespace cli
