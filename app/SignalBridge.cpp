#include "app/SignalBridge.h"

#include "cli/StopSignals.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace app {
namespace {

int signalPipe[2] = {-1, -1};

// Only async-signal-safe work here: the user-interface thread does the rest.
void onSignal(int number) {
    const unsigned char byte = static_cast<unsigned char>(number);
    [[maybe_unused]] const ssize_t written = write(signalPipe[1], &byte, 1);
}

} // namespace

void RouteTerminationSignals(std::function<void()> endDialog) {
    if (pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    // Owned by the application, so that it goes with it.
    auto* notifier =
        new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, [endDialog] {
        unsigned char byte;
        while (read(signalPipe[0], &byte, 1) == 1)
            endDialog();
    });
    cli::HandleStopSignals(onSignal);
}

} // namespace app
