// Dialog units to pixels, as the dialog manager converts a template: a
// horizontal unit is a quarter of the dialog font's average character width,
// a vertical unit an eighth of its height. Everything in a dialog therefore
// grows with its font, and the layout keeps its proportions on any screen.
#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

struct DialogTemplate;

// The font a template names. The templates ask for the 8-point system sans
// serif; DejaVu Sans, present on every machine we run on, stands in for it.
QFont DialogFont(const DialogTemplate& dialogTemplate);

// number * numerator / denominator, rounded half away from zero.
int MulDiv(int number, int numerator, int denominator);

class DialogUnits {
  public:
    explicit DialogUnits(const QFont& font);
    DialogUnits(int baseX, int baseY) : m_baseX(baseX), m_baseY(baseY) {}

    int baseX() const { return m_baseX; }
    int baseY() const { return m_baseY; }

    // Each of the four values is converted on its own, as the dialog manager
    // places a control.
    QRect toPixels(int x, int y, int width, int height) const;
    QSize toPixels(int width, int height) const;

  private:
    int m_baseX;
    int m_baseY;
};
