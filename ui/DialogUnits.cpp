#include "ui/DialogUnits.h"

#include "res/DialogTemplate.h"

#include <QFontMetrics>

#include <cstdint>
#include <cstdlib>

QFont DialogFont(const DialogTemplate& dialogTemplate) {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(dialogTemplate.fontPoints);
    return font;
}

int MulDiv(int number, int numerator, int denominator) {
    const std::int64_t product = std::int64_t{number} * numerator;
    const std::int64_t half = std::abs(std::int64_t{denominator}) / 2;
    const bool negative = (product < 0) != (denominator < 0);
    const std::int64_t magnitude = (std::abs(product) + half) / std::abs(std::int64_t{denominator});
    return static_cast<int>(negative ? -magnitude : magnitude);
}

DialogUnits::DialogUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    // The average width of the 52 letters, rounded: the system's own rule.
    const int alphabetWidth = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    m_baseX = (alphabetWidth / 26 + 1) / 2;
    m_baseY = metrics.height();
}

QRect DialogUnits::toPixels(int x, int y, int width, int height) const {
    return {MulDiv(x, m_baseX, 4), MulDiv(y, m_baseY, 8), MulDiv(width, m_baseX, 4),
            MulDiv(height, m_baseY, 8)};
}

QSize DialogUnits::toPixels(int width, int height) const {
    return {MulDiv(width, m_baseX, 4), MulDiv(height, m_baseY, 8)};
}
