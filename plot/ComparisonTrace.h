// A saved response drawn over the spectrum for comparison, in a colour of its
// own. Its points are levels at frequencies, placed with the view's own
// mappings whenever it is drawn, so the trace fits the view at any size.
#pragma once

#include "measure/ResponsePoint.h"
#include "plot/Surface.h"

#include <vector>

class ComparisonTrace {
  public:
    static constexpr COLORREF Color = RGB(0, 255, 255);

    ComparisonTrace();

    void Load(std::vector<ResponsePoint> points) { m_points = std::move(points); }
    void Clear() { m_points.clear(); }
    bool empty() const { return m_points.empty(); }

    // As the stored trace draws: a pixel for one point, lines through more.
    void Draw(CDC* pDC, const CRect& rect);

  private:
    std::vector<ResponsePoint> m_points;
    CPen m_pen;
};
