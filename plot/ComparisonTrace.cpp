#include "plot/ComparisonTrace.h"

#include "plot/PlotGeometry.h"

ComparisonTrace::ComparisonTrace() {
    m_pen.CreatePen(PS_SOLID, 1, Color);
}

void ComparisonTrace::Draw(CDC* pDC, const CRect& rect) {
    if (m_points.empty() || rect.right < 1 || rect.bottom < 1)
        return;
    const auto x = [&](const ResponsePoint& p) {
        return TruncToInt(FreqToX(p.frequencyHz, rect.right));
    };
    const auto y = [&](const ResponsePoint& p) { return DbToY(p.levelDb, rect.bottom); };
    if (m_points.size() == 1) {
        pDC->SetPixel(x(m_points[0]), y(m_points[0]), Color);
        return;
    }
    CPen* previousPen = pDC->SelectObject(&m_pen);
    pDC->MoveTo(x(m_points[0]), y(m_points[0]));
    for (std::size_t i = 1; i < m_points.size(); ++i)
        pDC->LineTo(x(m_points[i]), y(m_points[i]));
    pDC->SelectObject(previousPen);
}
