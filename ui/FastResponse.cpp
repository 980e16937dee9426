#include "ui/FastResponse.h"

#include "audio/Audio.h"
#include "audio/SignalRecording.h"
#include "measure/NumberFormat.h"
#include "measure/SweepPlan.h"

#include <cmath>
#include <utility>

namespace {

std::size_t FramesOf(double seconds) {
    return static_cast<std::size_t>(std::ceil(seconds * SampleRate));
}

std::string VerdictText(SweepRecording::Verdict verdict) {
    switch (verdict) {
    case SweepRecording::Verdict::TooShort:
        return "The recording ended before the sweep could have come back.";
    case SweepRecording::Verdict::Silent:
        return "Nothing came back: the input recorded silence. Is the output connected to the "
               "input?";
    case SweepRecording::Verdict::NoResponse:
        return "No response stood out of the noise. Is the output connected to the input, and "
               "loud enough?";
    case SweepRecording::Verdict::Found:
        break;
    }
    return "";
}

} // namespace

FastResponse::~FastResponse() {
    Cancel();
}

void FastResponse::Start(RunInfo run) {
    if (!m_sweep) {
        m_sweep.emplace(SweepSettings{});
        m_frequencies = SweepPointFrequencies(FftSize);
    }
    m_analysis.emplace(*m_sweep, MarginSeconds);
    m_run = std::move(run);
    m_run.level = SignificantText(m_sweep->Settings().levelDbfs, 6) + " dBFS";
    m_run.window.clear();
    m_attempt = 0;
    m_message.clear();
    m_step = Step::AwaitingBlock;
}

// A block has just come, so the input runs: the sweep comes back recorded.
FastResponse::Progress FastResponse::BlockShown() {
    if (m_step == Step::AwaitingBlock)
        return Record();
    if (m_step != Step::Recording || !Recording.Finished())
        return Progress::Running;
    const InputRecording::Result recording = audio::TakeSignalRecording();
    m_step = Step::AwaitingBlock;
    if (recording.gap == InputRecording::Gap::None)
        return Analyse(recording);
    if (m_attempt < Attempts)
        return Record();
    return Fail("Each of " + std::to_string(Attempts) + " recordings of the sweep held a gap; " +
                "the last: " + GapText(recording.gap) + ".");
}

FastResponse::Progress FastResponse::InputStopped() {
    return Fail("The audio input stopped during the sweep.");
}

void FastResponse::Cancel() {
    if (m_step == Step::Recording)
        audio::CancelSignalRecording();
    End();
}

void FastResponse::End() {
    m_step = Step::Idle;
    m_analysis.reset();
}

FastResponse::Progress FastResponse::Record() {
    ++m_attempt;
    const std::span<const std::int16_t> samples = m_sweep->Samples();
    const SignalPlayback::Program program{samples, FramesOf(LeadInSeconds),
                                          m_analysis->RecordingFrames() - samples.size()};
    if (const std::optional<std::string> refused = audio::StartSignalRecording(program))
        return Fail("The sweep cannot be played: " + *refused + ".");
    m_step = Step::Recording;
    return Progress::Running;
}

FastResponse::Progress FastResponse::Analyse(const InputRecording::Result& recording) {
    const SweepRecording found =
        m_analysis->Add(std::span(recording.samples).subspan(recording.signalStart));
    if (found.verdict != SweepRecording::Verdict::Found)
        return Fail(VerdictText(found.verdict));
    if (found.clipped)
        m_message = "The recording reached full scale: the response holds the clipping's "
                    "distortion. Turn the output or the input down and measure again.";
    m_response = m_analysis->Analyse(m_frequencies);
    m_responseRun = m_run;
    m_recordingDelay = found.delaySamples;
    End();
    return Progress::Measured;
}

FastResponse::Progress FastResponse::Fail(std::string why) {
    m_message = std::move(why);
    Cancel();
    return Progress::Failed;
}

std::string FastResponse::Csv() const {
    SweptSineRun sweep;
    sweep.startHz = m_sweep->StartHz();
    sweep.endHz = m_sweep->EndHz();
    sweep.lengthSeconds = m_sweep->LengthSeconds();
    sweep.levelDbfs = m_sweep->Settings().levelDbfs;
    sweep.sweeps = 1;
    sweep.latencySamples = m_response->delaySamples;
    sweep.recordingLatencySamples = {m_recordingDelay};
    return SweptSineCsv(m_responseRun, sweep, m_response->points);
}

double ToneLevelDb(int level) {
    const WPARAM command = LevelCommands[level == 2 ? 1 : level];
    return 20 * std::log10(command / 65536.0 * (FullScale - 1) / FullScale);
}

std::vector<LevelPoint> ResponseLevels(std::span<const SweepResponsePoint> points, double toneDb) {
    std::vector<LevelPoint> levels;
    levels.reserve(points.size());
    for (const SweepResponsePoint& point : points)
        if (std::isfinite(point.gainDb))
            levels.push_back({point.frequencyHz, point.gainDb + toneDb});
    return levels;
}
