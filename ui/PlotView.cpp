#include "ui/PlotView.h"

#include <QPainter>
#include <QResizeEvent>

PlotView::PlotView(QWidget* parent, const QRect& geometry) : QWidget(parent) {
    // The surface covers every pixel: nothing behind it needs painting.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setGeometry(geometry);
    FitSurface(geometry.size());
}

void PlotView::Erase() {
    m_dc.FillSolidRect({0, 0, m_surface.width(), m_surface.height()}, RGB(0, 0, 0));
}

void PlotView::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter.drawImage(event->rect(), m_image, event->rect());
}

void PlotView::resizeEvent(QResizeEvent* event) {
    FitSurface(event->size());
}

void PlotView::FitSurface(QSize size) {
    if (size.width() == m_surface.width() && size.height() == m_surface.height())
        return;
    m_surface.Resize(size.width(), size.height());
    m_image = QImage(reinterpret_cast<const uchar*>(m_surface.bits()), m_surface.width(),
                     m_surface.height(), m_surface.bytesPerLine(), QImage::Format_RGB32);
}
