#include "measure/AudioPath.h"

#include "dsp/SignalFormat.h"
#include "measure/ClockDrift.h"
#include "measure/JsonText.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <string_view>

namespace {

using platform::ServerEnd;
using platform::ServerStreamPath;

// A volume prints as 0.00 dB below this: nothing worth a flag.
constexpr double VolumeToleranceDb = 0.005;

constexpr std::string_view AlsaSuffix = " (ALSA)";

std::string Decibels(double db) {
    char text[32];
    std::snprintf(text, sizeof text, "%+.2f dB", db);
    return db > -VolumeToleranceDb && db < VolumeToleranceDb ? "0.00 dB" : text;
}

std::string Percent(double percent) {
    char text[32];
    std::snprintf(text, sizeof text, "%.0f %%", percent);
    return text;
}

bool Resampled(const ServerStreamPath& path) {
    const auto off = [](unsigned rate) { return rate != 0 && rate != SampleRate; };
    return off(path.stream.rateHz) || off(path.device.rateHz);
}

bool VolumeOff(const ServerEnd& end) {
    return !(std::abs(end.volumeDb) < VolumeToleranceDb);
}

// The stream's channels against those the device was opened with, and its
// sink's or source's.
bool Remixed(const ServerStreamPath& path, int opened) {
    const ServerEnd& stream = path.stream;
    const ServerEnd& device = path.device;
    if (opened != 0 && stream.channels != opened)
        return true;
    if (device.channels == 0)
        return false; // the device was not described
    return stream.channels != device.channels || stream.channelMap != device.channelMap;
}

// The server's own name for itself: "pulseaudio", or PipeWire's service
// "PulseAudio (on PipeWire 0.3.65)" with its PulseAudio protocol version.
void NameServer(AudioPath& path, const platform::SoundServerAnswer& answer) {
    constexpr std::string_view PipeWire = "on PipeWire ";
    const std::string& name = answer.serverName;
    if (const auto at = name.find(PipeWire); at != std::string::npos) {
        const auto from = at + PipeWire.size();
        path.server = "PipeWire";
        path.version = name.substr(from, name.find(')', from) - from);
    } else {
        path.server = name == "pulseaudio" ? "PulseAudio" : name;
        path.version = answer.serverVersion;
    }
}

std::string DescribeEnd(const char* word, const ServerEnd& end) {
    if (end.rateHz == 0)
        return std::string(word) + " not described";
    return std::string(word) + " \"" + end.name + "\" " + std::to_string(end.rateHz) + " Hz " +
           end.format + " " + std::to_string(end.channels) + "ch";
}

// Each end whose volume is not 0 dB, as "sink volume -18.06 dB (50 %)"; the
// muted ends as "sink muted".
void ListVolumes(const AudioPath& path, std::vector<std::string>& volumes,
                 std::vector<std::string>& muted) {
    const auto look = [&](const char* word, const ServerEnd& end) {
        if (VolumeOff(end))
            volumes.push_back(std::string(word) + " volume " + Decibels(end.volumeDb) + " (" +
                              Percent(end.volumePercent) + ")");
        if (end.muted)
            muted.push_back(std::string(word) + " muted");
    };
    if (path.playback) {
        look("output stream", path.playback->stream);
        look("sink", path.playback->device);
    }
    if (path.recording) {
        look("input stream", path.recording->stream);
        look("source", path.recording->device);
    }
}

std::string Joined(const std::vector<std::string>& items, const char* between) {
    std::string out;
    for (const std::string& item : items)
        out += (out.empty() ? "" : between) + item;
    return out;
}

std::string ResampleMethods(const AudioPath& path) {
    std::vector<std::string> methods;
    for (const auto* stream : {&path.playback, &path.recording}) {
        if (*stream && Resampled(**stream) && !(*stream)->resampleMethod.empty() &&
            (methods.empty() || methods.front() != (*stream)->resampleMethod))
            methods.push_back((*stream)->resampleMethod);
    }
    return methods.empty() ? "" : " (" + Joined(methods, ", ") + ")";
}

std::string Remixes(const AudioPath& path) {
    std::vector<std::string> remixes;
    const auto look = [&](const char* word, const char* device,
                          const std::optional<ServerStreamPath>& stream, int opened) {
        if (!stream || !Remixed(*stream, opened))
            return;
        remixes.push_back(std::string(word) + " opened " + std::to_string(opened) + "ch, stream " +
                          std::to_string(stream->stream.channels) + "ch " +
                          stream->stream.channelMap + ", " + device + " " +
                          std::to_string(stream->device.channels) + "ch " +
                          stream->device.channelMap);
    };
    look("output", "sink", path.playback, path.outputChannels);
    look("input", "source", path.recording, path.inputChannels);
    return Joined(remixes, "; ");
}

std::string JsonText(const std::string& text) {
    return text.empty() ? "null" : JsonString(text);
}

} // namespace

AudioPath PathWithoutServer(std::string note) {
    AudioPath path;
    path.note = std::move(note);
    return path;
}

AudioPath DescribeAudioPath(const platform::SoundServerAnswer& answer, int outputChannels,
                            int inputChannels) {
    using Outcome = platform::SoundServerAnswer::Outcome;
    if (answer.outcome == Outcome::NoAnswer)
        return PathWithoutServer("the sound server did not answer");
    if (answer.outcome == Outcome::NoServer || (!answer.playback && !answer.recording))
        return PathWithoutServer();

    AudioPath path;
    NameServer(path, answer);
    path.playback = answer.playback;
    path.recording = answer.recording;
    path.outputChannels = outputChannels;
    path.inputChannels = inputChannels;
    for (const auto* stream : {&path.playback, &path.recording}) {
        if (!*stream)
            continue;
        const ServerStreamPath& s = **stream;
        path.resampling = path.resampling || Resampled(s);
        path.volume = path.volume || VolumeOff(s.stream) || VolumeOff(s.device);
        path.muted = path.muted || s.stream.muted || s.device.muted;
    }
    path.remixing = (path.playback && Remixed(*path.playback, outputChannels)) ||
                    (path.recording && Remixed(*path.recording, inputChannels));
    return path;
}

bool MayGoThroughSoundServer(const std::string& deviceName) {
    if (!deviceName.ends_with(AlsaSuffix))
        return false;
    const std::string_view device(deviceName.data(), deviceName.size() - AlsaSuffix.size());
    if (device.find("(hw:") != std::string_view::npos)
        return false;
    // ALSA's names for the card's own hardware and its direct mixers.
    for (const std::string_view hardware :
         {"hw:", "plughw:", "sysdefault", "front", "rear", "center_lfe", "side", "surround",
          "iec958", "spdif", "hdmi", "dmix", "dsnoop"}) {
        if (device.starts_with(hardware))
            return false;
    }
    return true;
}

std::string VolumeText(const AudioPath& path) {
    std::vector<std::string> volumes, muted;
    ListVolumes(path, volumes, muted);
    volumes.insert(volumes.end(), muted.begin(), muted.end());
    return Joined(volumes, ", ");
}

std::string AudioPathLine(const AudioPath& path) {
    std::string line = "Audio path: ";
    if (path.server.empty())
        return line + path.note;
    line += path.server + (path.version.empty() ? "" : " " + path.version);
    line += ", " + (path.playback ? DescribeEnd("sink", path.playback->device)
                                  : std::string("output not through the server"));
    line += ", " + (path.recording ? DescribeEnd("source", path.recording->device)
                                   : std::string("input not through the server"));
    // PipeWire's PulseAudio service shows each sink and source at its own
    // rate, never the graph's: a graph held at another rate resamples
    // without a sign here, so its line claims no more than it can see.
    if (!path.Flagged())
        return line +
               (path.server == "PipeWire"
                    ? "; no resampling or remixing at the sink and source, volumes 0.00 dB (the "
                      "graph's own rate is not visible: a graph held at another rate still "
                      "resamples)"
                    : "; no resampling or remixing, volumes 0.00 dB");

    if (path.resampling)
        line += "; resampling" + ResampleMethods(path) +
                ": the figures above about 15 kHz describe the server's resampler, not the card";
    std::vector<std::string> volumes, muted;
    ListVolumes(path, volumes, muted);
    if (!volumes.empty())
        line += "; " + Joined(volumes, ", ") + ": the gain measured includes " +
                (volumes.size() > 1 ? "them" : "it");
    if (!muted.empty())
        line += "; " + Joined(muted, ", ") + ": the loop-back carries no signal";
    if (path.remixing)
        line += "; remixing (" + Remixes(path) + "): the server mixes the channels measured";
    return line;
}

std::string AudioPathJson(const AudioPath& path, std::optional<double> driftPpm) {
    const auto rate = [](const std::optional<ServerStreamPath>& stream) {
        return stream && stream->device.rateHz != 0 ? JsonNumber(stream->device.rateHz)
                                                    : std::string("null");
    };
    const auto deviceVolume = [](const std::optional<ServerStreamPath>& stream) {
        return stream ? JsonNumber(stream->device.volumeDb) : std::string("null");
    };
    // Both streams' volumes act on the gain measured: their sum in dB.
    std::optional<double> streamVolumeDb;
    for (const auto* stream : {&path.playback, &path.recording})
        if (*stream)
            streamVolumeDb = streamVolumeDb.value_or(0) + (*stream)->stream.volumeDb;

    std::vector<std::string> flags;
    if (path.resampling)
        flags.push_back(JsonString("resampling"));
    if (path.volume)
        flags.push_back(JsonString("volume"));
    if (path.muted)
        flags.push_back(JsonString("muted"));
    if (path.remixing)
        flags.push_back(JsonString("remixing"));
    if (driftPpm && ClocksOfTheirOwn(*driftPpm))
        flags.push_back(JsonString("drift"));
    return JsonObject({{"server", JsonText(path.server)},
                       {"version", JsonText(path.version)},
                       {"note", JsonText(path.note)},
                       {"sink", path.playback ? JsonText(path.playback->device.name) : "null"},
                       {"source", path.recording ? JsonText(path.recording->device.name) : "null"},
                       {"sink_rate_hz", rate(path.playback)},
                       {"source_rate_hz", rate(path.recording)},
                       {"resampling", path.resampling ? "true" : "false"},
                       {"sink_volume_db", deviceVolume(path.playback)},
                       {"source_volume_db", deviceVolume(path.recording)},
                       {"stream_volume_db", streamVolumeDb ? JsonNumber(*streamVolumeDb) : "null"},
                       {"remixing", path.remixing ? "true" : "false"},
                       {"drift_ppm", driftPpm ? JsonNumber(*driftPpm) : "null"},
                       {"flags", JsonArray(flags)}});
}
