#include "platform/AudioLibraryMessages.h"

#include "platform/AudioDevices.h"
#include "platform/DebugLineFilter.h"

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <mutex>
#include <string_view>
#include <unistd.h>

namespace platform {
namespace {

std::atomic<bool> verboseLibraries{false};

// Both libraries come with PortAudio, so their hooks are looked up in the
// process rather than linked: the program needs neither at build time, and a
// PortAudio built without one of them simply has no hook to install.
template <class Function> Function lookUp(const char* name) {
    return reinterpret_cast<Function>(::dlsym(RTLD_DEFAULT, name));
}

bool writeToStderr(std::string_view text) {
    while (!text.empty()) {
        const ssize_t written = ::write(STDERR_FILENO, text.data(), text.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        text.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

// PortAudio prints its debug lines with vfprintf(stderr, ...) and exports no
// hook for them, so the C library's standard error stream itself is pointed
// at a filter. The stream's lock already orders the writes; the filter's own
// lock says so to ThreadSanitizer, which cannot see the C library's.
class FilteredStandardError {
  public:
    // The chunk's size, or -1 when descriptor 2 refused it: the stream's
    // error is then set, as on the stream it replaces.
    ssize_t write(std::string_view chunk) {
        std::lock_guard lock(m_mutex);
        m_failed = false;
        if (verboseLibraries.load(std::memory_order_relaxed)) {
            m_filter.Flush();
            pass(chunk);
        } else {
            m_filter.Write(chunk);
        }
        return m_failed ? -1 : static_cast<ssize_t>(chunk.size());
    }

    void flush() {
        std::lock_guard lock(m_mutex);
        m_filter.Flush();
    }

  private:
    void pass(std::string_view text) {
        if (!writeToStderr(text))
            m_failed = true;
    }

    std::mutex m_mutex;
    DebugLineFilter m_filter{[this](std::string_view text) { pass(text); }};
    bool m_failed = false;
};

// Never destroyed: threads may still write while the process ends.
FilteredStandardError& filteredStandardError() {
    static auto* stream = new FilteredStandardError;
    return *stream;
}

ssize_t writeFiltered(void*, const char* data, std::size_t size) {
    return filteredStandardError().write(std::string_view(data, size));
}

void flushFilteredAtExit() {
    filteredStandardError().flush();
}

// Descriptor 2 stays as it is: the filter writes to it directly, and the
// stream it replaces stays open for whatever kept it (std::cerr does).
void filterStandardErrorStream() {
    static bool installed = false;
    if (installed)
        return;
    const cookie_io_functions_t functions{nullptr, writeFiltered, nullptr, nullptr};
    std::FILE* filtered = ::fopencookie(nullptr, "w", functions);
    if (filtered == nullptr)
        return;
    // Each print arrives whole, and nothing, a progress line ending in '\r'
    // included, waits in a buffer.
    std::setvbuf(filtered, nullptr, _IONBF, 0);
    filteredStandardError();
    std::atexit(flushFilteredAtExit);
    stderr = filtered;
    installed = true;
}

// ALSA may call this on the audio thread: it formats into a stack buffer and
// writes once, allocating nothing and taking no lock.
void alsaMessage(const char* file, int line, const char* function, int error, const char* format,
                 ...) {
    if (!verboseLibraries.load(std::memory_order_relaxed))
        return;
    char text[1024];
    int length = std::snprintf(text, sizeof text, "ALSA lib %s:%d:(%s) ", file ? file : "?", line,
                               function ? function : "?");
    if (length < 0)
        return;
    va_list arguments;
    va_start(arguments, format);
    const int body = std::vsnprintf(text + length, sizeof text - static_cast<std::size_t>(length),
                                    format ? format : "", arguments);
    va_end(arguments);
    if (body < 0)
        return;
    length = static_cast<int>(std::strlen(text));
    if (error != 0 && static_cast<std::size_t>(length) < sizeof text - 1) {
        const char* reason = ::strerrordesc_np(error < 0 ? -error : error);
        length += std::snprintf(text + length, sizeof text - static_cast<std::size_t>(length),
                                ": %s", reason ? reason : "unknown error");
        length = static_cast<int>(std::strlen(text));
    }
    writeToStderr(std::string_view(text, static_cast<std::size_t>(length)));
    writeToStderr("\n");
}

void jackMessage(const char* message) {
    if (!verboseLibraries.load(std::memory_order_relaxed) || message == nullptr)
        return;
    writeToStderr(message);
    writeToStderr("\n");
}

// libpulse (the query of the sound server, and the ALSA pulse plugin inside
// PortAudio) logs through its common library, whose log target is not in its
// public headers: looked up, as the hooks above are, and left as it is when
// missing.
void quietSoundServerLibrary(bool verbose) {
    struct Target;
    using ParseTarget = Target* (*)(const char*);
    using SetTarget = void (*)(Target*);
    using FreeTarget = void (*)(Target*);
    const auto parse = lookUp<ParseTarget>("pa_log_parse_target");
    const auto set = lookUp<SetTarget>("pa_log_set_target");
    const auto release = lookUp<FreeTarget>("pa_log_target_free");
    if (parse == nullptr || set == nullptr || release == nullptr)
        return;
    if (Target* target = parse(verbose ? "stderr" : "null")) {
        set(target);
        release(target);
    }
}

} // namespace

void RouteAudioLibraryMessages() {
    using AlsaHandler = void (*)(const char*, int, const char*, int, const char*, ...);
    using SetAlsaHandler = int (*)(AlsaHandler);
    using JackHandler = void (*)(const char*);
    using SetJackHandler = void (*)(JackHandler);

    if (const auto setAlsa = lookUp<SetAlsaHandler>("snd_lib_error_set_handler"))
        setAlsa(alsaMessage);
    if (const auto setJackInfo = lookUp<SetJackHandler>("jack_set_info_function"))
        setJackInfo(jackMessage);
    // PortAudio installs its own error function only once it has reached a
    // JACK server; until then, failing to reach one is reported through this.
    if (const auto setJackError = lookUp<SetJackHandler>("jack_set_error_function"))
        setJackError(jackMessage);
}

void SetVerboseAudioLibraries(bool verbose) {
    verboseLibraries.store(verbose, std::memory_order_relaxed);
    quietSoundServerLibrary(verbose);
    if (!verbose)
        filterStandardErrorStream();
}

} // namespace platform
