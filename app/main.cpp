// Tembrix: a measuring instrument for a computer's sound card.
#include "app/MeterApp.h"
#include "app/SignalBridge.h"
#include "cli/CommandLine.h"
#include "cli/DeviceOptions.h"
#include "cli/ExitStatus.h"
#include "cli/MeasureApp.h"
#include "platform/AudioBackend.h"
#include "platform/AudioDevices.h"
#include "platform/StandardStreams.h"
#include "platform/qt/QtMessageBoxes.h"
#include "sim/VirtualCard.h"
#include "ui/MainDlg.h"
#include "ui/SoundCardSettings.h"

#include <QApplication>

#include <cstdio>
#include <string_view>

namespace {

// Hands the device layer the card the command line chose, before any device
// call.
void SelectSoundCard(const cli::CommandLine& command) {
    if (command.audio != platform::AudioBackend::Virtual) {
        platform::UseSoundCard(platform::SystemSoundCard(), platform::AudioBackend::System);
        return;
    }
    VirtualCard& card = sim::TheVirtualCard();
    card.setCardModel(command.virtualCard);
    card.setClock(command.fast ? VirtualCard::Clock::Fast : VirtualCard::Clock::RealTime);
    platform::UseSoundCard(card, platform::AudioBackend::Virtual);
}

bool headless() {
    const QString name = QGuiApplication::platformName();
    return name == QLatin1String("offscreen") || name == QLatin1String("minimal");
}

bool systemCard(const cli::CommandLine& command) {
    return command.audio == platform::AudioBackend::System;
}

int RunWindow(int argc, char** argv, const cli::CommandLine& command,
              const cli::ChosenDevices& chosen) {
    static CMeterApp theApp;
    QApplication application(argc, argv); // takes Qt's own options out of argv
    // Lets the desktop match the window with its menu entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.tembrix.Tembrix"));
    for (int i = 1; i < argc; ++i) {
        if (!std::string_view(argv[i]).starts_with("--")) {
            std::fprintf(stderr, "tembrix: unknown option '%s' (see tembrix --help)\n", argv[i]);
            return 2;
        }
    }
    if (systemCard(command)) {
        // Qt's settings need the QApplication; what the command line chose
        // wins over what was remembered.
        platform::DeviceChoice choice = ui::RestoredSoundCardChoice();
        chosen.ApplyTo(choice);
        platform::ChooseSystemDevices(choice);
    }
    // Nobody could answer a box on a headless screen: boxes go to stderr only.
    if (!headless())
        platform::InstallQtMessageBoxes();
    app::RouteTerminationSignals([] {
        if (CMainDlg* dialog = theApp.mainDialog())
            dialog->reject();
    });
    theApp.InitInstance();
    return 0;
}

// Without QApplication: no display is needed.
int RunMeasurement(const cli::CommandLine& command) {
    cli::CMeasureApp measurement(command);
    measurement.InitInstance();
    return measurement.ExitStatus();
}

} // namespace

int main(int argc, char** argv) {
    if (!platform::PrepareStandardStreams())
        return cli::ExitFailed;
    cli::CommandLine command;
    if (const int status = cli::ParseCommandLine(argc, argv, command); status >= 0)
        return status;
    // Before the first device call, which may load the audio libraries.
    platform::SetVerboseAudioLibraries(command.verbose);
    if (command.listDevices)
        return cli::ListDevices(command);
    cli::ChosenDevices chosen;
    if (systemCard(command)) {
        if (const int status = cli::ResolveDevices(command, chosen); status >= 0)
            return status;
    }
    SelectSoundCard(command);
    if (command.subcommand == cli::Subcommand::Window)
        return RunWindow(argc, argv, command, chosen);
    if (systemCard(command)) {
        platform::DeviceChoice choice;
        chosen.ApplyTo(choice);
        platform::ChooseSystemDevices(choice);
    }
    return RunMeasurement(command);
}
