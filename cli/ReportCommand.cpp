#include "cli/ReportCommand.h"

#include "audio/Audio.h"
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
#include <vector>

namespace cli {
ReportCommand::ReportCommand(const CommandLine& command)
    : m_command(command), m_runner(command.windowType, command.pointTimeoutSeconds) {
    if (!command.stepped) {
        // At the response's defaults: -6 dBFS leaves the harmonics 14 dB more
        // room above the noise than the stepped sweep's -20 dB.
        m_sweptSine.emplace(SweepSettings{}, 1);
        m_report.method = ResponseMethod::SweptSine;
    }
    // Nothing measured yet: where the reference will be, and no figure.
    SummariseReportResponse(m_report, SweepPointFrequencies(FftSize));
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
    m_report.run = run;
    if (const RunEnd end = CheckTheLoop(blocks); end.status != ExitDone)
        return Report(end);

    RunEnd end = m_sweptSine ? MeasureSweptSineResponse(blocks) : MeasureSteppedResponse(blocks);
    if (end.status == ExitDone)
        end = MeasureDistortion(blocks);
    if (end.status == ExitDone)
        end = MeasureDynamicRange(blocks);
    if (end.status == ExitDone)
        end = MeasureNoise(blocks);
    return WriteReport(output, end);
}

// One block of the 997 Hz tone at -20 dBFS, once the previous sound is gone.
RunEnd ReportCommand::CheckTheLoop(BlockHandOff& blocks) {
    Say("Loop check...");
    CFFT fft;
    fft.InitWindow(BlockOrder, CFFT::QuasiChebyshev);
    std::vector<double> spectrum(FftSize / 2);
    LoopCheck check{};
    const RunEnd end = TakeSettledBlocks(blocks, 1, [&](const double* block) {
        check = CheckLoop(block, FftSize, ReportToneHz, LoopCheckDbfs, fft, spectrum.data());
    });
    if (end.status != ExitDone)
        return end;
    if (check.verdict != LoopCheck::Verdict::Passed)
        return {ExitLoopCheck, "loop check failed: " + check.Problem(ReportToneHz, LoopCheckDbfs)};
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
    const SweepResponse response = m_sweptSine->Analyse(frequencies);
    for (const SweepResponsePoint& point : response.points) {
        const bool planned = std::find(plan.begin(), plan.end(), point.frequencyHz) != plan.end();
        (planned ? m_report.distortionCurve : m_report.distortionTable).push_back(point);
    }
    m_report.points =
        LevelPoints(m_report.distortionCurve, m_sweptSine->Signal().Settings().levelDbfs);
    m_report.latencySamples = response.delaySamples;
    m_report.sweepClipped = m_sweptSine->Clipped();
    SummariseReportResponse(m_report, plan);
    m_report.SetMeasured(ReportPart::Response);
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
    const FrequencySweep& sweep = m_runner.Sweep();
    m_report.points.assign(sweep.Points().begin(), sweep.Points().end());
    m_report.noisyPoints = sweep.NoisyPoints();
    SummariseReportResponse(m_report, SweepPointFrequencies(FftSize));
    if (end.status == ExitDone)
        m_report.SetMeasured(ReportPart::Response);
    return end;
}

RunEnd ReportCommand::MeasureDistortion(BlockHandOff& blocks) {
    Say("Distortion at -1 dBFS...");
    DistortionMeter::Result result;
    const RunEnd end = MeasureTone(blocks, DistortionToneDbfs, result);
    if (end.status == ExitDone) {
        m_report.distortion = result;
        m_report.SetMeasured(ReportPart::Distortion);
    }
    return end;
}

RunEnd ReportCommand::MeasureDynamicRange(BlockHandOff& blocks) {
    Say("Dynamic range at -60 dBFS...");
    DistortionMeter::Result result;
    const RunEnd end = MeasureTone(blocks, DynamicRangeToneDbfs, result);
    if (end.status == ExitDone) {
        m_report.dynamicRangeDbA = -result.residualDbfsA;
        m_report.SetMeasured(ReportPart::DynamicRange);
    }
    return end;
}

RunEnd ReportCommand::MeasureTone(BlockHandOff& blocks, double toneDbfs,
                                  DistortionMeter::Result& result) {
    const BlockHandOff::Wait wait = blocks.ChangeAtNextBlock([&] { PlayTestTone(toneDbfs); });
    if (wait != BlockHandOff::Wait::Block)
        return EndOfWaiting(wait);
    DistortionMeter meter(ReportToneHz, FftSize);
    const RunEnd end = TakeSettledBlocks(blocks, ReportBlocksPerFigure,
                                         [&](const double* block) { meter.Add(block); });
    if (end.status == ExitDone)
        result = meter.Compute();
    return end;
}

RunEnd ReportCommand::MeasureNoise(BlockHandOff& blocks) {
    Say("Noise with the tone off...");
    const BlockHandOff::Wait wait = blocks.ChangeAtNextBlock([&] { PlaySilence(); });
    if (wait != BlockHandOff::Wait::Block)
        return EndOfWaiting(wait);
    NoiseMeter meter(FftSize);
    const RunEnd end = TakeSettledBlocks(blocks, ReportBlocksPerFigure,
                                         [&](const double* block) { meter.Add(block); });
    if (end.status != ExitDone)
        return end;
    m_report.digitalSilence = meter.DigitalSilence();
    m_report.noiseDbfs = meter.Dbfs();
    m_report.noiseDbfsA = meter.DbfsA();
    m_report.noiseSpectrumDb = meter.SpectrumDb();
    m_report.SetMeasured(ReportPart::Noise);
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
                                        const std::function<void(const double*)>& take) {
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
        m_report.droppedBlocks += block.droppedBefore;
        if (!settling.MayCarryOldTone() && block.droppedBefore == 0 && blocks.GapsBefore() == 0) {
            take(SampleBlock());
            ++taken;
        }
        blocks.Done();
    }
    return {ExitDone, ""};
}

// What was measured is written, also when the run ended early; a write that
// fails makes a complete run fail.
int ReportCommand::WriteReport(ResultFile& output, const RunEnd& end) {
    m_report.stopReason = end.why;
    m_report.gaps = platform::InputGaps(*InDevice());
    m_report.outputGaps = platform::OutputGaps(*OutDevice());
    m_report.streamReopens = platform::StreamReopens();
    const FormatLimits limits = SixteenBitLimits(FftSize);
    RunEnd result = end;
    const auto failed = [&](const std::string& why) {
        if (result.status == ExitDone)
            result = {ExitFailed, why};
        else
            Report({ExitFailed, why});
    };
    if (!output.Write(ReportTable(m_report, limits)))
        failed(output.Error());
    std::string error;
    if (!m_command.jsonPath.empty() &&
        !platform::WriteFileAtomically(m_command.jsonPath, ReportJson(m_report, limits), error))
        failed("cannot write " + m_command.jsonPath + ": " + error);
    if (!m_command.htmlPath.empty() &&
        !platform::WriteFileAtomically(m_command.htmlPath, ReportHtml(m_report, limits), error))
        failed("cannot write " + m_command.htmlPath + ": " + error);
    return Report(result);
}

void ReportCommand::Say(const char* line) const {
    if (!m_command.quiet)
        std::fprintf(stderr, "%s\n", line);
}

} // namespace cli
