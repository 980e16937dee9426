#include "cli/MeasureApp.h"

#include "audio/Audio.h"
#include "audio/AudioSession.h"
#include "cli/BinLevelsCommand.h"
#include "cli/ExitStatus.h"
#include "cli/ReportCommand.h"
#include "cli/ResponseCommand.h"
#include "cli/ResultFile.h"
#include "cli/StopSignals.h"
#include "cli/SweepCommand.h"
#include "dsp/SignalFormat.h"
#include "platform/AudioBackend.h"
#include "platform/OutputPath.h"
#include "platform/Process.h"
#include "platform/SoundCard.h"
#include "res/Version.h"

#include <memory>

namespace cli {
namespace {

std::unique_ptr<MeasurementCommand> CommandFor(const CommandLine& command) {
    switch (command.subcommand) {
    case Subcommand::Spectrum:
        return std::make_unique<BinLevelsCommand>(command);
    case Subcommand::Report:
        return std::make_unique<ReportCommand>(command);
    case Subcommand::Response:
        return std::make_unique<ResponseCommand>(command);
    default:
        return std::make_unique<SweepCommand>(command);
    }
}

const char* MeasurementName(Subcommand subcommand) {
    switch (subcommand) {
    case Subcommand::Spectrum:
        return "spectrum";
    case Subcommand::Report:
        return "report";
    case Subcommand::Response:
        return "response";
    default:
        return "sweep";
    }
}

} // namespace

BOOL CMeasureApp::InitInstance() {
    platform::TreatEveryProcessEndAsFailure();
    // Before the stop signals are caught: opening a FIFO waits for its reader,
    // and with nothing measured yet a SIGINT may end that wait at once.
    ResultFile output;
    if (!output.Open(m_command.csvPath)) {
        m_status = Report({ExitFailed, output.Error()});
        return FALSE;
    }
    // The report's files and the impulse response are written once the run
    // ends: a path that cannot take them is refused before minutes are spent.
    for (const std::string* path :
         {&m_command.jsonPath, &m_command.htmlPath, &m_command.impulsePath}) {
        std::string reason;
        if (!path->empty() && !platform::CanTakeResult(*path, reason)) {
            m_status = Report({ExitFailed, "cannot write " + *path + ": " + reason});
            return FALSE;
        }
    }
    CatchStopSignals();

    ChannelCount = m_command.channels;
    audio::PrepareAudioState();
    const std::unique_ptr<MeasurementCommand> measurement = CommandFor(m_command);
    audio::RequireAudioDevices();
    audio::StartAudioThreads();
    m_pMainWnd = &m_window;
    measurement->SetTone();
    audio::OpenAudioDevices();
    BlockHandOff blocks(m_window);
    blocks.TellAudioPath(m_command.quiet);
    m_status = measurement->Run(blocks, output, DescribeRun());
    blocks.FinishAudioPath();
    audio::ShutDownAudio();
    m_pMainWnd = nullptr;
    return FALSE;
}

RunInfo CMeasureApp::DescribeRun() const {
    const SoundCard& card = platform::CurrentSoundCard();
    RunInfo run;
    run.measurement = MeasurementName(m_command.subcommand);
    run.version = TembrixVersion;
    run.dateTime = IsoDateTime(std::chrono::system_clock::now());
    run.audio = m_command.audio == platform::AudioBackend::Virtual ? "virtual" : "system";
    run.inputDevice = card.deviceName(WaveDirection::Input);
    run.outputDevice = card.deviceName(WaveDirection::Output);
    run.level = LevelName(m_command.level);
    run.sampleRateHz = SampleRate;
    run.blockSize = BlockSize;
    return run;
}

} // namespace cli
