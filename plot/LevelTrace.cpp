#include "plot/LevelTrace.h"

#include "plot/PlotGeometry.h"

LevelTrace::LevelTrace(COLORREF color) : m_color(color) {
    m_pen.CreatePen(PS_SOLID, 1, color);
}

void LevelTrace::Draw(CDC* pDC, const CRect& rect) {
    if (m_points.empty() || rect.right < 1 || rect.bottom < 1)
        return;
    const auto x = [&](const LevelPoint& p) {
        return TruncToInt(FreqToX(p.frequencyHz, rect.right));
    };
    const auto y = [&](const LevelPoint& p) { return DbToY(p.levelDb, rect.bottom); };
    if (m_points.size() == 1) {
        pDC->SetPixel(x(m_points[0]), y(m_points[0]), m_color);
        return;
    }
    CPen* previousPen = pDC->SelectObject(&m_pen);
    pDC->MoveTo(x(m_points[0]), y(m_points[0]));
    for (std::size_t i = 1; i < m_points.size(); ++i)
        pDC->LineTo(x(m_points[i]), y(m_points[i]));
    pDC->SelectObject(previousPen);
}
