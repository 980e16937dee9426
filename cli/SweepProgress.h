// A sweep's progress on standard error: on a terminal one line that is
// rewritten (a bar, points done, the frequency, the time left); otherwise a
// line per point; nothing when quiet.
#pragma once

#include <chrono>
#include <cstdio>

struct ResponsePoint;

namespace cli {

class SweepProgress {
  public:
    enum class Style { Bar, Lines, Quiet };
    static Style StyleFor(std::FILE* stream, bool quiet);

    SweepProgress(Style style, int totalPoints);

    void PointMeasured(const ResponsePoint& point, int pointsDone);
    // A line of its own, below the bar.
    void Say(const char* line);
    // Ends the bar's line, so that what follows starts on a line of its own.
    void Finish();

  private:
    Style m_style;
    int m_total;
    bool m_barShown = false;
    std::chrono::steady_clock::time_point m_started;
};

} // namespace cli
