#include "platform/AtomicFile.h"

#include "platform/OutputFile.h"
#include "platform/OutputPath.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

constexpr mode_t NewFileMode = 0644;
// The window and the end of a run cannot be stopped while a FIFO waits for
// its reader; a reader started a little late still gets the result.
constexpr std::chrono::seconds ReaderWait(10);

// Read from /proc because umask() can only be read by changing it, which
// races every other thread that creates a file meanwhile. If it cannot be
// read, the strictest mask keeps the file from being more open than meant.
mode_t currentUmask() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("Umask:", 0) == 0)
            return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8)) & 0777;
    return 077;
}

mode_t modeFor(const std::string& path) {
    struct stat existing;
    if (stat(path.c_str(), &existing) == 0 && S_ISREG(existing.st_mode))
        return existing.st_mode & 0777;
    return NewFileMode & ~currentUmask();
}

bool syncToDisk(int fd) {
    while (fsync(fd) != 0)
        if (errno != EINTR)
            return false;
    return true;
}

// Makes the rename itself survive a power cut. Best effort: the new file is
// already in place, and reporting a failure now would call it lost.
void syncFolder(const std::string& path) {
    const int folder = open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0)
        return;
    syncToDisk(folder);
    close(folder);
}

// Reports errno of the step that failed, then removes the temporary file.
bool abandon(int fd, const std::string& temporary, std::string& error) {
    error = std::strerror(errno);
    if (fd >= 0)
        close(fd);
    unlink(temporary.c_str());
    return false;
}

bool replaceAtomically(const std::string& path, std::string_view contents, std::string& error) {
    std::string temporary = path + ".XXXXXX";
    const int fd = mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    if (fchmod(fd, modeFor(path)) != 0 || !WriteAll(fd, contents) || !syncToDisk(fd))
        return abandon(fd, temporary, error);
    // On Linux the descriptor is gone even after EINTR, and the data is synced.
    if (close(fd) != 0 && errno != EINTR)
        return abandon(-1, temporary, error);
    if (std::rename(temporary.c_str(), path.c_str()) != 0)
        return abandon(-1, temporary, error);
    syncFolder(path);
    return true;
}

} // namespace

bool WriteFileAtomically(const std::string& path, std::string_view contents, std::string& error) {
    OutputPath target;
    if (!ResolveOutputPath(path, target, error))
        return false;
    if (target.kind == OutputPath::Kind::RegularFile)
        return replaceAtomically(target.path, contents, error);
    // A FIFO's reader, a device or a descriptor takes the bytes as they come:
    // nothing there to replace, nothing to sync.
    OutputFile output;
    return output.Open(target, error, ReaderWait) && output.Write(contents, error);
}

} // namespace platform
