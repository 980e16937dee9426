#include "plot/Trace.h"

#include "plot/PlotGeometry.h"

CAFC::CAFC() {
    m_pen.CreatePen(PS_SOLID, 1, m_color);
}

int CAFC::AddPoint(double x, double y) {
    if (m_count > MaxPoints - 2)
        return 0;
    ++m_count;
    m_points[m_count] = {x, y};
    return 1;
}

void CAFC::Draw(CDC* pDC) {
    if (m_count < 0)
        return;
    const TracePoint& first = m_points[0];
    if (m_count == 0) {
        pDC->SetPixel(TruncToInt(first.x), TruncToInt(first.y), m_color);
        return;
    }
    CPen* previousPen = pDC->SelectObject(&m_pen);
    pDC->MoveTo(TruncToInt(first.x), TruncToInt(first.y));
    for (int i = 1; i <= m_count; ++i)
        pDC->LineTo(TruncToInt(m_points[i].x), TruncToInt(m_points[i].y));
    pDC->SelectObject(previousPen);
}
