#include "measure/ResultCsv.h"

#include "dsp/FFT.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <system_error>
#include <utility>

const char* const ResponseHeader = "frequency_hz,level_db,peak_db,window_gain_db,blocks";
const char* const SpectrumHeader = "frequency_hz,level_db";

namespace {

constexpr std::array<const char*, 5> ResponseColumns = {"frequency_hz", "level_db", "peak_db",
                                                        "window_gain_db", "blocks"};
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

std::string ReadResponseRow(std::string_view line, ResponsePoint& point) {
    const auto commas = static_cast<std::size_t>(std::count(line.begin(), line.end(), ','));
    if (commas + 1 != ResponseColumns.size())
        return "expected " + NumberText(ResponseColumns.size()) + " fields, found " +
               NumberText(commas + 1);

    std::array<std::string_view, ResponseColumns.size()> fields;
    for (std::string_view& field : fields) {
        const std::size_t comma = std::min(line.find(','), line.size());
        field = TrimBlanks(line.substr(0, comma));
        line.remove_prefix(std::min(comma + 1, line.size()));
    }

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

bool RefuseLine(std::string& error, std::size_t lineNumber, std::string_view problem) {
    error = "line " + NumberText(lineNumber) + ": " + std::string(problem);
    return false;
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
    if (text.starts_with(ByteOrderMark))
        text.remove_prefix(ByteOrderMark.size());

    std::vector<ResponsePoint> read;
    bool headerSeen = false;
    std::size_t lineNumber = 0;
    while (!text.empty()) {
        const std::string_view line = TrimBlanks(TakeLine(text));
        ++lineNumber;
        if (line.empty())
            continue;
        if (!headerSeen) {
            if (line.front() == '#')
                continue;
            if (line != ResponseHeader)
                return RefuseLine(error, lineNumber,
                                  std::string("the header must be ") + ResponseHeader);
            headerSeen = true;
            continue;
        }
        ResponsePoint point{};
        if (std::string problem = ReadResponseRow(line, point); !problem.empty())
            return RefuseLine(error, lineNumber, problem);
        // Drawing and summarising walk the points in order of frequency.
        if (!read.empty() && point.frequencyHz <= read.back().frequencyHz)
            return RefuseLine(error, lineNumber,
                              "frequency_hz must rise from row to row, found " +
                                  NumberText(point.frequencyHz) + " after " +
                                  NumberText(read.back().frequencyHz));
        read.push_back(point);
    }
    if (read.empty()) {
        error = "no points";
        return false;
    }
    points = std::move(read);
    error.clear();
    return true;
}
