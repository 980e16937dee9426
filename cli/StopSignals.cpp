#include "cli/StopSignals.h"

#include <atomic>
#include <csignal>

namespace cli {
namespace {

std::atomic<int> caughtSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "set from a signal handler");

void onStopSignal(int number) {
    caughtSignal.store(number, std::memory_order_relaxed);
}

} // namespace

void CatchStopSignals() {
    HandleStopSignals(onStopSignal);
}

void HandleStopSignals(void (*handler)(int)) {
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
}

int CaughtStopSignal() {
    return caughtSignal.load(std::memory_order_relaxed);
}

} // namespace cli
