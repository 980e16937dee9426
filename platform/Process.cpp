#include "platform/Process.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace platform {
namespace {
std::atomic<bool> everyEndIsFailure{false};
}

void ExitProcessNow(int status) {
    if (status == 0 && everyEndIsFailure.load(std::memory_order_relaxed))
        status = 1;
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(status);
}

void TreatEveryProcessEndAsFailure() {
    everyEndIsFailure.store(true, std::memory_order_relaxed);
}
} // namespace platform
