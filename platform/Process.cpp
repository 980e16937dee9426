#include "Process.h"

#include <cstdio>
#include <cstdlib>

namespace platform {
void ExitProcessNow(int status) {
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(status);
}
} // namespace platform
