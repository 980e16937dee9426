#include "measure/ResultCsv.h"

#include "dsp/FFT.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <system_error>
#include <utility>

const char* const ResponseHeader = "frequency_hz,level_db,peak_db,window_gain_db,blocks";
const char* const SpectrumHeader = "frequency_hz,level_db";
const char* const ImpulseHeader = "time_s,amplitude";
const char* const SweptSineHeader = "frequency_hz,gain_db,phase_deg,h2_db,h3_db,h4_db,h5_db,thd_db";

namespace {

constexpr std::array<const char*, 5> ResponseColumns = {"frequency_hz", "level_db", "peak_db",
                                                        "window_gain_db", "blocks"};
constexpr std::array<const char*, 8> SweptSineColumns = {
    "frequency_hz", "gain_db", "phase_deg", "h2_db", "h3_db", "h4_db", "h5_db", "thd_db"};
constexpr std::string_view LatencyKey = "latency_samples";
// An error quotes at most this much of a bad field, so that a garbled file
// cannot produce a message the size of a line.
constexpr std::size_t QuotedFieldLimit = 40;
constexpr std::string_view ByteOrderMark = "\xEF\xBB\xBF";

// to_chars is locale-independent and, without a precision, writes the
// shortest text that reads back as the same value.
template <typename Number> void AppendNumber(std::string& out, Number value) {
    std::array<char, 32> buffer;
    const auto end = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value).ptr;
    out.append(buffer.data(), end);
}

template <typename Number> std::string NumberText(Number value) {
    std::string text;
    AppendNumber(text, value);
    return text;
}

void AppendTwoDigits(std::string& out, long value) {
    out += static_cast<char>('0' + value / 10 % 10);
    out += static_cast<char>('0' + value % 10);
}

void AppendUtcOffset(std::string& out, long offsetSeconds) {
    out += offsetSeconds < 0 ? '-' : '+';
    const long minutes = std::labs(offsetSeconds) / 60;
    AppendTwoDigits(out, minutes / 60);
    out += ':';
    AppendTwoDigits(out, minutes % 60);
}

std::string SingleLine(std::string_view value) {
    std::string line(value);
    std::replace_if(
        line.begin(), line.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
    return line;
}

void AppendComment(std::string& out, std::string_view key, std::string_view value) {
    out += "# ";
    out += key;
    out += ": ";
    out += SingleLine(value);
    out += '\n';
}

void AppendResponseRow(std::string& out, const ResponsePoint& point) {
    AppendNumber(out, point.frequencyHz);
    out += ',';
    AppendNumber(out, point.levelDb);
    out += ',';
    AppendNumber(out, point.peakDb);
    out += ',';
    AppendNumber(out, point.windowGainDb);
    out += ',';
    AppendNumber(out, point.blocks);
    out += '\n';
}

void AppendOptional(std::string& out, const std::optional<double>& value) {
    out += ',';
    if (value)
        AppendNumber(out, *value);
}

void AppendSweptSineRow(std::string& out, const SweepResponsePoint& point) {
    AppendNumber(out, point.frequencyHz);
    out += ',';
    AppendNumber(out, point.gainDb);
    out += ',';
    AppendNumber(out, point.phaseDeg);
    for (const std::optional<double>& harmonic : point.harmonicsDb)
        AppendOptional(out, harmonic);
    AppendOptional(out, point.thdDb);
    out += '\n';
}

void AppendSpectrumRow(std::string& out, double frequencyHz, double levelDb) {
    AppendNumber(out, frequencyHz);
    out += ',';
    AppendNumber(out, levelDb);
    out += '\n';
}

// Removes and returns the text up to the next '\n' (which is dropped).
std::string_view TakeLine(std::string_view& rest) {
    const std::size_t end = rest.find('\n');
    const std::string_view line = rest.substr(0, end);
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    return line;
}

// Also drops the '\r' of a CRLF line end.
std::string_view TrimBlanks(std::string_view text) {
    constexpr std::string_view Blanks = " \t\r";
    const std::size_t first = text.find_first_not_of(Blanks);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(Blanks) - first + 1);
}

std::string Quoted(std::string_view field) {
    if (field.size() <= QuotedFieldLimit)
        return "'" + std::string(field) + "'";
    return "'" + std::string(field.substr(0, QuotedFieldLimit)) + "...'";
}

// Each returns what is wrong with the field, or nothing.
std::string ReadFinite(std::string_view field, std::string_view column, double& value) {
    double parsed = 0;
    const auto [end, status] = std::from_chars(field.data(), field.data() + field.size(), parsed);
    if (status == std::errc::result_out_of_range)
        return Quoted(field) + " is out of range";
    if (status != std::errc{} || end != field.data() + field.size())
        return Quoted(field) + " is not a number";
    if (!std::isfinite(parsed))
        return std::string(column) + " must be finite, found " + Quoted(field);
    value = parsed;
    return {};
}

std::string ReadBlocks(std::string_view field, int& blocks) {
    int parsed = 0;
    const auto [end, status] = std::from_chars(field.data(), field.data() + field.size(), parsed);
    if (status != std::errc{} || end != field.data() + field.size() || parsed < 0)
        return "blocks must be a whole number of 0 or more, found " + Quoted(field);
    blocks = parsed;
    return {};
}

// Splits a row at its commas, each field without its blanks; says what is
// wrong when it has another number of fields.
template <std::size_t Count>
std::string SplitRow(std::string_view line, std::array<std::string_view, Count>& fields) {
    const auto commas = static_cast<std::size_t>(std::count(line.begin(), line.end(), ','));
    if (commas + 1 != Count)
        return "expected " + NumberText(Count) + " fields, found " + NumberText(commas + 1);
    for (std::string_view& field : fields) {
        const std::size_t comma = std::min(line.find(','), line.size());
        field = TrimBlanks(line.substr(0, comma));
        line.remove_prefix(std::min(comma + 1, line.size()));
    }
    return {};
}

std::string ReadFrequency(std::string_view field, double& frequencyHz) {
    if (std::string problem = ReadFinite(field, "frequency_hz", frequencyHz); !problem.empty())
        return problem;
    if (frequencyHz <= 0)
        return "frequency_hz must be above 0, found " + Quoted(field);
    return {};
}

std::string ReadResponseRow(std::string_view line, ResponsePoint& point) {
    std::array<std::string_view, ResponseColumns.size()> fields;
    if (std::string problem = SplitRow(line, fields); !problem.empty())
        return problem;
    const std::array<double*, 4> values = {&point.frequencyHz, &point.levelDb, &point.peakDb,
                                           &point.windowGainDb};
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (std::string problem = ReadFinite(fields[i], ResponseColumns[i], *values[i]);
            !problem.empty())
            return problem;
    }
    if (point.frequencyHz <= 0)
        return "frequency_hz must be above 0, found " + Quoted(fields[0]);
    return ReadBlocks(fields[4], point.blocks);
}

std::string ReadSweptSineRow(std::string_view line, SweepResponsePoint& point) {
    std::array<std::string_view, SweptSineColumns.size()> fields;
    if (std::string problem = SplitRow(line, fields); !problem.empty())
        return problem;
    if (std::string problem = ReadFrequency(fields[0], point.frequencyHz); !problem.empty())
        return problem;
    if (std::string problem = ReadFinite(fields[1], SweptSineColumns[1], point.gainDb);
        !problem.empty())
        return problem;
    if (std::string problem = ReadFinite(fields[2], SweptSineColumns[2], point.phaseDeg);
        !problem.empty())
        return problem;
    std::array<std::optional<double>*, 5> optional = {&point.harmonicsDb[0], &point.harmonicsDb[1],
                                                      &point.harmonicsDb[2], &point.harmonicsDb[3],
                                                      &point.thdDb};
    for (std::size_t i = 0; i < optional.size(); ++i) {
        const std::size_t column = 3 + i;
        if (fields[column].empty())
            continue;
        double value = 0;
        if (std::string problem = ReadFinite(fields[column], SweptSineColumns[column], value);
            !problem.empty())
            return problem;
        *optional[i] = value;
    }
    return {};
}

// The value of a "# key: value" comment, or nothing when the line is not one.
std::optional<std::string_view> CommentValue(std::string_view comment, std::string_view key) {
    comment = TrimBlanks(comment.substr(1));
    if (!comment.starts_with(key) || comment.substr(key.size()).find(':') != 0)
        return std::nullopt;
    return TrimBlanks(comment.substr(key.size() + 1));
}

bool RefuseLine(std::string& error, std::size_t lineNumber, std::string_view problem) {
    error = "line " + NumberText(lineNumber) + ": " + std::string(problem);
    return false;
}

// Reads either kind of response file; `sweptSineAccepted` false reads only
// the stepped sweep's.
bool ReadResponseText(std::string_view text, bool sweptSineAccepted, SavedResponse& response,
                      std::string& error) {
    if (text.starts_with(ByteOrderMark))
        text.remove_prefix(ByteOrderMark.size());

    SavedResponse read;
    std::optional<SavedResponse::Kind> kind;
    std::size_t lineNumber = 0;
    std::optional<double> previous; // the last row's frequency
    while (!text.empty()) {
        const std::string_view line = TrimBlanks(TakeLine(text));
        ++lineNumber;
        if (line.empty())
            continue;
        if (!kind) {
            if (line.front() == '#') {
                const auto latency = CommentValue(line, LatencyKey);
                if (!latency)
                    continue;
                double value = 0;
                if (std::string problem = ReadFinite(*latency, LatencyKey, value); !problem.empty())
                    return RefuseLine(error, lineNumber, problem);
                read.latencySamples = value;
                continue;
            }
            if (line == ResponseHeader)
                kind = SavedResponse::Kind::SteppedSweep;
            else if (sweptSineAccepted && line == SweptSineHeader)
                kind = SavedResponse::Kind::SweptSine;
            else
                return RefuseLine(error, lineNumber,
                                  std::string("the header must be ") + ResponseHeader +
                                      (sweptSineAccepted ? std::string(" or ") + SweptSineHeader
                                                         : std::string()));
            continue;
        }
        double frequency = 0;
        if (*kind == SavedResponse::Kind::SteppedSweep) {
            ResponsePoint point{};
            if (std::string problem = ReadResponseRow(line, point); !problem.empty())
                return RefuseLine(error, lineNumber, problem);
            read.stepped.push_back(point);
            frequency = point.frequencyHz;
        } else {
            SweepResponsePoint point{};
            if (std::string problem = ReadSweptSineRow(line, point); !problem.empty())
                return RefuseLine(error, lineNumber, problem);
            read.swept.push_back(point);
            frequency = point.frequencyHz;
        }
        // Drawing and summarising walk the points in order of frequency.
        if (previous && frequency <= *previous)
            return RefuseLine(error, lineNumber,
                              "frequency_hz must rise from row to row, found " +
                                  NumberText(frequency) + " after " + NumberText(*previous));
        previous = frequency;
    }
    if (!previous) {
        error = "no points";
        return false;
    }
    read.kind = *kind;
    response = std::move(read);
    error.clear();
    return true;
}

} // namespace

const char* WindowName(int windowType) {
    return windowType == CFFT::Rectangle ? "rectangle" : "quasi-chebyshev";
}

const char* LevelName(int level) {
    constexpr const char* names[] = {"0 dB", "-20 dB", "off"};
    return level >= 0 && level <= 2 ? names[level] : "off";
}

std::string IsoDateTime(std::chrono::system_clock::time_point when) {
    const std::time_t time = std::chrono::system_clock::to_time_t(when);
    std::tm local{};
    if (!localtime_r(&time, &local))
        return {};
    std::array<char, 48> buffer;
    const std::size_t length =
        std::strftime(buffer.data(), buffer.size(), "%Y-%m-%dT%H:%M:%S", &local);
    std::string text(buffer.data(), length);
    AppendUtcOffset(text, local.tm_gmtoff);
    return text;
}

std::string ResultComments(const RunInfo& info) {
    std::string comments =
        "# tembrix " + SingleLine(info.version) + " " + SingleLine(info.measurement) + "\n";
    AppendComment(comments, "date", info.dateTime);
    AppendComment(comments, "audio", info.audio);
    AppendComment(comments, "input", info.inputDevice);
    AppendComment(comments, "output", info.outputDevice);
    AppendComment(comments, "level", info.level);
    if (!info.window.empty())
        AppendComment(comments, "window", info.window);
    if (info.toneHz > 0)
        AppendComment(comments, "tone_hz", NumberText(info.toneHz));
    if (info.blocks > 0)
        AppendComment(comments, "blocks", NumberText(info.blocks));
    AppendComment(comments, "sample_rate_hz", NumberText(info.sampleRateHz));
    AppendComment(comments, "block_size", NumberText(info.blockSize));
    return comments;
}

std::string ResponseRow(const ResponsePoint& point) {
    std::string row;
    AppendResponseRow(row, point);
    return row;
}

std::string SpectrumRow(double frequencyHz, double levelDb) {
    std::string row;
    AppendSpectrumRow(row, frequencyHz, levelDb);
    return row;
}

const char* ChannelName(int channel) {
    return channel == 0 ? "left" : "right";
}

std::string ChannelHeader(std::string_view header) {
    return "channel," + std::string(header);
}

std::string ChannelRows(std::string_view rows, std::string_view channel) {
    std::string led;
    for (std::size_t from = 0; from < rows.size();) {
        const std::size_t end = std::min(rows.find('\n', from), rows.size() - 1);
        led.append(channel);
        led += ',';
        led.append(rows.substr(from, end + 1 - from));
        from = end + 1;
    }
    return led;
}

std::string ResponseCsv(const RunInfo& info, std::span<const ResponsePoint> points) {
    std::string csv = ResultComments(info) + ResponseHeader + "\n";
    for (const ResponsePoint& point : points)
        AppendResponseRow(csv, point);
    return csv;
}

std::string SpectrumCsv(const RunInfo& info, std::span<const double> levelsDb, double binWidthHz) {
    std::string csv = ResultComments(info) + SpectrumHeader + "\n";
    for (std::size_t k = 0; k < levelsDb.size(); ++k)
        AppendSpectrumRow(csv, static_cast<double>(k) * binWidthHz, levelsDb[k]);
    return csv;
}

bool ParseResponseCsv(std::string_view text, std::vector<ResponsePoint>& points,
                      std::string& error) {
    SavedResponse response;
    if (!ReadResponseText(text, false, response, error))
        return false;
    points = std::move(response.stepped);
    return true;
}

bool ParseSavedResponse(std::string_view text, SavedResponse& response, std::string& error) {
    return ReadResponseText(text, true, response, error);
}

std::string SweptSineComments(const RunInfo& info, const SweptSineRun& sweep) {
    std::string comments = ResultComments(info);
    AppendComment(comments, LatencyKey, NumberText(sweep.latencySamples));
    AppendComment(comments, "sweep_start_hz", NumberText(sweep.startHz));
    AppendComment(comments, "sweep_end_hz", NumberText(sweep.endHz));
    AppendComment(comments, "sweep_length_s", NumberText(sweep.lengthSeconds));
    AppendComment(comments, "sweep_level_dbfs", NumberText(sweep.levelDbfs));
    AppendComment(comments, "sweeps", NumberText(sweep.sweeps));
    std::string latencies;
    for (double latency : sweep.recordingLatencySamples) {
        if (!latencies.empty())
            latencies += ' ';
        AppendNumber(latencies, latency);
    }
    AppendComment(comments, "recording_latency_samples", latencies);
    return comments;
}

std::string SweptSineRow(const SweepResponsePoint& point) {
    std::string row;
    AppendSweptSineRow(row, point);
    return row;
}

std::string SweptSineRows(std::span<const SweepResponsePoint> points) {
    std::string rows;
    for (const SweepResponsePoint& point : points)
        AppendSweptSineRow(rows, point);
    return rows;
}

std::string SweptSineCsv(const RunInfo& info, const SweptSineRun& sweep,
                         std::span<const SweepResponsePoint> points) {
    return SweptSineComments(info, sweep) + SweptSineHeader + "\n" + SweptSineRows(points);
}

std::string ImpulseRows(double sampleRateHz, long long start, std::span<const double> impulse) {
    std::string rows;
    for (std::size_t i = 0; i < impulse.size(); ++i) {
        AppendNumber(rows, static_cast<double>(start + static_cast<long long>(i)) / sampleRateHz);
        rows += ',';
        AppendNumber(rows, impulse[i]);
        rows += '\n';
    }
    return rows;
}

std::string ImpulseCsv(const RunInfo& info, const SweptSineRun& sweep, long long start,
                       std::span<const double> impulse) {
    return SweptSineComments(info, sweep) + ImpulseHeader + "\n" +
           ImpulseRows(info.sampleRateHz, start, impulse);
}

std::string CommentLine(std::string_view key, std::string_view value) {
    std::string line;
    AppendComment(line, key, value);
    return line;
}

std::string CommentLine(std::string_view key, double value) {
    return CommentLine(key, NumberText(value));
}
