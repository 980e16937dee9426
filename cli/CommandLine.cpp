#include "cli/CommandLine.h"

#include "cli/ExitStatus.h"
#include "cli/StandardOutput.h"
#include "dsp/FFT.h"
#include "dsp/SignalFormat.h"
#include "measure/NumberFormat.h"
#include "measure/ResponseFrequencies.h"
#include "measure/SweepPlan.h"
#include "res/Version.h"
#include "sim/VirtualCardSettings.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdarg>
#include <cstdio>
#include <optional>
#include <string_view>

namespace cli {
namespace {

// As the window numbers its level buttons.
constexpr int Level0dB = 0;
constexpr int LevelMinus20dB = 1;
constexpr int LevelOff = 2;

// The window's frequency range.
constexpr double LowestTone = 2 * SampleRate / BlockSize;
constexpr double HighestTone = SweepEndFrequency;
constexpr int MostBlocks = 100000;
// A point takes eleven blocks (2 s) of audio at the least.
constexpr double ShortestPointTimeout = 3;
constexpr double LongestPointTimeout = 24 * 3600;
// Far above any device's channel count; keeps the number sane.
constexpr int HighestInputChannel = 1024;
// A hundred default sweeps take ten minutes: more is a mistake.
constexpr int MostSweeps = 100;

constexpr const char* ExitStatusTable = R"(Exit status (every subcommand):
  0    done
  1    a device, memory or file failure (with its message)
  2    bad usage (refused before any device is opened)
  3    a sweep point (or a report's figure) could not be measured in time,
       or a swept sine's recording held a gap three times
  4    no audio from the input for 10 s
  5    the loop-back check before a report failed, or a swept sine did not
       come back
  129  ended by SIGHUP (the terminal closed), after writing what was measured
  130  interrupted by SIGINT, after writing what was measured
  143  ended by SIGTERM, after writing what was measured
)";

constexpr const char* CardOptions =
    R"(  --audio=system|virtual   the default input and output devices through
                           PortAudio (default), or the built-in virtual
                           loop-back card with a simulated device under test
  --virtual-card=SETTINGS  with --audio=virtual: the devices under test of
                           the card's two channels, as comma-separated
                           key=value pairs, each optional (the rest as the
                           default card), applied from left to right; a
                           device's key sets both channels, or one as
                           left.KEY=VALUE or right.KEY=VALUE:
                             gain=DB            gain
                             highpass=HZ/ORDER  Butterworth high-pass, or off
                             lowpass=HZ/ORDER   Butterworth low-pass, or off
                             noise=DBFS         white noise RMS re a full-scale
                                                sine's RMS, or off
                             hum=HZ/DBFS        hum line (as a sine's level), or off
                             h2=DB, h3=DB       2nd and 3rd harmonic re the
                                                fundamental of a full-scale sine,
                                                or off
                             latency=FRAMES     0 to 8192
                             wire=on            a bit-exact wire without delay
                                                (keys after it may change it)
                           and for the whole card, without a prefix:
                             crosstalk=DB       each input also hears the
                                                other channel's device output
                                                at DB (0 or less), so the
                                                silent input reads exactly DB
                                                re the driven one; or off
                             drift=PPM          the input's clock runs off the
                                                output's, -1000 to 1000 parts
                                                per million (default 0): a tone
                                                played at F is recorded at
                                                F * (1 + PPM / 1e6)
                           and faults to test the instrument's recovery, once
                           that many seconds of audio have passed:
                             die-after=SECONDS  both streams die (they are
                                                opened again)
                             overflow-after=SECONDS
                                                the input overflows, losing
                                                a period
                           and, for tests of the start-up:
                             start-delay=SECONDS the input's first block comes
                                                that long (0 to 60) after
                                                every open
                           e.g. gain=-6,highpass=100/2,lowpass=off,noise=-90
                           or right.wire=on,crosstalk=-70
                           A mono stream plays on both output channels and
                           records the left input channel.
  --input=DEV, --output=DEV
                           with --audio=system: the input or the output
                           device, as its index in --list-devices or a part of
                           its name (any case) that matches one device only;
                           default: the system's default device
  --input-channel=N        with --audio=system: the input channel the signal
                           is taken from, 1 (the left, default) or more
  --verbose                the audio libraries' own diagnostics (ALSA, JACK,
                           libpulse, PortAudio) on standard error; silenced
                           otherwise
)";

constexpr const char* FastOption =
    R"(  --fast                   with --audio=virtual: the card's fast clock, so a
                           run takes seconds instead of real time
)";

constexpr const char* ChannelOption =
    R"(  --channels=1|2           the input channels measured: 1 (default; with
                           --audio=system --input-channel picks it) or 2, the
                           left and the right from the same blocks, each
                           figure given per channel (a "channel" column)
)";

constexpr const char* ReferenceOption =
    R"(  --reference=1|2          the input channel wired straight from the output as
                           a reference (two channels are measured): the result
                           is the other channel over it, point by point, so
                           that the card's own response and delay drop out
)";

constexpr const char* MeasurementOptions = R"(  --window=quasi-chebyshev|rectangle
                           the analysis window (default quasi-chebyshev)
  --csv=FILE               write the result to FILE (default: standard output)
)";

constexpr const char* CsvRules =
    R"(The CSV starts with '#' comment lines (version, date, audio backend and
devices, level, window, sample rate, block size), then a header line, then
one row per point; numbers round-trip exactly and use '.' whatever the locale.
)";

constexpr const char* ResultFileRules =
    R"(A result FILE that is a symbolic link is followed (the file it points to is
written, the links stay); a FIFO or a device is written directly; /dev/stdout,
/dev/fd/N and /proc/self/fd/N are written through that descriptor; a folder,
a socket or a missing folder is refused with status 1 before the run
measures. An existing file is replaced only once something is written to
it: a run that fails before leaves it as it was.
)";

// As printf, into a string.
[[gnu::format(printf, 1, 2)]] std::string Format(const char* pattern, ...) {
    std::va_list arguments;
    va_start(arguments, pattern);
    std::va_list again;
    va_copy(again, arguments);
    const int size = std::vsnprintf(nullptr, 0, pattern, arguments);
    va_end(arguments);
    std::string text(static_cast<std::size_t>(std::max(size, 0)), '\0');
    std::vsnprintf(text.data(), text.size() + 1, pattern, again);
    va_end(again);
    return text;
}

std::string WindowHelp() {
    return Format(R"(Usage: tembrix [OPTIONS]             the instrument's window
       tembrix sweep [OPTIONS]       a frequency-response sweep, as CSV
       tembrix spectrum [OPTIONS]    the spectrum of a tone, as CSV
       tembrix report [OPTIONS]      a loop-back quality report
       tembrix response [OPTIONS]    a response from a swept sine, as CSV
       tembrix SUBCOMMAND --help     a subcommand's options

Options:
%s  --list-devices           list the system's audio devices (index, name,
                           host API, input and output channels, defaults)
  --version                the version
  --help                   this text

The subcommands run without a window or a display.

%s)",
                  CardOptions, ExitStatusTable);
}

std::string SweepHelp() {
    return Format(R"(Usage: tembrix sweep [OPTIONS]

Measures a frequency response as the window's AFC button does: the tone steps
from 10.77 Hz upward by a factor of 2205^0.01 (1.08) and at each of 99
frequencies the largest level of the tone's FFT bin over five blocks is kept.
Blocks that may still carry the previous tone, and blocks with other lines
within 16 dB of the tone, do not count ("There are noise lines." is printed
once per run of eleven failing blocks, and the sweep keeps trying).

Options:
%s%s%s%s%s  --level=0|-20            the tone's level in dB (default -20)
  --quiet                  no progress and no summary on standard error, and
                           the audio path line only when it flags something
  --point-timeout=SECONDS  give up when a frequency yields no point within
                           that much audio, 3 to 86400 (default 30; a point
                           takes at least eleven blocks, 2 s)
  --help                   this text

%sColumns: frequency_hz,level_db,peak_db,window_gain_db,blocks
  level_db        the level at the frequency: peak_db - window_gain_db
  peak_db         the tone's bin, largest over the counted blocks (dB re a
                  full-scale sine)
  window_gain_db  the window's own gain at the tone's offset from its bin
  blocks          blocks recorded at the frequency, stale and noisy included
The rows are written as they are measured. Progress and a summary (the level
at 1010.86 Hz, the largest deviation from it between 20 Hz and 20 kHz, the
-3 dB frequencies, the gaps in the input and the output and the streams
reopened) go to standard error. A block with a gap is not measured, nor are
the blocks that may still carry the tone cut short by it. When no block comes
for 1 s a line says so, and another when blocks come again.
With --channels=2 the tone plays on both outputs and moves on once both
inputs have their point; each row leads with its channel ("left", "right"),
and the summary is each channel's and their match (the level left less right
at 1 kHz and its range over 20 Hz - 20 kHz). With --reference=N the rows are
the other channel's, each level less the reference's at that frequency.

%s
%s)",
                  CardOptions, FastOption, MeasurementOptions, ChannelOption, ReferenceOption,
                  CsvRules, ResultFileRules, ExitStatusTable);
}

std::string SpectrumHelp() {
    return Format(R"(Usage: tembrix spectrum [OPTIONS]

Plays the tone, skips the blocks that may still carry what played before,
then captures blocks, removes their DC offset (the mean, as the window's
"-||-" button does) and writes the power of every FFT bin, averaged over the
blocks (the mean of the linear powers, in dB re a full-scale sine); blocks
with a gap are skipped as the sweep skips them. The power reading of the last
block, as the window shows it, and the gaps counted go to standard error.

Options:
%s%s%s%s  --tone=HZ                the tone, 10.7666015625 to 22045 Hz
                           (default 1356.92307692308, as the window starts)
  --level=0|-20|off        the tone's level in dB (default 0)
  --blocks=N               blocks to average, 1 to 100000 (default 1)
  --help                   this text

%sColumns: frequency_hz,level_db (one row per bin, bin k at k * 44100 / 8192 Hz);
with --channels=2 the tone plays on both outputs and a channel column leads,
the left's rows first; the power reading is given for each.

%s
%s)",
                  CardOptions, FastOption, MeasurementOptions, ChannelOption, CsvRules,
                  ResultFileRules, ExitStatusTable);
}

std::string ReportHelp() {
    return Format(R"(Usage: tembrix report [OPTIONS]

Measures a sound card, cable or amplifier through a loop-back cable and prints
the figures, one a line. In this order:

Loop check: a 997 Hz tone at -20 dBFS must come back as the strongest line
  within one bin of 997 Hz, with no sample at full scale, within 20 dB of its
  level; otherwise the report stops with the reason (status 5). A sound
  server's volume or mute in the loop is named, failed or not.
Clock drift: a 997 Hz tone at -6 dBFS for 2 s, recorded without a gap; the
  slope of its phase fitted over 0.1 s segments gives how far the output's
  clock runs re the input's, in ppm (a tone of f reads f (1 + ppm 1e-6));
  beyond 50 ppm the output and the input run on clocks of their own, which
  is marked, and the swept sine's recordings are read onto the output's
  clock before their analysis. JSON "drift_ppm", also in "audio_path".
Frequency response: a swept sine at -6 dBFS, about 6 s long, read at the
  stepped sweep's 99 frequencies (see tembrix response --help), or with
  --stepped the window's stepped sweep (99 tones at --level); the level (for
  the swept sine its gain plus the -6 dBFS played) at 1010.86 Hz as
  reference, the deviation range (lowest, highest re the reference) over
  40 Hz - 15 kHz and over 20 Hz - 20 kHz, and the frequencies where the
  response falls 3 dB below the reference (interpolated between points over
  log frequency, or "not reached"). The swept sine also gives the delay
  (where the linear impulse response peaks, in ms and samples) and the
  distortion against frequency: H2, H3 and THD (the power sum of H2 to H5
  where they lie below 20 kHz) in dB re the fundamental, at 100 Hz, 1 kHz
  and 6.3 kHz, and plotted.
THD: 997 Hz at -1 dBFS; the power sum of harmonics 2 to 10 that lie below
  20 kHz re the fundamental, in dB and %%, and each harmonic's level. Levels
  are read from the quasi-Chebyshev spectrum (powers averaged over 8 blocks),
  each with the window's gain at the line's offset from its bin removed.
THD+N: 997 Hz at -1 dBFS; what remains of each block when a least-squares
  sine at 997 Hz and an offset are taken away, its power summed over
  20 Hz - 20 kHz from a rectangle-window transform, re the fitted sine's
  power, in dB and %%. The rectangle's equivalent noise bandwidth is one bin,
  so its bins are summed as they are; a windowed spectrum's bins would have to
  be divided by its bandwidth (1.941 bins for the quasi-Chebyshev window).
Dynamic range: the same residual with the tone at -60 dBFS, A-weighted
  (IEC 61672), re a full-scale sine, sign flipped: higher is better, dB(A).
Noise: tone off; the RMS over 20 Hz - 20 kHz re a full-scale sine's RMS
  (dBFS), unweighted and A-weighted; "digital silence" when every sample is 0.
Integrity: blocks dropped, gaps in the input, sweep points that met noise
  lines. Before each measurement the blocks that may still carry the previous
  tone are skipped; blocks with dropped blocks or gaps before them are not
  used. A figure within 3 dB of what 16-bit audio itself allows is marked: it
  measures the format, not the card.

A report that ends early (a signal, a figure not measured in time, no audio)
still writes what it measured. Its table and page say "incomplete" in their
heading, then what stopped it, what was measured (the sweep's points so far)
and what was not; a figure or part not measured reads "not measured". The
response's figures need the level at 1010.86 Hz, a deviation range every
point of its band, and "not reached" the whole sweep.

JSON keys: "complete" (true, or false for a report that ended early),
"response" ("method": "swept_sine" or "stepped_sweep", "reference_hz", the
frequency of "reference_db", the deviation ranges, the -3 dB frequencies,
"points"), "latency_samples", "thd_vs_frequency" ("at": H2, H3 and THD at
100 Hz, 1 kHz and 6.3 kHz; "points": [frequency_hz, h2_db, h3_db, h4_db,
h5_db, thd_db] at every frequency), "thd", "thd_n", "dynamic_range_db_a",
"noise", "integrity", "at_format_limit". A figure not measured is null (the
delay and the distortion against frequency with --stepped too), never a
number measured for something else.

The report's tones are rounded to the nearest 16-bit value (the window
truncates toward zero, which alone would limit THD+N to about -95 dB).

Two channels (--channels=2): every tone plays on both outputs and every
figure is measured on both inputs from the same blocks, a table for each; the
loop check must pass on both. The swept sine plays on the left output alone,
then on the right alone, which also gives:
Crosstalk: the silent input re the driven input, in dB, at 1 kHz and against
  frequency, left to right (the left output driven) and right to left;
  "digital silence" when nothing at all crossed over.
Channel match: the gain left less right at 1 kHz, its lowest and highest over
  20 Hz - 20 kHz, and the phase of left re right against frequency (the
  difference of their delays included; with --stepped the levels only).
JSON: "channels": 2, "left" and "right" (each a one-channel report's object,
"channel" naming it), "crosstalk_db" ("left_to_right", "right_to_left" at
1 kHz, "digital_silence", "curves": [frequency_hz, db] each way),
"channel_match" ("gain_difference_db", "gain_difference_range_db": [lowest,
highest], "phase_difference_deg": [frequency_hz, degrees]).
A reference channel (--reference=N): the report is of the other channel, both
outputs playing; its response is re the reference (0 dB where they agree),
its delay the difference of theirs, and "reference_channel" names it.

Options:
%s%s%s%s  --level=0|-20            the stepped sweep's level in dB (default -20)
  --stepped                the response from the stepped sweep (99 tones, about
                           3.5 minutes on a real card) instead of the swept sine
  --window=quasi-chebyshev|rectangle
                           the stepped sweep's analysis window (default
                           quasi-chebyshev)
  --json=FILE              the figures with stable keys, as JSON
  --html=FILE              a one-page report with the figures and three plots
  --quiet                  no progress on standard error, and the audio path
                           line only when it flags something
  --point-timeout=SECONDS  give up when a frequency or figure gets no
                           usable blocks within that much audio, 3 to 86400
                           (default 30)
  --help                   this text

%s
%s)",
                  CardOptions, FastOption, ChannelOption, ReferenceOption, ResultFileRules,
                  ExitStatusTable);
}

std::string ResponseHelp() {
    return Format(R"(Usage: tembrix response [OPTIONS]

Measures a frequency response with one synchronized exponential sine sweep
(Farina, AES preprint 5093, 2000; the synchronized form of Novak et al., JAES
2015): x(t) = sin(2 pi f1 L (e^(t/L) - 1)) from f1 = 10 Hz to f2 = 22 kHz,
with L = round(f1 T / ln(f2/f1)) / f1, faded in and out, rounded to 16-bit
samples. The recording is divided by the spectrum of the samples played,
which gives the linear impulse response and, L ln k earlier, the response of
harmonic k. From them:
  delay      where the linear impulse response peaks, to a tenth of a sample
  gain_db    the linear response re the level played, from its impulse
             response windowed 3 ms before the peak to 0.5 s after it
  phase_deg  its phase with the delay removed, unwrapped along the rows
  hK_db      harmonic K (2 to 5) of a tone at the row's frequency f: the
             K-th response at K f re the linear response at f, where K f
             lies below 20 kHz and the sweep is about 3 s or longer
  thd_db     the power sum of those harmonics re the fundamental
Before the sweeps a 2 s tone at 997 Hz measures the clock drift, the output's
clock re the input's (see tembrix report --help); the summary gives it.
Beyond 50 ppm each recording is read onto the output's clock before its
analysis.
Silence is played before the sweep, and recorded for 0.75 s after it for the
card's delay and the response's tail. A recording with a gap (lost frames, an
output that ran dry, a reopened stream) is made again, twice at the most,
then the run ends with status 3 saying why. A recording that is silent or
holds no response ends it with status 5; one that reached full scale is
measured, with a warning.

Options:
%s%s%s%s  --level=DBFS             the sweep's peak in dBFS, -60 to 0 (default -6)
  --length=SECONDS         the sweep's length, 1 to 60 (default 6); the
                           synchronized sweep comes in steps of 0.77 s, and
                           the length used is said
  --sweeps=N               recordings averaged, 1 to 100 (default 1), each
                           aligned on its own impulse response's peak first:
                           every doubling leaves 3 dB less noise
  --per-octave=N           the rows at 1 kHz times 2^(i/N), 10.77 Hz to
                           21.5 kHz, N from 1 to 96 (default: the stepped
                           sweep's 99 frequencies, 10.77 Hz to 20.4 kHz)
  --csv=FILE               write the result to FILE (default: standard output)
  --impulse=FILE           write the linear impulse response as CSV,
                           time_s,amplitude: seconds after the sweep's start
                           (the delay included), and full scale = 1
  --quiet                  no progress and no summary on standard error, and
                           the audio path line only when it flags something
  --help                   this text

%sThen latency_samples, the sweep's settings (sweep_start_hz, sweep_end_hz,
sweep_length_s, sweep_level_dbfs, sweeps) and recording_latency_samples, each
recording's own delay, as comment lines.
Columns: frequency_hz,gain_db,phase_deg,h2_db,h3_db,h4_db,h5_db,thd_db
(an empty field where a harmonic is not given). The summary on standard
error: the length used, the delay in samples and ms, the gain at 1010.86 Hz as
reference, the largest deviation from it, the deviation ranges over
40 Hz - 15 kHz and 20 Hz - 20 kHz, the -3 dB frequencies, and THD with H2 and
H3 at 1010.86 Hz.
With --channels=2 each sweep plays on the left output alone, then on the
right alone; the rows lead with a channel column: "left" and "right" (each
input's response to its own output; right_latency_samples is the right's
delay), then "left_to_right" and "right_to_left", the crosstalk: the silent
input re the driven one (-inf where nothing crossed over). The summary adds
the crosstalk and the channel match at 1 kHz. --impulse then writes both
channels' impulse responses, with the channel column.
With --reference=N the sweep plays on both outputs and the rows are the other
channel re the reference (no harmonics: each channel's own are its own);
latency_samples is then the difference of their delays, the device's own,
and reference_channel, measured_channel and reference_latency_samples say
the rest.

%s
%s)",
                  CardOptions, FastOption, ChannelOption, ReferenceOption, CsvRules,
                  ResultFileRules, ExitStatusTable);
}

struct SubcommandName {
    std::string_view word;
    Subcommand subcommand;
};

constexpr std::array<SubcommandName, 4> Subcommands{{
    {"sweep", Subcommand::Sweep},
    {"spectrum", Subcommand::Spectrum},
    {"report", Subcommand::Report},
    {"response", Subcommand::Response},
}};
constexpr const char* SubcommandWords = "sweep, spectrum, report and response";

std::optional<Subcommand> SubcommandNamed(std::string_view word) {
    for (const SubcommandName& name : Subcommands)
        if (name.word == word)
            return name.subcommand;
    return std::nullopt;
}

// One of Qt's own options, such as "-platform", which may take the next
// argument as its value.
bool QtOption(std::string_view argument) {
    return argument.starts_with('-') && !argument.starts_with("--");
}

int Refuse(const std::string& reason) {
    std::fprintf(stderr, "tembrix: %s\n", reason.c_str());
    return ExitUsage;
}

std::string HelpText(Subcommand subcommand) {
    switch (subcommand) {
    case Subcommand::Sweep:
        return SweepHelp();
    case Subcommand::Spectrum:
        return SpectrumHelp();
    case Subcommand::Report:
        return ReportHelp();
    case Subcommand::Response:
        return ResponseHelp();
    default:
        return WindowHelp();
    }
}

bool ReadWhole(std::string_view text, int& value) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc{} && end == text.data() + text.size();
}

bool ReadLevel(std::string_view text, bool offAllowed, int& level) {
    if (text == "0")
        level = Level0dB;
    else if (text == "-20")
        level = LevelMinus20dB;
    else if (text == "off" && offAllowed)
        level = LevelOff;
    else
        return false;
    return true;
}

bool ReadWindow(std::string_view text, int& windowType) {
    if (text == "quasi-chebyshev")
        windowType = CFFT::QuasiChebyshev;
    else if (text == "rectangle")
        windowType = CFFT::Rectangle;
    else
        return false;
    return true;
}

class Parser {
  public:
    explicit Parser(CommandLine& command) : m_command(command) {}

    // -1 when `option` was taken, else the status to end with.
    int Take(std::string_view option) {
        const std::size_t equals = option.find('=');
        const std::string_view name = option.substr(0, equals);
        const std::string_view value =
            equals == std::string_view::npos ? std::string_view() : option.substr(equals + 1);
        const bool hasValue = equals != std::string_view::npos;
        const bool measuring = m_command.subcommand != Subcommand::Window;
        const bool report = m_command.subcommand == Subcommand::Report;
        const bool sweep = m_command.subcommand == Subcommand::Sweep || report;
        const bool spectrum = m_command.subcommand == Subcommand::Spectrum;
        const bool response = m_command.subcommand == Subcommand::Response;

        if (name == "--help" && !hasValue)
            return WriteStandardOutput(HelpText(m_command.subcommand));
        if (name == "--version" && !hasValue)
            return WriteStandardOutput("tembrix " + std::string(TembrixVersion) + "\n");
        if (name == "--audio" && hasValue)
            return Check(platform::ParseAudioBackend(value, m_command.audio), option,
                         "system or virtual");
        if (!measuring && name == "--list-devices" && !hasValue) {
            m_command.listDevices = true;
            return -1;
        }
        if ((name == "--input" || name == "--output") && hasValue) {
            (name == "--input" ? m_command.inputDevice : m_command.outputDevice) = value;
            return Check(!value.empty(), option, "a device: an index or a part of a name");
        }
        if (name == "--input-channel" && hasValue) {
            int channel = 0;
            const bool valid =
                ReadWhole(value, channel) && channel >= 1 && channel <= HighestInputChannel;
            m_command.inputChannel = channel;
            return Check(valid, option, "a channel number from 1 to 1024");
        }
        if (name == "--verbose" && !hasValue) {
            m_command.verbose = true;
            return -1;
        }
        if (name == "--virtual-card" && hasValue) {
            m_virtualCardGiven = true;
            std::string error;
            if (!ApplyVirtualCardSettings(value, m_command.virtualCard, error))
                return Refuse(error);
            return -1;
        }
        if (measuring && name == "--fast" && !hasValue) {
            m_command.fast = true;
            return -1;
        }
        if (response)
            if (const int status = TakeSweptSine(name, value, hasValue, option); status != Untaken)
                return status;
        if (report && name == "--stepped" && !hasValue) {
            m_command.stepped = true;
            return -1;
        }
        if (measuring && !response && name == "--window" && hasValue)
            return Check(ReadWindow(value, m_command.windowType), option,
                         "quasi-chebyshev or rectangle");
        if (measuring && name == "--level" && hasValue)
            return Check(ReadLevel(value, spectrum, m_command.level), option,
                         spectrum ? "0, -20 or off" : "0 or -20");
        if (report && (name == "--json" || name == "--html") && hasValue) {
            (name == "--json" ? m_command.jsonPath : m_command.htmlPath) = value;
            return Check(!value.empty(), option, "a file name");
        }
        if (measuring && !report && name == "--csv" && hasValue) {
            m_command.csvPath = value;
            return Check(!value.empty(), option, "a file name");
        }
        if ((sweep || response) && name == "--quiet" && !hasValue) {
            m_command.quiet = true;
            return -1;
        }
        if (sweep && name == "--point-timeout" && hasValue)
            return Check(ParseDouble(std::string(value), m_command.pointTimeoutSeconds) &&
                             m_command.pointTimeoutSeconds >= ShortestPointTimeout &&
                             m_command.pointTimeoutSeconds <= LongestPointTimeout,
                         option, "from 3 to 86400 seconds");
        if (spectrum && name == "--tone" && hasValue) {
            double hz = 0;
            const bool inRange =
                ParseDouble(std::string(value), hz) && hz >= LowestTone && hz <= HighestTone;
            m_command.toneHz = hz;
            return Check(inRange, option, "a frequency from 10.7666015625 to 22045 Hz");
        }
        if (measuring && (name == "--channels" || (!spectrum && name == "--reference")) &&
            hasValue) {
            int channel = 0;
            const bool valid = ReadWhole(value, channel) && (channel == 1 || channel == 2);
            if (name == "--channels") {
                m_command.channels = channel;
                m_channelsGiven = true;
            } else {
                m_command.referenceChannel = channel;
            }
            return Check(valid, option, "1 or 2");
        }
        if (spectrum && name == "--blocks" && hasValue)
            return Check(ReadWhole(value, m_command.blocks) && m_command.blocks >= 1 &&
                             m_command.blocks <= MostBlocks,
                         option, "a whole number from 1 to 100000");
        return Refuse("unknown option '" + std::string(option) + "' (see tembrix" +
                      SubcommandWord() + " --help)");
    }

    // After the last option: what they need of each other.
    int Finish() {
        if (m_command.audio != platform::AudioBackend::Virtual) {
            if (m_command.fast)
                return Refuse("--fast needs --audio=virtual");
            if (m_virtualCardGiven)
                return Refuse("--virtual-card needs --audio=virtual");
        } else {
            if (m_command.inputDevice)
                return Refuse("--input needs --audio=system");
            if (m_command.outputDevice)
                return Refuse("--output needs --audio=system");
            if (m_command.inputChannel)
                return Refuse("--input-channel needs --audio=system");
        }
        if (m_command.referenceChannel) {
            if (m_channelsGiven && m_command.channels == 1)
                return Refuse("--reference needs both channels: it cannot go with --channels=1");
            m_command.channels = 2;
        }
        if (m_command.channels == 2 && m_command.inputChannel)
            return Refuse("--input-channel picks the one channel measured: with two channels "
                          "both the left and the right are");
        return -1;
    }

  private:
    // What TakeSweptSine returns for an option that is not the swept sine's.
    static constexpr int Untaken = -2;

    // The response's own options.
    int TakeSweptSine(std::string_view name, std::string_view value, bool hasValue,
                      std::string_view option) {
        if (!hasValue)
            return Untaken;
        SweepSettings& sweep = m_command.sweep;
        if (name == "--level")
            return Check(ParseDouble(std::string(value), sweep.levelDbfs) &&
                             sweep.levelDbfs >= SweepSettings::MinLevelDbfs &&
                             sweep.levelDbfs <= SweepSettings::MaxLevelDbfs,
                         option, "a level from -60 to 0 dBFS");
        if (name == "--length")
            return Check(ParseDouble(std::string(value), sweep.lengthSeconds) &&
                             sweep.lengthSeconds >= SweepSettings::MinLengthSeconds &&
                             sweep.lengthSeconds <= SweepSettings::MaxLengthSeconds,
                         option, "from 1 to 60 seconds");
        if (name == "--sweeps")
            return Check(ReadWhole(value, m_command.sweeps) && m_command.sweeps >= 1 &&
                             m_command.sweeps <= MostSweeps,
                         option, "a whole number from 1 to 100");
        if (name == "--per-octave")
            return Check(ReadWhole(value, m_command.pointsPerOctave) &&
                             m_command.pointsPerOctave >= 1 &&
                             m_command.pointsPerOctave <= MaxPointsPerOctave,
                         option, "a whole number from 1 to 96");
        if (name == "--impulse") {
            m_command.impulsePath = value;
            return Check(!value.empty(), option, "a file name");
        }
        return Untaken;
    }

    static int Check(bool valid, std::string_view option, const char* expected) {
        if (valid)
            return -1;
        const std::size_t equals = option.find('=');
        return Refuse("bad value in '" + std::string(option) +
                      "': " + std::string(option.substr(0, equals)) + " takes " + expected);
    }

    std::string SubcommandWord() const {
        switch (m_command.subcommand) {
        case Subcommand::Sweep:
            return " sweep";
        case Subcommand::Spectrum:
            return " spectrum";
        case Subcommand::Report:
            return " report";
        case Subcommand::Response:
            return " response";
        default:
            return "";
        }
    }

    CommandLine& m_command;
    bool m_virtualCardGiven = false;
    bool m_channelsGiven = false;
};

// A first argument without a leading '-' names the subcommand; any other is
// the window's, an option of ours or of Qt's. Read before anything of the
// window exists, so that a mistake never needs a display to be told.
// -1 with the subcommand set, or the status to end with.
int ReadSubcommand(int argc, char** argv, CommandLine& command) {
    if (argc > 1 && !std::string_view(argv[1]).starts_with('-')) {
        const std::optional<Subcommand> subcommand = SubcommandNamed(argv[1]);
        if (!subcommand)
            return Refuse("unknown subcommand '" + std::string(argv[1]) +
                          "': the subcommands are " + SubcommandWords + " (see tembrix --help)");
        command.subcommand = *subcommand;
        command.level = *subcommand == Subcommand::Spectrum ? Level0dB : LevelMinus20dB;
        return -1;
    }
    for (int i = 2; i < argc; ++i) {
        const std::string_view word = argv[i];
        if (SubcommandNamed(word) && !QtOption(argv[i - 1]))
            return Refuse("the subcommand must come first: tembrix " + std::string(word) +
                          " [OPTIONS]");
    }
    return -1;
}

} // namespace

int ParseCommandLine(int argc, char** argv, CommandLine& command) {
    if (const int status = ReadSubcommand(argc, argv, command); status >= 0)
        return status;
    const int first = command.subcommand == Subcommand::Window ? 1 : 2;
    Parser parser(command);
    for (int i = first; i < argc; ++i) {
        const std::string_view option = argv[i];
        if (!option.starts_with("--")) {
            if (command.subcommand == Subcommand::Window)
                continue; // Qt's own, such as "-platform offscreen"
            return Refuse("unexpected argument '" + std::string(option) + "'");
        }
        if (const int status = parser.Take(option); status >= 0)
            return status;
    }
    return parser.Finish();
}

} // namespace cli
