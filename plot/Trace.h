// The stored frequency-response trace: up to 100 points in spectrum-view
// pixels, gathered by the sweep and drawn over the spectrum in yellow.
#pragma once

#include "plot/Surface.h"

#include <array>

struct TracePoint {
    double x;
    double y;
};

class CAFC {
  public:
    static constexpr int MaxPoints = 100;

    CAFC();

    // 1 stored; 0 when the trace is full, leaving it unchanged.
    int AddPoint(double x, double y);
    // Nothing when empty, a single pixel for one point, lines through all of
    // them otherwise. Coordinates are truncated toward zero.
    void Draw(CDC* pDC);
    void Clear() { m_count = -1; }

    // Index of the last stored point: -1 when empty, count() + 1 points held.
    int count() const { return m_count; }
    // A stored point, 0 <= i <= count(); point 0 is the first added.
    TracePoint point(int i) const { return m_points[i]; }

  private:
    int m_count = -1;
    std::array<TracePoint, MaxPoints> m_points{};
    CPen m_pen;
    COLORREF m_color = RGB(255, 255, 0);
};
