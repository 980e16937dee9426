#include "cli/SweepProgress.h"

#include "measure/ResponsePoint.h"

#include <string>
#include <unistd.h>

namespace cli {
namespace {
constexpr int BarWidth = 30;
}

SweepProgress::Style SweepProgress::StyleFor(std::FILE* stream, bool quiet) {
    if (quiet)
        return Style::Quiet;
    // Standard error's stream may be a filter in front of descriptor 2 (see
    // SetVerboseAudioLibraries), with no descriptor of its own.
    const int descriptor = stream == stderr ? STDERR_FILENO : fileno(stream);
    return isatty(descriptor) ? Style::Bar : Style::Lines;
}

SweepProgress::SweepProgress(Style style, int totalPoints)
    : m_style(style), m_total(totalPoints), m_started(std::chrono::steady_clock::now()) {}

void SweepProgress::PointMeasured(const ResponsePoint& point, int pointsDone) {
    if (m_style == Style::Quiet)
        return;
    if (m_style == Style::Lines) {
        std::fprintf(stderr, "point %d/%d: %.6g Hz, %.2f dB\n", pointsDone, m_total,
                     point.frequencyHz, point.levelDb);
        return;
    }
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - m_started).count();
    const int secondsLeft = static_cast<int>(elapsed / pointsDone * (m_total - pointsDone) + 0.5);
    const int filled = BarWidth * pointsDone / m_total;
    const std::string bar = std::string(filled, '#') + std::string(BarWidth - filled, '-');
    std::fprintf(stderr, "\r[%s] %2d/%d  %8.6g Hz  %d:%02d left ", bar.c_str(), pointsDone, m_total,
                 point.frequencyHz, secondsLeft / 60, secondsLeft % 60);
    std::fflush(stderr);
    m_barShown = true;
}

void SweepProgress::Say(const char* line) {
    Finish();
    std::fprintf(stderr, "%s\n", line);
}

void SweepProgress::Finish() {
    if (m_barShown)
        std::fputc('\n', stderr);
    m_barShown = false;
}

} // namespace cli
