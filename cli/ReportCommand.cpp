#include "cli/ReportCommand.h"

#include "audio/Audio.h"
#include "cli/ClockDriftRun.h"
#include "cli/ExitStatus.h"
#include "cli/ResultFile.h"
#include "cli/SweepProgress.h"
#include "measure/LoopCheck.h"
#include "measure/NumberFormat.h"
#include "measure/SweepPlan.h"
#include "measure/ToneSettling.h"
#include "platform/AtomicFile.h"
#include "plot/ReportPage.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <deque>
#include <vector>

namespace cli {
namespace {

std::vector<int> ReportedChannels(const CommandLine& command) {
    if (command.referenceChannel)
        return {2 - *command.referenceChannel}; // the other one, from 0
    if (command.channels == 2)
        return {0, 1};
    return {0};
}

// The swept sine's distortion stays the measured channel's own: the ratio to
// the reference has none.
void TakeOwnDistortion(std::vector<SweepResponsePoint>& ratio,
                       std::span<const SweepResponsePoint> own) {
    for (SweepResponsePoint& point : ratio)
        for (const SweepResponsePoint& measured : own)
            if (measured.frequencyHz == point.frequencyHz) {
                point.harmonicsDb = measured.harmonicsDb;
                point.thdDb = measured.thdDb;
            }
}

} // namespace

ReportCommand::ReportCommand(const CommandLine& command)
    : m_command(command), m_reported(ReportedChannels(command)), m_reports(m_reported.size()),
      m_runner(command.windowType, command.pointTimeoutSeconds) {
    if (command.referenceChannel)
        m_reference = *command.referenceChannel - 1;
    if (!command.stepped)
        // At the response's defaults: -6 dBFS leaves the harmonics 14 dB more
        // room above the noise than the stepped sweep's -20 dB.
        m_sweptSine.emplace(SweepSettings{}, 1, command.channels, m_reference);
    for (std::size_t i = 0; i < m_reports.size(); ++i) {
        LoopbackReport& report = m_reports[i];
        if (command.channels == 2)
            report.channel = ChannelName(m_reported[i]);
        if (m_reference)
            report.referenceChannel = ChannelName(*m_reference);
        if (m_sweptSine)
            report.method = ResponseMethod::SweptSine;
        // Nothing measured yet: where the reference will be, and no figure.
        SummariseReportResponse(report, SweepPointFrequencies(FftSize));
    }
}

void ReportCommand::SetTone() {
    PlayTestTone(LoopCheckDbfs);
}

int ReportCommand::Run(BlockHandOff& blocks, ResultFile& output, RunInfo run) {
    if (m_sweptSine) {
        run.level = SignificantText(m_sweptSine->Signal().Settings().levelDbfs, 6) + " dBFS";
        run.window.clear();
    } else {
        run.window = WindowName(m_command.windowType);
    }
    for (LoopbackReport& report : m_reports)
        report.run = run;
    if (const RunEnd end = CheckTheLoop(blocks); end.status != ExitDone)
        return Report(end);
    Say("Clock drift (a 2 s tone)...");
    const DriftRun drift =
        MeasureDrift(blocks, [this](const std::string& line) { Say(line.c_str()); });
    if (drift.end.status != ExitDone)
        return Report(drift.end);
    if (drift.drift) {
        for (LoopbackReport& report : m_reports)
            report.driftPpm = drift.drift->ppm;
        // The tone comes back at its frequency on the input's clock: the
        // distortion meter fits its sine there, or it reads the drift as
        // distortion.
        m_toneHzOnInputClock = ReportToneHz * (1 + drift.drift->ppm * 1e-6);
        if (m_sweptSine && ClocksOfTheirOwn(drift.drift->ppm))
            m_sweptSine->CorrectClockDrift(drift.drift->ppm);
    }

    RunEnd end = m_sweptSine ? MeasureSweptSineResponse(blocks) : MeasureSteppedResponse(blocks);
    if (end.status == ExitDone)
        end = MeasureDistortion(blocks);
    if (end.status == ExitDone)
        end = MeasureDynamicRange(blocks);
    if (end.status == ExitDone)
        end = MeasureNoise(blocks);
    for (LoopbackReport& report : m_reports)
        report.audioPath = blocks.KnownAudioPath();
    return WriteReport(output, end);
}

// One block of the 997 Hz tone at -20 dBFS, once the previous sound is gone,
// on every input channel (a reference channel too).
RunEnd ReportCommand::CheckTheLoop(BlockHandOff& blocks) {
    Say("Loop check...");
    CFFT fft;
    fft.InitWindow(BlockOrder, CFFT::QuasiChebyshev);
    std::vector<double> spectrum(FftSize / 2);
    std::vector<LoopCheck> checks(ChannelCount);
    const RunEnd end = TakeSettledBlocks(blocks, 1, [&] {
        for (int channel = 0; channel < ChannelCount; ++channel)
            checks[channel] = CheckLoop(SampleBlock(channel), FftSize, ReportToneHz, LoopCheckDbfs,
                                        fft, spectrum.data());
    });
    if (end.status != ExitDone)
        return end;
    // A sound server's volume or mute changes the level heard: the check
    // names it, whether or not the level stays within its margin.
    std::string volumes;
    if (const std::optional<AudioPath>& path = blocks.KnownAudioPath(); path)
        volumes = VolumeText(*path);
    for (int channel = 0; channel < ChannelCount; ++channel) {
        const std::string where = ChannelCount == 1
                                      ? std::string()
                                      : std::string(" on the ") + ChannelName(channel) + " channel";
        if (checks[channel].verdict == LoopCheck::Verdict::Passed) {
            if (!volumes.empty())
                std::fprintf(stderr,
                             "tembrix: loop check%s: the tone came back at %.2f dBFS, played at "
                             "%.0f dBFS, through the sound server's %s\n",
                             where.c_str(), checks[channel].levelDb, LoopCheckDbfs,
                             volumes.c_str());
            continue;
        }
        return {ExitLoopCheck, "loop check failed" + where + ": " +
                                   checks[channel].Problem(ReportToneHz, LoopCheckDbfs) +
                                   (volumes.empty() ? "" : "; the sound server's " + volumes)};
    }
    return end;
}

// One sweep after silence; its figures only when it was measured whole.
RunEnd ReportCommand::MeasureSweptSineResponse(BlockHandOff& blocks) {
    Say("Frequency response (swept sine)...");
    const BlockHandOff::Wait wait = blocks.ChangeAtNextBlock([&] { PlaySilence(); });
    if (wait != BlockHandOff::Wait::Block)
        return EndOfWaiting(wait);
    const RunEnd end =
        m_sweptSine->Run(blocks, [this](const std::string& line) { Say(line.c_str()); });
    if (end.status != ExitDone)
        return end;

    // The response at the stepped sweep's frequencies, the table's among them.
    const std::vector<double> plan = SweepPointFrequencies(FftSize);
    std::vector<double> frequencies = plan;
    frequencies.insert(frequencies.end(), DistortionTableHz.begin(), DistortionTableHz.end());
    std::sort(frequencies.begin(), frequencies.end());
    std::vector<SweepResponse> responses;
    for (std::size_t i = 0; i < m_reports.size(); ++i) {
        SweepResponse response = m_sweptSine->Analyse(frequencies, m_reported[i]);
        if (m_reference) {
            SweptSineRatio ratio =
                SweptSineRatioOf(response, m_sweptSine->Analyse(frequencies, *m_reference));
            TakeOwnDistortion(ratio.points, response.points);
            response.points = std::move(ratio.points);
            response.delaySamples = ratio.delaySamples;
        }
        LoopbackReport& report = m_reports[i];
        for (const SweepResponsePoint& point : response.points) {
            const bool planned =
                std::find(plan.begin(), plan.end(), point.frequencyHz) != plan.end();
            (planned ? report.distortionCurve : report.distortionTable).push_back(point);
        }
        // Re the reference the gain is the level: 0 dB where the two agree.
        const double played = m_reference ? 0 : m_sweptSine->Signal().Settings().levelDbfs;
        report.points = LevelPoints(report.distortionCurve, played);
        report.latencySamples = response.delaySamples;
        report.sweepClipped = m_sweptSine->Clipped();
        SummariseReportResponse(report, plan);
        responses.push_back(std::move(response));
    }
    if (m_reported.size() == 2) {
        m_leftToRight = m_sweptSine->CrosstalkInto(1, frequencies);
        m_rightToLeft = m_sweptSine->CrosstalkInto(0, frequencies);
        m_match = MatchChannels(responses[0], responses[1]);
    }
    SetMeasured(ReportPart::Response);
    return end;
}

RunEnd ReportCommand::MeasureSteppedResponse(BlockHandOff& blocks) {
    const BlockHandOff::Wait wait =
        blocks.ChangeAtNextBlock([&] { m_runner.SetTone(m_command.level); });
    if (wait != BlockHandOff::Wait::Block)
        return EndOfWaiting(wait);
    SweepProgress progress(SweepProgress::StyleFor(stderr, m_command.quiet),
                           static_cast<int>(SweepPointFrequencies(FftSize).size()));
    const RunEnd end =
        m_runner.Run(blocks, progress, [](int, const ResponsePoint&, RunEnd&) { return true; });
    progress.Finish();
    for (std::size_t i = 0; i < m_reports.size(); ++i) {
        const FrequencySweep& sweep = m_runner.Sweep(m_reported[i]);
        LoopbackReport& report = m_reports[i];
        if (m_reference)
            report.points = SteppedRatio(sweep.Points(), m_runner.Sweep(*m_reference).Points());
        else
            report.points.assign(sweep.Points().begin(), sweep.Points().end());
        report.noisyPoints = sweep.NoisyPoints();
        SummariseReportResponse(report, SweepPointFrequencies(FftSize));
    }
    if (end.status == ExitDone) {
        if (m_reported.size() == 2)
            m_match = MatchChannels(m_runner.Sweep(0).Points(), m_runner.Sweep(1).Points());
        SetMeasured(ReportPart::Response);
    }
    return end;
}

RunEnd ReportCommand::MeasureDistortion(BlockHandOff& blocks) {
    Say("Distortion at -1 dBFS...");
    std::vector<DistortionMeter::Result> results;
    const RunEnd end = MeasureTone(blocks, DistortionToneDbfs, results);
    if (end.status == ExitDone) {
        for (std::size_t i = 0; i < m_reports.size(); ++i)
            m_reports[i].distortion = results[i];
        SetMeasured(ReportPart::Distortion);
    }
    return end;
}

RunEnd ReportCommand::MeasureDynamicRange(BlockHandOff& blocks) {
    Say("Dynamic range at -60 dBFS...");
    std::vector<DistortionMeter::Result> results;
    const RunEnd end = MeasureTone(blocks, DynamicRangeToneDbfs, results);
    if (end.status == ExitDone) {
        for (std::size_t i = 0; i < m_reports.size(); ++i)
            m_reports[i].dynamicRangeDbA = -results[i].residualDbfsA;
        SetMeasured(ReportPart::DynamicRange);
    }
    return end;
}

RunEnd ReportCommand::MeasureTone(BlockHandOff& blocks, double toneDbfs,
                                  std::vector<DistortionMeter::Result>& results) {
    const BlockHandOff::Wait wait = blocks.ChangeAtNextBlock([&] { PlayTestTone(toneDbfs); });
    if (wait != BlockHandOff::Wait::Block)
        return EndOfWaiting(wait);
    std::deque<DistortionMeter> meters; // made in place: a meter is not copied
    for (std::size_t i = 0; i < m_reported.size(); ++i)
        meters.emplace_back(m_toneHzOnInputClock, FftSize);
    const RunEnd end = TakeSettledBlocks(blocks, ReportBlocksPerFigure, [&] {
        for (std::size_t i = 0; i < meters.size(); ++i)
            meters[i].Add(SampleBlock(m_reported[i]));
    });
    if (end.status == ExitDone)
        for (DistortionMeter& meter : meters)
            results.push_back(meter.Compute());
    return end;
}

void ReportCommand::SetMeasured(ReportPart part) {
    for (LoopbackReport& report : m_reports)
        report.SetMeasured(part);
}

RunEnd ReportCommand::MeasureNoise(BlockHandOff& blocks) {
    Say("Noise with the tone off...");
    const BlockHandOff::Wait wait = blocks.ChangeAtNextBlock([&] { PlaySilence(); });
    if (wait != BlockHandOff::Wait::Block)
        return EndOfWaiting(wait);
    std::deque<NoiseMeter> meters;
    for (std::size_t i = 0; i < m_reported.size(); ++i)
        meters.emplace_back(FftSize);
    const RunEnd end = TakeSettledBlocks(blocks, ReportBlocksPerFigure, [&] {
        for (std::size_t i = 0; i < meters.size(); ++i)
            meters[i].Add(SampleBlock(m_reported[i]));
    });
    if (end.status != ExitDone)
        return end;
    for (std::size_t i = 0; i < meters.size(); ++i) {
        LoopbackReport& report = m_reports[i];
        report.digitalSilence = meters[i].DigitalSilence();
        report.noiseDbfs = meters[i].Dbfs();
        report.noiseDbfsA = meters[i].DbfsA();
        report.noiseSpectrumDb = meters[i].SpectrumDb();
    }
    SetMeasured(ReportPart::Noise);
    return end;
}

void ReportCommand::PlayTestTone(double dbfs) {
    GenPeriod = SampleRate / ReportToneHz;
    const double amplitude = std::pow(10.0, dbfs / 20);
    SoundOutThread->PostThreadMessage(
        WM_SET_TEST_LEVEL, static_cast<WPARAM>(std::llround(amplitude * TestLevelScale)), 0);
}

void ReportCommand::PlaySilence() {
    SoundOutThread->PostThreadMessage(WM_SET_LEVEL, 0, 0);
}

RunEnd ReportCommand::TakeSettledBlocks(BlockHandOff& blocks, int count,
                                        const std::function<void()>& take) {
    // The tone keeps its frequency here, so the noise test cannot tell an old
    // level from the new one; and the capture thread may still hold its two
    // recorded buffers, unseen, when the level changes.
    ToneSettling settling(ToneSettling::StaleBlocks + CaptureBufferCount);
    settling.Retuned();
    // As long as a sweep may wait for a point.
    const double limit =
        ToneSettling::StaleBlocks + count + m_command.pointTimeoutSeconds * SampleRate / FftSize;
    int taken = 0;
    for (int shown = 0; taken < count; ++shown) {
        if (shown > limit)
            return {ExitPointTimeout, "no blocks without dropped blocks or gaps before them "
                                      "within the point time-out"};
        BlockHandOff::Block block;
        const BlockHandOff::Wait wait = blocks.Next(block);
        if (wait != BlockHandOff::Wait::Block)
            return EndOfWaiting(wait);
        settling.BlockShown(block.droppedBefore);
        if (block.hasGap)
            settling.Interrupted();
        for (LoopbackReport& report : m_reports)
            report.droppedBlocks += block.droppedBefore;
        if (!settling.MayCarryOldTone() && block.droppedBefore == 0 && blocks.GapsBefore() == 0) {
            take();
            ++taken;
        }
        blocks.Done();
    }
    return {ExitDone, ""};
}

// What was measured is written, also when the run ended early; a write that
// fails makes a complete run fail.
int ReportCommand::WriteReport(ResultFile& output, const RunEnd& end) {
    for (LoopbackReport& report : m_reports) {
        report.stopReason = end.why;
        report.gaps = platform::InputGaps(*InDevice());
        report.outputGaps = platform::OutputGaps(*OutDevice());
        report.streamReopens = platform::StreamReopens();
    }
    const FormatLimits limits = SixteenBitLimits(FftSize);
    std::string table, json, html;
    if (m_reports.size() == 2) {
        const ChannelsReport both{
            {m_reports[0], m_reports[1]}, m_leftToRight, m_rightToLeft, m_match};
        table = ChannelsTable(both, limits);
        json = ChannelsJson(both, limits);
        html = ReportHtml(both, limits);
    } else {
        table = ReportTable(m_reports[0], limits);
        json = ReportJson(m_reports[0], limits);
        html = ReportHtml(m_reports[0], limits);
    }
    RunEnd result = end;
    const auto failed = [&](const std::string& why) {
        if (result.status == ExitDone)
            result = {ExitFailed, why};
        else
            Report({ExitFailed, why});
    };
    if (!output.Write(table))
        failed(output.Error());
    std::string error;
    if (!m_command.jsonPath.empty() &&
        !platform::WriteFileAtomically(m_command.jsonPath, json, error))
        failed("cannot write " + m_command.jsonPath + ": " + error);
    if (!m_command.htmlPath.empty() &&
        !platform::WriteFileAtomically(m_command.htmlPath, html, error))
        failed("cannot write " + m_command.htmlPath + ": " + error);
    return Report(result);
}

void ReportCommand::Say(const char* line) const {
    if (!m_command.quiet)
        std::fprintf(stderr, "%s\n", line);
}

} // namespace cli
