// Tembrix: a measuring instrument for a computer's sound card.
#include "AudioBackend.h"
#include "MainDlg.h"
#include "MeterApp.h"
#include "QtMessageBoxes.h"
#include "SignalBridge.h"

#include <QApplication>

#include <cstdio>
#include <string_view>

namespace {

CMeterApp theApp;

constexpr const char* Usage =
    "Usage: tembrix [--audio=system|virtual]\n"
    "\n"
    "  --audio=system   the default input and output devices (default)\n"
    "  --audio=virtual  the built-in loop-back sound card with a simulated\n"
    "                   device under test\n"
    "  --help           this text\n";

int unknownOption(std::string_view option) {
    std::fprintf(stderr, "tembrix: unknown option '%.*s'\n\n%s", static_cast<int>(option.size()),
                 option.data(), Usage);
    return 2;
}

// Our options are the double-dash ones; Qt's own (single dash, such as
// "-platform offscreen") are left for QApplication. Returns -1 to go on, or
// the exit status to end with.
int parseOptions(int argc, char** argv) {
    platform::AudioBackend backend = platform::AudioBackend::System;
    for (int i = 1; i < argc; ++i) {
        const std::string_view option = argv[i];
        if (option == "--help") {
            std::fputs(Usage, stdout);
            return 0;
        }
        if (!option.starts_with("--"))
            continue;
        if (option.starts_with("--audio=") &&
            platform::ParseAudioBackend(option.substr(8), backend))
            continue;
        return unknownOption(option);
    }
    platform::SelectAudioBackend(backend);
    return -1;
}

bool headless() {
    const QString name = QGuiApplication::platformName();
    return name == QLatin1String("offscreen") || name == QLatin1String("minimal");
}

} // namespace

int main(int argc, char** argv) {
    if (const int status = parseOptions(argc, argv); status >= 0)
        return status;
    QApplication application(argc, argv); // takes Qt's own options out of argv
    for (int i = 1; i < argc; ++i) {
        if (!std::string_view(argv[i]).starts_with("--"))
            return unknownOption(argv[i]);
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
