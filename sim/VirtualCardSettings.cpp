#include "sim/VirtualCardSettings.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <numbers>
#include <optional>
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

struct Key {
    std::string_view name;
    bool (*apply)(std::string_view value, DeviceModel& model, std::string& reason);
};

// In the order that DescribeVirtualCard writes them.
constexpr std::array<Key, 11> Keys{{
    {"gain", applyGain},
    {"highpass", applyHighPass},
    {"lowpass", applyLowPass},
    {"noise", applyNoise},
    {"hum", applyHum},
    {"h2", applySecondHarmonic},
    {"h3", applyThirdHarmonic},
    {"latency", applyLatency},
    {"die-after", applyDeath},
    {"overflow-after", applyOverflow},
    {"start-delay", applyStartDelay},
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

const Key* findKey(std::string_view name) {
    const auto key =
        std::find_if(Keys.begin(), Keys.end(), [name](const Key& k) { return k.name == name; });
    return key == Keys.end() ? nullptr : &*key;
}

bool applyPair(std::string_view pair, DeviceModel& model, std::array<bool, Keys.size()>& given,
               std::string& error) {
    const std::optional<Split> keyValue = splitAt(pair, '=');
    if (!keyValue)
        return refusePair(pair, "expected key=value", error);
    const Key* key = findKey(keyValue->first);
    if (!key)
        return refusePair(pair, "unknown key; the keys are " + knownKeys(), error);
    bool& alreadyGiven = given[key - Keys.data()];
    if (alreadyGiven)
        return refusePair(pair, std::string(key->name) + " is given twice", error);
    alreadyGiven = true;
    std::string reason;
    if (!key->apply(keyValue->second, model, reason))
        return refusePair(pair, reason, error);
    return true;
}

} // namespace

bool ApplyVirtualCardSettings(std::string_view settings, DeviceModel& model, std::string& error) {
    DeviceModel changed = model;
    std::array<bool, Keys.size()> given{};
    for (std::string_view pair : splitPairs(settings)) {
        if (pair.empty()) {
            error = "virtual card settings '" + std::string(settings) +
                    "': an empty setting (a stray comma)";
            return false;
        }
        if (!applyPair(pair, changed, given, error))
            return false;
    }
    // Each pair was checked alone; this catches a model that was invalid before.
    if (!changed.valid()) {
        error = "virtual card settings '" + std::string(settings) + "': not a valid device";
        return false;
    }
    model = changed;
    return true;
}

std::string DescribeVirtualCard(const DeviceModel& model) {
    const auto corner = [](FilterCorner c) {
        return c.order == 0 ? "off" : formatNumber(c.frequencyHz) + "/" + std::to_string(c.order);
    };
    const std::string hum =
        model.humDb == Off ? "off" : formatNumber(model.humHz) + "/" + formatNumber(model.humDb);
    const auto fault = [](const char* key, double seconds) {
        return seconds < 0.0 ? std::string() : "," + std::string(key) + "=" + formatNumber(seconds);
    };
    return "gain=" + formatNumber(model.gainDb) + ",highpass=" + corner(model.highPass) +
           ",lowpass=" + corner(model.lowPass) +
           ",noise=" + formatLevel(model.noiseDb - SineRmsDb) + ",hum=" + hum +
           ",h2=" + formatLevel(model.secondHarmonicDb) +
           ",h3=" + formatLevel(model.thirdHarmonicDb) +
           ",latency=" + std::to_string(model.latencyFrames) +
           fault("die-after", model.streamsDieAfterSeconds) +
           fault("overflow-after", model.inputOverflowsAfterSeconds) +
           (model.inputStartDelaySeconds > 0.0 ? fault("start-delay", model.inputStartDelaySeconds)
                                               : std::string());
}
