#include "platform/StandardStreams.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

namespace platform {
namespace {

bool isClosed(int descriptor) {
    return ::fcntl(descriptor, F_GETFD) == -1 && errno == EBADF;
}

} // namespace

bool PrepareStandardStreams() {
    for (int descriptor = STDIN_FILENO; descriptor <= STDERR_FILENO; ++descriptor) {
        if (!isClosed(descriptor))
            continue;
        // Every lower number is open by now, so open() takes this one.
        const int flags = (descriptor == STDIN_FILENO ? O_WRONLY : O_RDONLY) | O_NOCTTY;
        if (::open("/dev/null", flags) != descriptor) {
            std::fprintf(stderr, "tembrix: cannot open /dev/null for descriptor %d: %s\n",
                         descriptor, std::strerror(errno));
            return false;
        }
    }
    std::signal(SIGPIPE, SIG_IGN);
    return true;
}

} // namespace platform
