// What the sound server (PulseAudio, or PipeWire's PulseAudio service) says
// of our two streams: the rate, format, channels and volume at which each
// runs and those of the device it reaches, so that a resampler, a volume
// below 100 % or a remix in between can be told apart from the card. Asked
// through libpulse's introspection, never starting a server, within a time
// limit; libpulse's own log lines are kept off standard error unless
// --verbose (see SetVerboseAudioLibraries).
#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace platform {

// One side of the path: a stream of ours, or the sink or source it reaches.
struct ServerEnd {
    std::string name; // "loop", "loop.monitor"; the stream's own name for a stream
    unsigned rateHz = 0;
    std::string format; // "s16le", as the server names it
    int channels = 0;
    std::string channelMap; // "front-left,front-right"
    double volumeDb = 0;    // the average of the channels' volumes; -inf at 0 %
    double volumePercent = 100;
    bool muted = false;
};

// One of our streams and the device it plays to or records from.
struct ServerStreamPath {
    ServerEnd stream;
    ServerEnd device;
    std::string resampleMethod; // the stream's; "" when it has no resampler
};

struct SoundServerAnswer {
    enum class Outcome {
        Answered, // the fields below hold its answer
        NoServer, // none to connect to (none runs, or it refused us)
        NoAnswer, // one was there but did not answer within the limit
    };
    Outcome outcome = Outcome::NoServer;
    std::string failure;    // the connection's failure, when there is no answer
    std::string serverName; // "pulseaudio", "PulseAudio (on PipeWire 0.3.65)"
    std::string serverVersion;
    // Ours among the server's streams, as our process id or else the name
    // of the ALSA plugin's streams finds them; nothing where none is ours.
    std::optional<ServerStreamPath> playback;
    std::optional<ServerStreamPath> recording;
};

// The process's own streams; at most `limit` (then NoAnswer). Never starts
// a server.
SoundServerAnswer AskSoundServer(std::chrono::milliseconds limit);

} // namespace platform
