#include "platform/SoundServerQuery.h"

#include <pulse/channelmap.h>
#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/introspect.h>
#include <pulse/mainloop.h>
#include <pulse/proplist.h>
#include <pulse/sample.h>
#include <pulse/volume.h>

#include <unistd.h>

#include <cstdint>
#include <string_view>
#include <vector>

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;

// The names the ALSA pulse plugin gives its streams: ours are found by them
// where the server does not know our process id (another PID namespace).
constexpr std::string_view PluginPlaybackName = "ALSA Playback";
constexpr std::string_view PluginRecordingName = "ALSA Capture";

std::string text(const char* words) {
    return words != nullptr ? words : "";
}

std::string channelMapText(const pa_channel_map& map) {
    char text[PA_CHANNEL_MAP_SNPRINT_MAX];
    pa_channel_map_snprint(text, sizeof text, &map);
    return text;
}

void describeFormat(ServerEnd& end, const pa_sample_spec& sample, const pa_channel_map& map) {
    end.rateHz = sample.rate;
    end.format = text(pa_sample_format_to_string(sample.format));
    end.channels = sample.channels;
    end.channelMap = channelMapText(map);
}

void describeVolume(ServerEnd& end, const pa_cvolume& volume, bool muted) {
    const pa_volume_t average = pa_cvolume_avg(&volume);
    end.volumeDb = pa_sw_volume_to_dB(average);
    end.volumePercent = 100.0 * average / PA_VOLUME_NORM;
    end.muted = muted;
}

// A stream of the server's, with what finds ours among them.
struct ListedStream {
    std::uint32_t device = PA_INVALID_INDEX; // the sink or source
    std::uint32_t index = 0;
    bool ours = false; // by our process id
    ServerStreamPath path;
};

// Ours by process id, the newest where the device layer reopened a stream;
// else the one stream, if only one, with the plugin's name.
std::optional<ListedStream> ourStream(const std::vector<ListedStream>& streams,
                                      std::string_view pluginName) {
    std::optional<ListedStream> found;
    for (const ListedStream& stream : streams)
        if (stream.ours && (!found || stream.index > found->index))
            found = stream;
    if (found)
        return found;
    for (const ListedStream& stream : streams) {
        if (stream.path.stream.name != pluginName)
            continue;
        if (found)
            return std::nullopt; // more than one: none can be told ours
        found = stream;
    }
    return found;
}

bool isOurs(const pa_proplist* properties) {
    const char* pid = pa_proplist_gets(properties, PA_PROP_APPLICATION_PROCESS_ID);
    return pid != nullptr && std::to_string(::getpid()) == pid;
}

// One conversation with the server on a main loop of its own, run only
// until its deadline: every wait below gives up then.
class Conversation {
  public:
    explicit Conversation(Clock::time_point deadline) : m_deadline(deadline) {
        m_loop = pa_mainloop_new();
        if (m_loop != nullptr)
            m_context = pa_context_new(pa_mainloop_get_api(m_loop), "tembrix");
    }
    ~Conversation() {
        if (m_context != nullptr) {
            pa_context_disconnect(m_context);
            pa_context_unref(m_context);
        }
        if (m_loop != nullptr)
            pa_mainloop_free(m_loop);
    }
    Conversation(const Conversation&) = delete;
    Conversation& operator=(const Conversation&) = delete;

    SoundServerAnswer Run() {
        if (m_context == nullptr)
            return refused("libpulse could not set up a connection");
        // NOAUTOSPAWN: asking must never start a server.
        if (pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
            return refused(pa_strerror(pa_context_errno(m_context)));
        if (!waitFor([this] { return connected(); }))
            return m_answer;
        if (pa_context_get_state(m_context) != PA_CONTEXT_READY)
            return refused(pa_strerror(pa_context_errno(m_context)));

        track(pa_context_get_server_info(m_context, serverInfo, this));
        track(pa_context_get_sink_input_info_list(m_context, sinkInputInfo, this));
        track(pa_context_get_source_output_info_list(m_context, sourceOutputInfo, this));
        if (!waitFor([this] { return m_pending == 0; }))
            return m_answer;

        m_playback = ourStream(m_sinkInputs, PluginPlaybackName);
        m_recording = ourStream(m_sourceOutputs, PluginRecordingName);
        if (m_playback)
            track(pa_context_get_sink_info_by_index(m_context, m_playback->device, sinkInfo, this));
        if (m_recording)
            track(pa_context_get_source_info_by_index(m_context, m_recording->device, sourceInfo,
                                                      this));
        if (!waitFor([this] { return m_pending == 0; }))
            return m_answer;

        m_answer.outcome = SoundServerAnswer::Outcome::Answered;
        if (m_playback)
            m_answer.playback = m_playback->path;
        if (m_recording)
            m_answer.recording = m_recording->path;
        return m_answer;
    }

  private:
    SoundServerAnswer refused(const std::string& why) {
        m_answer.outcome = SoundServerAnswer::Outcome::NoServer;
        m_answer.failure = why;
        return m_answer;
    }

    bool connected() const {
        const pa_context_state_t state = pa_context_get_state(m_context);
        return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
    }

    void track(pa_operation* operation) {
        if (operation == nullptr)
            return; // the context failed: the wait sees it
        ++m_pending;
        pa_operation_unref(operation);
    }

    // Runs the loop until `done`; false, with the answer set to why, when
    // the deadline passed or the connection failed first.
    template <class Done> bool waitFor(Done done) {
        while (!done()) {
            if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(m_context))) {
                refused(pa_strerror(pa_context_errno(m_context)));
                return false;
            }
            const auto left =
                std::chrono::duration_cast<std::chrono::microseconds>(m_deadline - Clock::now());
            if (left.count() <= 0) {
                m_answer.outcome = SoundServerAnswer::Outcome::NoAnswer;
                m_answer.failure = "the sound server did not answer";
                return false;
            }
            if (pa_mainloop_prepare(m_loop, static_cast<int>(left.count())) < 0 ||
                pa_mainloop_poll(m_loop) < 0 || pa_mainloop_dispatch(m_loop) < 0) {
                refused("libpulse's main loop failed");
                return false;
            }
        }
        return true;
    }

    // An answer to one request has come whole (eol > 0) or failed (eol < 0).
    void answered() { --m_pending; }

    static void serverInfo(pa_context*, const pa_server_info* info, void* self) {
        auto& conversation = *static_cast<Conversation*>(self);
        if (info != nullptr) {
            conversation.m_answer.serverName = text(info->server_name);
            conversation.m_answer.serverVersion = text(info->server_version);
        }
        conversation.answered();
    }

    static void sinkInputInfo(pa_context*, const pa_sink_input_info* info, int eol, void* self) {
        auto& conversation = *static_cast<Conversation*>(self);
        if (eol != 0) {
            conversation.answered();
            return;
        }
        ListedStream stream{info->sink, info->index, isOurs(info->proplist), {}};
        stream.path.stream.name = text(info->name);
        describeFormat(stream.path.stream, info->sample_spec, info->channel_map);
        describeVolume(stream.path.stream, info->volume, info->mute != 0);
        stream.path.resampleMethod = text(info->resample_method);
        conversation.m_sinkInputs.push_back(std::move(stream));
    }

    static void sourceOutputInfo(pa_context*, const pa_source_output_info* info, int eol,
                                 void* self) {
        auto& conversation = *static_cast<Conversation*>(self);
        if (eol != 0) {
            conversation.answered();
            return;
        }
        ListedStream stream{info->source, info->index, isOurs(info->proplist), {}};
        stream.path.stream.name = text(info->name);
        describeFormat(stream.path.stream, info->sample_spec, info->channel_map);
        if (info->has_volume)
            describeVolume(stream.path.stream, info->volume, info->mute != 0);
        stream.path.resampleMethod = text(info->resample_method);
        conversation.m_sourceOutputs.push_back(std::move(stream));
    }

    static void sinkInfo(pa_context*, const pa_sink_info* info, int eol, void* self) {
        auto& conversation = *static_cast<Conversation*>(self);
        if (eol != 0) {
            conversation.answered();
            return;
        }
        ServerEnd& device = conversation.m_playback->path.device;
        device.name = text(info->name);
        describeFormat(device, info->sample_spec, info->channel_map);
        describeVolume(device, info->volume, info->mute != 0);
    }

    static void sourceInfo(pa_context*, const pa_source_info* info, int eol, void* self) {
        auto& conversation = *static_cast<Conversation*>(self);
        if (eol != 0) {
            conversation.answered();
            return;
        }
        ServerEnd& device = conversation.m_recording->path.device;
        device.name = text(info->name);
        describeFormat(device, info->sample_spec, info->channel_map);
        describeVolume(device, info->volume, info->mute != 0);
    }

    const Clock::time_point m_deadline;
    pa_mainloop* m_loop = nullptr;
    pa_context* m_context = nullptr;
    int m_pending = 0; // requests not yet answered whole
    SoundServerAnswer m_answer;
    std::vector<ListedStream> m_sinkInputs;
    std::vector<ListedStream> m_sourceOutputs;
    std::optional<ListedStream> m_playback;
    std::optional<ListedStream> m_recording;
};

} // namespace

SoundServerAnswer AskSoundServer(std::chrono::milliseconds limit) {
    Conversation conversation(Clock::now() + limit);
    return conversation.Run();
}

} // namespace platform
