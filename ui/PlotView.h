// A black-rectangle view of the instrument window: it owns a pixel surface
// the size of its client area, the drawing routines draw into it through its
// device context, and the widget only shows it. The pixels stay as drawn
// until someone erases them, so curves can pile up from block to block.
#pragma once

#include "plot/Surface.h"

#include <QImage>
#include <QWidget>

class PlotView : public QWidget {
    Q_OBJECT

  public:
    // The surface is made at once, so the view can be drawn before it is shown.
    PlotView(QWidget* parent, const QRect& geometry);

    CDC* dc() { return &m_dc; }
    // The client rectangle less one at right and bottom, as every drawing
    // routine takes it: (0, 0) to (width - 1, height - 1).
    CRect viewRect() const { return {0, 0, m_surface.width() - 1, m_surface.height() - 1}; }
    // Paints the whole view black.
    void Erase();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    // Reallocates (black) only when the size changes.
    void FitSurface(QSize size);

    PixelSurface m_surface;
    CDC m_dc{m_surface};
    QImage m_image; // shares the surface's pixels
};
