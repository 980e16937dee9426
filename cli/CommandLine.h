// The command line: the window (no subcommand) or a measurement without one
// ("sweep", "spectrum", "report", "response"), and their options. Everything is checked before any
// device is opened.
#pragma once

#include "dsp/FFT.h"
#include "measure/SweepSignal.h"
#include "platform/AudioBackend.h"
#include "sim/DeviceModel.h"

#include <optional>
#include <string>

namespace cli {

enum class Subcommand { Window, Sweep, Spectrum, Report, Response };

struct CommandLine {
    Subcommand subcommand = Subcommand::Window;
    platform::AudioBackend audio = platform::AudioBackend::System;
    bool fast = false;     // the virtual card's fast clock
    CardModel virtualCard; // the consumer card on both channels
    // The system card's devices, as DEV from --list-devices (an index or a
    // part of a name); none given: the default, or the window's remembered
    // choice. Resolved once PortAudio can list them.
    bool listDevices = false;
    std::optional<std::string> inputDevice;
    std::optional<std::string> outputDevice;
    std::optional<int> inputChannel; // 1 = the first, the left
    bool verbose = false;            // the audio libraries' own diagnostics

    // The measurements'.
    int windowType = CFFT::QuasiChebyshev;
    int level = 0;        // as the window's level buttons: 0 dB, -20 dB, off
    std::string csvPath;  // empty: standard output
    std::string jsonPath; // the report's, if wanted
    std::string htmlPath;
    bool quiet = false;
    double pointTimeoutSeconds = 30;
    std::optional<double> toneHz; // none: the window's start tone
    int blocks = 1;
    // The input channels measured together: 1, or 2 (the left and the
    // right). With a reference channel (1 or 2, and then 2 channels), the
    // other channel is given over it.
    int channels = 1;
    std::optional<int> referenceChannel;

    // The swept sine's: the response's, and the report's unless `stepped`
    // (which plays it at `level`).
    SweepSettings sweep;
    int sweeps = 1;          // recordings averaged
    int pointsPerOctave = 0; // 0: at the stepped sweep's frequencies
    std::string impulsePath; // the linear impulse response, if wanted
    bool stepped = false;    // the report's response from the stepped sweep
};

// Reads the arguments: a subcommand first, if any, then options. Ours start
// with "--"; in the window's case others are left for Qt. Returns -1 to go on
// with `command`, or the status to end with: ExitDone after --help or
// --version (ExitFailed when standard output did not take them), ExitUsage
// after a one-line reason on standard error.
int ParseCommandLine(int argc, char** argv, CommandLine& command);

} // namespace cli
