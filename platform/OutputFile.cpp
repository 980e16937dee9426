#include "platform/OutputFile.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <thread>

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

// As fopen creates a file: what the umask allows of rw-rw-rw-.
constexpr mode_t NewFileMode = 0666;

bool failWith(const char* reason, std::string& error) {
    error = reason;
    return false;
}

bool failWith(int number, std::string& error) {
    return failWith(std::strerror(number), error);
}

// Without a reader, opening a FIFO for writing waits, and a stop signal that
// the run catches only restarts that wait: asked without waiting, the open
// fails with ENXIO until a reader comes, and the wait has an end.
int openWhenRead(const std::string& path, std::chrono::milliseconds readerWait) {
    constexpr std::chrono::milliseconds Poll(20);
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        const int fifo = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
        if (fifo >= 0) {
            fcntl(fifo, F_SETFL, fcntl(fifo, F_GETFL) & ~O_NONBLOCK); // a full pipe waits
            return fifo;
        }
        const int reason = errno;
        const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - start);
        if (reason != ENXIO || waited >= readerWait) {
            errno = reason;
            return -1;
        }
        std::this_thread::sleep_for(Poll);
    }
}

// A write to a pipe or FIFO without a reader raises SIGPIPE in the writing
// thread, and the window does not ignore it: held back while the write runs
// and taken off again, it leaves only the write's EPIPE.
class PipeSignalHeld {
  public:
    PipeSignalHeld() {
        sigemptyset(&m_pipe);
        sigaddset(&m_pipe, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &m_pipe, &m_previous);
        sigset_t pending;
        sigpending(&pending);
        m_alreadyPending = sigismember(&pending, SIGPIPE) == 1;
    }
    ~PipeSignalHeld() {
        sigset_t pending;
        sigpending(&pending);
        if (!m_alreadyPending && sigismember(&pending, SIGPIPE) == 1) {
            const timespec now{};
            sigtimedwait(&m_pipe, nullptr, &now);
        }
        pthread_sigmask(SIG_SETMASK, &m_previous, nullptr);
    }
    PipeSignalHeld(const PipeSignalHeld&) = delete;
    PipeSignalHeld& operator=(const PipeSignalHeld&) = delete;

  private:
    sigset_t m_pipe;
    sigset_t m_previous;
    bool m_alreadyPending = false;
};

} // namespace

OutputFile::~OutputFile() {
    if (m_descriptor >= 0)
        close(m_descriptor);
}

bool OutputFile::Open(const std::string& path, std::string& error,
                      std::chrono::milliseconds readerWait) {
    OutputPath resolved;
    return ResolveOutputPath(path, resolved, error) && Open(resolved, error, readerWait);
}

bool OutputFile::Open(const OutputPath& resolved, std::string& error,
                      std::chrono::milliseconds readerWait) {
    if (resolved.kind == OutputPath::Kind::Descriptor)
        return OpenDescriptor(resolved.descriptor, error);
    if (resolved.kind == OutputPath::Kind::Fifo) {
        m_descriptor = openWhenRead(resolved.path, readerWait);
        if (m_descriptor < 0)
            return errno == ENXIO ? failWith("no process came to read the FIFO", error)
                                  : failWith(errno, error);
        return true;
    }
    const int flags = O_WRONLY | O_CLOEXEC | O_NOCTTY |
                      (resolved.kind == OutputPath::Kind::RegularFile ? O_CREAT : 0);
    m_descriptor = open(resolved.path.c_str(), flags, NewFileMode);
    if (m_descriptor < 0)
        return failWith(errno, error);
    // Asked of the open file, not of the name, which may have changed since.
    struct stat status;
    m_emptyOnFirstWrite = fstat(m_descriptor, &status) == 0 && S_ISREG(status.st_mode);
    return true;
}

bool OutputFile::OpenDescriptor(int descriptor, std::string& error) {
    m_descriptor = fcntl(descriptor, F_DUPFD_CLOEXEC, 3);
    m_emptyOnFirstWrite = false; // what was written there before stays
    return m_descriptor >= 0 || failWith(errno, error);
}

bool OutputFile::Write(std::string_view text, std::string& error) {
    if (m_emptyOnFirstWrite) {
        if (ftruncate(m_descriptor, 0) != 0)
            return failWith(errno, error);
        m_emptyOnFirstWrite = false;
    }
    const PipeSignalHeld held;
    return WriteAll(m_descriptor, text) || failWith(errno, error);
}

bool WriteAll(int descriptor, std::string_view contents) {
    while (!contents.empty()) {
        const ssize_t written = write(descriptor, contents.data(), contents.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            if (written == 0)
                errno = EIO; // no progress: fail rather than spin
            return false;
        }
        contents.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

} // namespace platform
