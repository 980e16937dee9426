// The window's swept-sine measurement, "Fast response": the sweep at its
// default settings played once through the running audio threads in place of
// the tone, recorded by the capture thread as it comes back, and analysed at
// the stepped sweep's frequencies, so that its points lie where the sweep's
// do. The window cannot wait for the recording as a command-line run does:
// the display cycle moves it on with each block it shows. A recording with a
// gap is made again, up to two more times.
#pragma once

#include "audio/InputRecording.h"
#include "measure/ResultCsv.h"
#include "measure/SweepAnalysis.h"
#include "measure/SweepSignal.h"
#include "plot/LevelTrace.h"

#include <optional>
#include <span>
#include <string>
#include <vector>

class FastResponse {
  public:
    // Recordings made in all before a gap ends it.
    static constexpr int Attempts = 3;
    // As `tembrix response` plays and records it, so that the two agree:
    // silence before the sweep, longer than a card's delay, so that the tone
    // has died away at the input when the sweep arrives; and the margin
    // recorded after it for the card's delay and the response's tail.
    static constexpr double LeadInSeconds = 0.3;
    static constexpr double MarginSeconds = 0.75;

    enum class Progress { Running, Measured, Failed };

    FastResponse() = default;
    // The playback thread lets go of the sweep first.
    ~FastResponse();
    FastResponse(const FastResponse&) = delete;
    FastResponse& operator=(const FastResponse&) = delete;

    bool Running() const { return m_step != Step::Idle; }
    // Plays the sweep from the next block shown; `run` describes the window's
    // devices for the saved file. Not while Running().
    void Start(RunInfo run);
    // With each block the display cycle shows while Running(): Measured once
    // Response() holds the new response, Failed once Message() says why none
    // came.
    Progress BlockShown();
    // The input stopped handing over blocks: ends it, Failed.
    Progress InputStopped();
    // Ends it at once, without a word; the playback thread has let go of the
    // sweep and plays the tone again. Harmless when none runs.
    void Cancel();

    // Once it ended: why it failed, or what to mistrust in the response it
    // measured; empty when there is nothing to say.
    const std::string& Message() const { return m_message; }
    // The last response measured; none before the first.
    const std::optional<SweepResponse>& Response() const { return m_response; }
    // That response as `tembrix response` writes it.
    std::string Csv() const;

  private:
    enum class Step { Idle, AwaitingBlock, Recording };

    Progress Record();
    Progress Analyse(const InputRecording::Result& recording);
    // Ends it, having said why.
    Progress Fail(std::string why);
    void End();

    // Made at the first start (it takes a few tens of milliseconds), and
    // kept: the playback thread reads its samples while it plays.
    std::optional<SweepSignal> m_sweep;
    std::vector<double> m_frequencies;
    // A fresh one for each measurement: it averages what it is given.
    std::optional<SweepAnalysis> m_analysis;
    Step m_step = Step::Idle;
    int m_attempt = 0;
    RunInfo m_run;
    std::string m_message;
    std::optional<SweepResponse> m_response;
    RunInfo m_responseRun;
    double m_recordingDelay = 0; // where the response's recording peaked
};

// The level of the window's tone for each of its level buttons (0 "0dB",
// 1 "-20dB", 2 "No"), in dB re a full-scale sine. A silent tone counts as
// -20 dB, where the AFC sweep would put it.
double ToneLevelDb(int level);

// A measured response drawn where the AFC sweep's trace would lie: each
// gain plus the tone's level. Points not measured are left out.
std::vector<LevelPoint> ResponseLevels(std::span<const SweepResponsePoint> points, double toneDb);
