#include "tests/harness/PrivateSoundServer.h"

#include "tests/harness/TestPaths.h"

#include <signal.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

namespace {

std::string Quoted(const std::string& text) {
    return "'" + text + "'";
}

} // namespace

PrivateSoundServer::PrivateSoundServer()
    : m_runtime(m_directory / "server"), m_environment("XDG_RUNTIME_DIR", m_runtime) {}

PrivateSoundServer::~PrivateSoundServer() {
    script("pulse-stop");
}

bool PrivateSoundServer::Start() {
    return script("pulse-start") == 0;
}

void PrivateSoundServer::Kill() {
    signal(SIGKILL);
}

void PrivateSoundServer::Pause() {
    signal(SIGSTOP);
}

void PrivateSoundServer::Resume() {
    signal(SIGCONT);
}

void PrivateSoundServer::signal(int number) const {
    const std::string pid = ReadWholeFile(std::filesystem::path(m_runtime) / "pulse/pid");
    if (const int server = std::atoi(pid.c_str()); server > 0)
        ::kill(server, number);
}

bool PrivateSoundServer::HasRecordingClient() const {
    const std::string command = "XDG_RUNTIME_DIR=" + Quoted(m_runtime) +
                                " timeout 10 pactl list short source-outputs 2>/dev/null";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr)
        return false;
    std::string listed;
    char buffer[1024];
    for (std::size_t read; (read = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        listed.append(buffer, read);
    ::pclose(pipe);
    // The server's own loop-backs record through module-loopback.
    return listed.find("protocol-native") != std::string::npos;
}

double PrivateSoundServer::MonitorLevelDb() const {
    constexpr int Samples = 22050;
    const std::string command = "XDG_RUNTIME_DIR=" + Quoted(m_runtime) +
                                " timeout 10 parec -d loop.monitor --raw --format=s16le "
                                "--channels=1 --rate=44100 --latency-msec=20 2>/dev/null";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr)
        return NAN;
    std::vector<std::int16_t> samples(Samples);
    const std::size_t read = std::fread(samples.data(), sizeof samples[0], Samples, pipe);
    ::pclose(pipe);
    if (read < Samples)
        return NAN;
    double sum = 0;
    for (std::int16_t sample : samples)
        sum += double(sample) * sample;
    return 10 * std::log10(sum / Samples / (0.5 * 32768.0 * 32768.0));
}

int PrivateSoundServer::script(const char* name) const {
    // Appended piece by piece: GCC 12 sees a false out-of-bounds copy in one
    // long concatenation, depending on the folder's path length.
    std::string path = TEMBRIX_CI_DIR;
    path += '/';
    path += name;
    std::string command = "TEMBRIX_PULSE_DIR=" + Quoted(m_runtime);
    command += ' ';
    command += Quoted(path);
    command += " >/dev/null 2>&1";
    return std::system(command.c_str());
}
