#include "tests/harness/ProcessRun.h"
#include "tests/harness/TestPaths.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string_view>
#include <thread>

extern char** environ;

namespace {

// What a screen would be reached through, which the program's measurements
// must not need, and a desktop's sound server, which would stand in for the
// tests' own.
bool namesADisplayOrServer(std::string_view entry) {
    for (std::string_view name :
         {"DISPLAY=", "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM=", "PULSE_SERVER="})
        if (entry.starts_with(name))
            return true;
    return false;
}

void setUp(posix_spawn_file_actions_t& files, const ChildDescriptor& descriptor) {
    if (descriptor.source >= 0)
        posix_spawn_file_actions_adddup2(&files, descriptor.source, descriptor.number);
    else if (!descriptor.path.empty())
        posix_spawn_file_actions_addopen(
            &files, descriptor.number, descriptor.path.c_str(),
            descriptor.number == 0 ? O_RDONLY : O_WRONLY | O_CREAT | O_TRUNC, 0600);
    else
        posix_spawn_file_actions_addclose(&files, descriptor.number);
}

// Under LeakSanitizer the allocations of ALSA's unloaded plugins need their
// full stacks to be recognised (.ci/lsan.supp); in the test process itself
// AlsaLeakStacks.cpp asks for them.
std::string fullLeakStacks() {
    const char* options = std::getenv("LSAN_OPTIONS");
    return std::string("LSAN_OPTIONS=") + (options ? options : "") + ":fast_unwind_on_malloc=0";
}

} // namespace

ScratchDirectory::ScratchDirectory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tembrix-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr)
        m_path = pattern;
}

ScratchDirectory::~ScratchDirectory() {
    std::error_code ignored;
    if (!m_path.empty())
        std::filesystem::remove_all(m_path, ignored);
}

std::string ReadWholeFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

TembrixProcess::TembrixProcess(const std::vector<std::string>& args,
                               const std::vector<ChildDescriptor>& descriptors) {
    std::vector<std::string> argv{TEMBRIX_EXECUTABLE};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> argvPointers;
    for (std::string& arg : argv)
        argvPointers.push_back(arg.data());
    argvPointers.push_back(nullptr);

    std::string leakOptions = fullLeakStacks();
    std::vector<char*> environment;
    for (char** entry = environ; *entry != nullptr; ++entry)
        if (!namesADisplayOrServer(*entry) &&
            !std::string_view(*entry).starts_with("LSAN_OPTIONS="))
            environment.push_back(*entry);
    environment.push_back(leakOptions.data());
    environment.push_back(nullptr);

    const std::string out = (m_output / "stdout").string();
    const std::string err = (m_output / "stderr").string();
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&files, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&files, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    for (const ChildDescriptor& descriptor : descriptors)
        setUp(files, descriptor);

    // As a shell starts it: the stop signals at their defaults and unblocked,
    // whatever the test runner did with them.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    sigaddset(&defaults, SIGHUP);
    sigaddset(&defaults, SIGPIPE);
    sigset_t nothingBlocked;
    sigemptyset(&nothingBlocked);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setsigmask(&attributes, &nothingBlocked);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    m_started = std::chrono::steady_clock::now();
    if (posix_spawn(&m_pid, argvPointers[0], &files, &attributes, argvPointers.data(),
                    environment.data()) != 0)
        m_pid = -1;
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&files);
}

TembrixProcess::~TembrixProcess() {
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
}

void TembrixProcess::Signal(int signal) const {
    if (m_pid > 0)
        ::kill(m_pid, signal);
}

std::string TembrixProcess::ErrorSoFar() const {
    return ReadWholeFile(m_output / "stderr");
}

ProcessEnd TembrixProcess::Wait(std::chrono::seconds limit) {
    ProcessEnd end;
    if (m_pid <= 0)
        return end;
    int status = 0;
    for (;;) {
        const pid_t ended = ::waitpid(m_pid, &status, WNOHANG);
        if (ended == m_pid)
            break;
        if (ended < 0 && errno != EINTR) {
            m_pid = -1;
            return end;
        }
        if (std::chrono::steady_clock::now() - m_started > limit) {
            end.killedAfterLimit = true;
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    m_pid = -1;
    if (WIFEXITED(status))
        end.status = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        end.signal = WTERMSIG(status);
    end.out = ReadWholeFile(m_output / "stdout");
    end.err = ReadWholeFile(m_output / "stderr");
    return end;
}

ProcessEnd RunTembrix(const std::vector<std::string>& args, std::chrono::seconds limit,
                      const std::vector<ChildDescriptor>& descriptors) {
    TembrixProcess process(args, descriptors);
    return process.Wait(limit);
}
