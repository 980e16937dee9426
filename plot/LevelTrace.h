// A response drawn over the spectrum in a colour of its own: levels at
// frequencies, placed with the view's own mappings whenever it is drawn, so
// the trace fits the view at any size. The window draws a compared response
// in one and its fast response in another.
#pragma once

#include "plot/Surface.h"

#include <vector>

// Neither the sweep's yellow nor each other.
constexpr COLORREF ComparisonColor = RGB(0, 255, 255);
constexpr COLORREF FastResponseColor = RGB(255, 255, 255);

struct LevelPoint {
    double frequencyHz;
    double levelDb; // re a full-scale sine, as the spectrum
};

class LevelTrace {
  public:
    explicit LevelTrace(COLORREF color);

    void Load(std::vector<LevelPoint> points) { m_points = std::move(points); }
    void Clear() { m_points.clear(); }
    bool empty() const { return m_points.empty(); }

    // As the stored trace draws: a pixel for one point, lines through more.
    void Draw(CDC* pDC, const CRect& rect);

  private:
    COLORREF m_color;
    std::vector<LevelPoint> m_points;
    CPen m_pen;
};
