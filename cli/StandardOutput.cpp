#include "cli/StandardOutput.h"

#include "cli/ExitStatus.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace cli {

int WriteStandardOutput(std::string_view text) {
    errno = 0;
    if (std::fwrite(text.data(), 1, text.size(), stdout) == text.size() && std::fflush(stdout) == 0)
        return ExitDone;
    std::fprintf(stderr, "tembrix: cannot write standard output: %s\n",
                 errno != 0 ? std::strerror(errno) : "write error");
    return ExitFailed;
}

} // namespace cli
