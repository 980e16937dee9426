#include "sim/VirtualCardSettings.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <numbers>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {

// Longer delays would outlast the settling time that a sweep allows.
constexpr long long LongestLatencyFrames = 8192;

// A 16-bit recording spans about 96 dB: higher levels only clip, and far
// higher ones overflow the simulator's arithmetic into NaN samples.
constexpr double HighestLevelDb = 120.0;

// The RMS of a full-scale sine re an RMS of 1.0: the offset between the
// option's dBFS and the model's noise level.
const double SineRmsDb = 20.0 * std::log10(1.0 / std::numbers::sqrt2);

// A leading '+' is what people write for a gain; std::from_chars refuses it.
std::string_view withoutPlus(std::string_view text) {
    if (text.size() > 1 && text[0] == '+' && text[1] != '-' && text[1] != '+')
        return text.substr(1);
    return text;
}

// Locale-independent, whole text only, finite only.
std::optional<double> parseNumber(std::string_view text) {
    text = withoutPlus(text);
    double value = 0.0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc{} || end != text.data() + text.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::optional<long long> parseWholeNumber(std::string_view text) {
    text = withoutPlus(text);
    long long value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc{} || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::string formatNumber(double value) {
    std::array<char, 32> buffer;
    char* end = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value).ptr;
    return std::string(buffer.data(), end);
}

std::string formatLevel(double db) {
    return db == Off ? "off" : formatNumber(db);
}

struct Split {
    std::string_view first, second;
};

std::optional<Split> splitAt(std::string_view text, char separator) {
    const std::size_t at = text.find(separator);
    if (at == std::string_view::npos)
        return std::nullopt;
    return Split{text.substr(0, at), text.substr(at + 1)};
}

bool notANumber(std::string_view text, std::string& reason) {
    reason = "'" + std::string(text) + "' is not a finite decimal number";
    return false;
}

enum class OffAllowed { No, Yes };

bool readLevel(std::string_view text, OffAllowed offAllowed, double& db, std::string& reason) {
    if (offAllowed == OffAllowed::Yes && text == "off") {
        db = Off;
        return true;
    }
    const std::optional<double> value = parseNumber(text);
    if (!value)
        return notANumber(text, reason);
    if (*value > HighestLevelDb) {
        reason = "the level must be at most " + formatNumber(HighestLevelDb) + " dB";
        return false;
    }
    db = *value;
    return true;
}

bool readFrequency(std::string_view text, double& hz, std::string& reason) {
    const std::optional<double> value = parseNumber(text);
    if (!value)
        return notANumber(text, reason);
    hz = *value;
    return true;
}

std::string outsideBand(double sampleRate) {
    return "the frequency must lie above 0 and below " + formatNumber(sampleRate / 2.0) + " Hz";
}

// The model's own rule decides the band, tried on a model with only this
// corner, so that the reason can name the pair.
bool cornerInsideBand(FilterCorner corner, double sampleRate) {
    DeviceModel probe = DeviceModel::IdealWire();
    probe.sampleRate = sampleRate;
    probe.lowPass = corner;
    return probe.valid();
}

bool humInsideBand(double hz, double sampleRate) {
    DeviceModel probe = DeviceModel::IdealWire();
    probe.sampleRate = sampleRate;
    probe.humHz = hz;
    probe.humDb = 0.0;
    return probe.valid();
}

bool readCorner(std::string_view text, double sampleRate, FilterCorner& corner,
                std::string& reason) {
    if (text == "off") {
        corner.order = 0;
        return true;
    }
    const std::optional<Split> parts = splitAt(text, '/');
    if (!parts) {
        reason = "expected HZ/ORDER or off";
        return false;
    }
    FilterCorner read{};
    if (!readFrequency(parts->first, read.frequencyHz, reason))
        return false;
    const std::optional<long long> order = parseWholeNumber(parts->second);
    if (!order) {
        reason = "the order '" + std::string(parts->second) + "' is not a whole number";
        return false;
    }
    if (*order < 1 || *order > DeviceModel::MaxFilterOrder) {
        reason = "the order must be 1 to " + std::to_string(DeviceModel::MaxFilterOrder);
        return false;
    }
    read.order = static_cast<int>(*order);
    if (!cornerInsideBand(read, sampleRate)) {
        reason = outsideBand(sampleRate);
        return false;
    }
    corner = read;
    return true;
}

bool applyGain(std::string_view value, DeviceModel& model, std::string& reason) {
    return readLevel(value, OffAllowed::No, model.gainDb, reason);
}

bool applyHighPass(std::string_view value, DeviceModel& model, std::string& reason) {
    return readCorner(value, model.sampleRate, model.highPass, reason);
}

bool applyLowPass(std::string_view value, DeviceModel& model, std::string& reason) {
    return readCorner(value, model.sampleRate, model.lowPass, reason);
}

bool applyNoise(std::string_view value, DeviceModel& model, std::string& reason) {
    double dbfs = 0.0;
    if (!readLevel(value, OffAllowed::Yes, dbfs, reason))
        return false;
    model.noiseDb = dbfs + SineRmsDb; // Off stays Off
    return true;
}

bool applyHum(std::string_view value, DeviceModel& model, std::string& reason) {
    if (value == "off") {
        model.humDb = Off;
        return true;
    }
    const std::optional<Split> parts = splitAt(value, '/');
    if (!parts) {
        reason = "expected HZ/DBFS or off";
        return false;
    }
    double hz = 0.0, db = 0.0;
    if (!readFrequency(parts->first, hz, reason) ||
        !readLevel(parts->second, OffAllowed::No, db, reason))
        return false;
    if (!humInsideBand(hz, model.sampleRate)) {
        reason = outsideBand(model.sampleRate);
        return false;
    }
    model.humHz = hz;
    model.humDb = db;
    return true;
}

bool applySecondHarmonic(std::string_view value, DeviceModel& model, std::string& reason) {
    return readLevel(value, OffAllowed::Yes, model.secondHarmonicDb, reason);
}

bool applyThirdHarmonic(std::string_view value, DeviceModel& model, std::string& reason) {
    return readLevel(value, OffAllowed::Yes, model.thirdHarmonicDb, reason);
}

bool applyLatency(std::string_view value, DeviceModel& model, std::string& reason) {
    const std::optional<long long> frames = parseWholeNumber(value);
    if (!frames || *frames < 0 || *frames > LongestLatencyFrames) {
        reason = "the latency must be a whole number of frames from 0 to " +
                 std::to_string(LongestLatencyFrames);
        return false;
    }
    model.latencyFrames = static_cast<std::size_t>(*frames);
    return true;
}

bool readSeconds(std::string_view value, double& seconds, std::string& reason) {
    const std::optional<double> read = parseNumber(value);
    if (!read || *read < 0.0) {
        reason = "expected a number of seconds, 0 or more";
        return false;
    }
    seconds = *read;
    return true;
}

bool applyDeath(std::string_view value, DeviceModel& model, std::string& reason) {
    return readSeconds(value, model.streamsDieAfterSeconds, reason);
}

bool applyOverflow(std::string_view value, DeviceModel& model, std::string& reason) {
    return readSeconds(value, model.inputOverflowsAfterSeconds, reason);
}

bool applyStartDelay(std::string_view value, DeviceModel& model, std::string& reason) {
    const std::optional<double> seconds = parseNumber(value);
    if (!seconds || *seconds < 0.0 || *seconds > DeviceModel::LongestInputStartDelaySeconds) {
        reason = "expected a number of seconds from 0 to " +
                 formatNumber(DeviceModel::LongestInputStartDelaySeconds);
        return false;
    }
    model.inputStartDelaySeconds = *seconds;
    return true;
}

// A bit-exact wire without delay in place of the channel's device; the
// card's own settings stay.
DeviceModel wired(const DeviceModel& channel) {
    DeviceModel wire = DeviceModel::IdealWire();
    wire.sampleRate = channel.sampleRate;
    wire.noiseSeed = channel.noiseSeed;
    wire.streamsDieAfterSeconds = channel.streamsDieAfterSeconds;
    wire.inputOverflowsAfterSeconds = channel.inputOverflowsAfterSeconds;
    wire.inputStartDelaySeconds = channel.inputStartDelaySeconds;
    return wire;
}

bool applyWire(std::string_view value, DeviceModel& model, std::string& reason) {
    if (value != "on") {
        reason = "expected wire=on";
        return false;
    }
    model = wired(model);
    return true;
}

bool applyCrosstalk(std::string_view value, CardModel& card, std::string& reason) {
    double db = 0.0;
    if (!readLevel(value, OffAllowed::Yes, db, reason))
        return false;
    if (db > 0.0) {
        reason = "the crosstalk must be at most 0 dB";
        return false;
    }
    card.crosstalkDb = db;
    return true;
}

bool applyDrift(std::string_view value, CardModel& card, std::string& reason) {
    const std::optional<double> ppm = parseNumber(value);
    if (!ppm || std::fabs(*ppm) > CardModel::LongestDriftPpm) {
        reason = "expected parts per million from -" + formatNumber(CardModel::LongestDriftPpm) +
                 " to " + formatNumber(CardModel::LongestDriftPpm);
        return false;
    }
    card.driftPpm = *ppm;
    return true;
}

using ChannelSetter = bool (*)(std::string_view value, DeviceModel& model, std::string& reason);
using CardSetter = bool (*)(std::string_view value, CardModel& card, std::string& reason);

// The card-wide settings that each channel's model carries, kept alike.
template <ChannelSetter set>
bool onBothChannels(std::string_view value, CardModel& card, std::string& reason) {
    return set(value, card.left, reason) && set(value, card.right, reason);
}

// A key sets one channel's device (`channel`) or the whole card (`card`).
struct Key {
    std::string_view name;
    ChannelSetter channel;
    CardSetter card;
};

constexpr std::array<Key, 14> Keys{{
    {"gain", applyGain, nullptr},
    {"highpass", applyHighPass, nullptr},
    {"lowpass", applyLowPass, nullptr},
    {"noise", applyNoise, nullptr},
    {"hum", applyHum, nullptr},
    {"h2", applySecondHarmonic, nullptr},
    {"h3", applyThirdHarmonic, nullptr},
    {"latency", applyLatency, nullptr},
    {"wire", applyWire, nullptr},
    {"crosstalk", nullptr, applyCrosstalk},
    {"drift", nullptr, applyDrift},
    {"die-after", nullptr, onBothChannels<applyDeath>},
    {"overflow-after", nullptr, onBothChannels<applyOverflow>},
    {"start-delay", nullptr, onBothChannels<applyStartDelay>},
}};

std::string knownKeys() {
    std::string names;
    for (const Key& key : Keys)
        names += (names.empty() ? "" : ", ") + std::string(key.name);
    return names;
}

std::vector<std::string_view> splitPairs(std::string_view settings) {
    std::vector<std::string_view> pairs;
    if (settings.empty())
        return pairs;
    for (std::size_t start = 0;;) {
        const std::size_t comma = settings.find(',', start);
        pairs.push_back(settings.substr(start, comma - start));
        if (comma == std::string_view::npos)
            return pairs;
        start = comma + 1;
    }
}

bool refusePair(std::string_view pair, const std::string& reason, std::string& error) {
    error = "virtual card setting '" + std::string(pair) + "': " + reason;
    return false;
}

// Keys.size() for an unknown name.
constexpr std::size_t findKey(std::string_view name) {
    const auto key =
        std::find_if(Keys.begin(), Keys.end(), [name](const Key& k) { return k.name == name; });
    return static_cast<std::size_t>(key - Keys.begin());
}

// The keys before it are the device's, which DescribeVirtualCard writes.
constexpr std::size_t WireKey = findKey("wire");
// The card's own keys that no single channel's device carries.
constexpr std::size_t CrosstalkKey = findKey("crosstalk");
constexpr std::size_t DriftKey = findKey("drift");

constexpr std::array<std::string_view, 2> ChannelPrefixes{"left.", "right."};

enum class ChannelCount { One, Two };

// How a key of a channel was last given: not at all, without a prefix (for
// both channels) or with the channel's prefix.
enum class Given : unsigned char { No, ForBoth, ForOne };

// Applies pairs from left to right to a copy of the card. A pair may refine
// an earlier one (a prefixed key after the same key without a prefix) but
// never undo it: the same key given again for a channel, a key without a
// prefix after the prefixed one, and a wire after a key of its channel are
// refused, so that nothing typed is silently lost.
class SettingsReader {
  public:
    SettingsReader(CardModel& card, ChannelCount channels) : m_card(card), m_channels(channels) {}

    bool apply(std::string_view pair, std::string& error) {
        const std::optional<Split> keyValue = splitAt(pair, '=');
        if (!keyValue)
            return refusePair(pair, "expected key=value", error);
        std::string_view name = keyValue->first;
        std::optional<std::size_t> channel;
        for (std::size_t c = 0; c < ChannelPrefixes.size() && !channel; ++c)
            if (name.starts_with(ChannelPrefixes[c])) {
                channel = c;
                name.remove_prefix(ChannelPrefixes[c].size());
            }
        const std::size_t index = findKey(name);
        if (index == Keys.size())
            return refusePair(pair,
                              "unknown key (a device's key may take a left. or right. prefix); "
                              "the keys are " +
                                  knownKeys(),
                              error);
        if (m_channels == ChannelCount::One &&
            (channel || index == CrosstalkKey || index == DriftKey))
            return refusePair(pair, "a setting of two channels, where one is described", error);
        std::string reason;
        const bool applied = Keys[index].card
                                 ? applyToCard(index, channel, keyValue->second, reason)
                                 : applyToChannels(index, channel, keyValue->second, reason);
        if (!applied)
            return refusePair(pair, reason, error);
        return true;
    }

  private:
    bool applyToCard(std::size_t index, std::optional<std::size_t> channel, std::string_view value,
                     std::string& reason) {
        const std::string name(Keys[index].name);
        if (channel) {
            reason = name + " is the whole card's: give it without " +
                     std::string(ChannelPrefixes[*channel]);
            return false;
        }
        if (std::exchange(m_cardGiven[index], true)) {
            reason = name + " is given twice";
            return false;
        }
        return Keys[index].card(value, m_card, reason);
    }

    // To the one channel named, or to both.
    bool applyToChannels(std::size_t index, std::optional<std::size_t> channel,
                         std::string_view value, std::string& reason) {
        const Given scope = channel ? Given::ForOne : Given::ForBoth;
        for (std::size_t c = 0; c < 2; ++c)
            if ((!channel || *channel == c) && !mayGive(index, c, scope, reason))
                return false;
        for (std::size_t c = 0; c < 2; ++c) {
            if (channel && *channel != c)
                continue;
            if (!Keys[index].channel(value, c == 0 ? m_card.left : m_card.right, reason))
                return false;
            if (index == WireKey)
                m_given[c].fill(Given::No); // keys after it may change the wire
            m_given[c][index] = scope;
        }
        return true;
    }

    bool mayGive(std::size_t index, std::size_t channel, Given scope, std::string& reason) const {
        for (std::size_t other = 0; other < Keys.size(); ++other) {
            if (other != index && (index != WireKey || !Keys[other].channel))
                continue;
            const Given earlier = m_given[channel][other];
            if (earlier == Given::No || (earlier == Given::ForBoth && scope == Given::ForOne))
                continue;
            const std::string earlierName =
                (earlier == Given::ForOne ? std::string(ChannelPrefixes[channel]) : "") +
                std::string(Keys[other].name);
            reason = other == index && earlier == scope
                         ? earlierName + " is given twice"
                         : "it would undo " + earlierName + " given before it";
            return false;
        }
        return true;
    }

    CardModel& m_card;
    ChannelCount m_channels;
    std::array<std::array<Given, Keys.size()>, 2> m_given{};
    std::array<bool, Keys.size()> m_cardGiven{};
};

bool applySettings(std::string_view settings, CardModel& card, ChannelCount channels,
                   std::string& error) {
    CardModel changed = card;
    SettingsReader reader(changed, channels);
    for (std::string_view pair : splitPairs(settings)) {
        if (pair.empty()) {
            error = "virtual card settings '" + std::string(settings) +
                    "': an empty setting (a stray comma)";
            return false;
        }
        if (!reader.apply(pair, error))
            return false;
    }
    // Each pair was checked alone; this catches a model that was invalid before.
    if (!changed.valid()) {
        error = "virtual card settings '" + std::string(settings) + "': not a valid device";
        return false;
    }
    card = changed;
    return true;
}

// A channel's device as the values of its keys, in the order of Keys.
using ChannelValues = std::array<std::string, WireKey>;

ChannelValues valuesOf(const DeviceModel& model) {
    const auto corner = [](FilterCorner c) {
        return c.order == 0 ? "off" : formatNumber(c.frequencyHz) + "/" + std::to_string(c.order);
    };
    const std::string hum =
        model.humDb == Off ? "off" : formatNumber(model.humHz) + "/" + formatNumber(model.humDb);
    return {formatNumber(model.gainDb),
            corner(model.highPass),
            corner(model.lowPass),
            formatLevel(model.noiseDb - SineRmsDb),
            hum,
            formatLevel(model.secondHarmonicDb),
            formatLevel(model.thirdHarmonicDb),
            std::to_string(model.latencyFrames)};
}

std::string pairsOf(const ChannelValues& values) {
    std::string pairs;
    for (std::size_t k = 0; k < values.size(); ++k)
        pairs += (k == 0 ? "" : ",") + std::string(Keys[k].name) + "=" + values[k];
    return pairs;
}

// ",PREFIXkey=value" for each key where `values` differ from `base`.
std::string differences(const ChannelValues& base, const ChannelValues& values,
                        std::string_view prefix) {
    std::string pairs;
    for (std::size_t k = 0; k < values.size(); ++k)
        if (values[k] != base[k])
            pairs += "," + std::string(prefix) + std::string(Keys[k].name) + "=" + values[k];
    return pairs;
}

// What makes one channel `channel` after pairs without a prefix set both to
// `base`: its differing keys, or a wire and what differs from that,
// whichever is shorter.
std::string refinement(const ChannelValues& base, const DeviceModel& channel,
                       std::string_view prefix) {
    const ChannelValues values = valuesOf(channel);
    std::string keys = differences(base, values, prefix);
    std::string wire = "," + std::string(prefix) + "wire=on" +
                       differences(valuesOf(wired(channel)), values, prefix);
    return wire.size() < keys.size() ? wire : keys;
}

} // namespace

bool ApplyVirtualCardSettings(std::string_view settings, CardModel& card, std::string& error) {
    return applySettings(settings, card, ChannelCount::Two, error);
}

bool ApplyVirtualCardSettings(std::string_view settings, DeviceModel& model, std::string& error) {
    CardModel card(model);
    if (!applySettings(settings, card, ChannelCount::One, error))
        return false;
    model = card.left;
    return true;
}

std::string DescribeVirtualCard(const CardModel& card) {
    const ChannelValues left = valuesOf(card.left);
    const ChannelValues right = valuesOf(card.right);
    const std::string fromLeft = pairsOf(left) + refinement(left, card.right, ChannelPrefixes[1]);
    const std::string fromRight = pairsOf(right) + refinement(right, card.left, ChannelPrefixes[0]);
    const auto fault = [](const char* key, double seconds) {
        return seconds < 0.0 ? std::string() : "," + std::string(key) + "=" + formatNumber(seconds);
    };
    const DeviceModel& wide = card.left;
    return (fromRight.size() < fromLeft.size() ? fromRight : fromLeft) +
           (card.crosstalkDb == Off ? std::string()
                                    : ",crosstalk=" + formatLevel(card.crosstalkDb)) +
           (card.driftPpm == 0.0 ? std::string() : ",drift=" + formatNumber(card.driftPpm)) +
           fault("die-after", wide.streamsDieAfterSeconds) +
           fault("overflow-after", wide.inputOverflowsAfterSeconds) +
           (wide.inputStartDelaySeconds > 0.0 ? fault("start-delay", wide.inputStartDelaySeconds)
                                              : std::string());
}
