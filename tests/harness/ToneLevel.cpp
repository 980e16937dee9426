#include "tests/harness/ToneLevel.h"

#include "dsp/FFT.h"

#include <charconv>
#include <sstream>
#include <vector>

namespace {

constexpr int BlockSize = 8192;
constexpr double SampleRate = 44100;

// The level column of every row after the header, in bin order.
std::vector<double> BinLevels(const std::string& csv) {
    std::vector<double> levels;
    std::istringstream lines(csv);
    bool headerSeen = false;
    for (std::string row; std::getline(lines, row);) {
        if (!headerSeen) {
            headerSeen = row.starts_with("frequency_hz,");
            continue;
        }
        const std::size_t comma = row.find(',');
        double level = NAN;
        if (comma != std::string::npos)
            std::from_chars(row.data() + comma + 1, row.data() + row.size(), level);
        levels.push_back(level);
    }
    return levels;
}

} // namespace

double ToneLevelDb(const std::string& csv, double toneHz) {
    const std::vector<double> levels = BinLevels(csv);
    const double position = toneHz * BlockSize / SampleRate;
    const auto bin = static_cast<std::size_t>(std::lround(position));
    if (bin >= levels.size())
        return NAN;
    CFFT fft;
    fft.InitWindow(13, CFFT::QuasiChebyshev);
    return levels[bin] - fft.WindowGainDb(position - static_cast<double>(bin));
}
