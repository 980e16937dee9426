#include "plot/Surface.h"

#include <algorithm>
#include <cstdlib>

namespace {

constexpr std::uint32_t Opaque = 0xFF000000;

// Wide enough for the error term of a line across the whole int range.
__extension__ typedef __int128 Int128;

std::uint32_t ToPixel(COLORREF color) {
    const std::uint32_t r = color & 0xFF;
    const std::uint32_t g = (color >> 8) & 0xFF;
    const std::uint32_t b = (color >> 16) & 0xFF;
    return Opaque | r << 16 | g << 8 | b;
}

COLORREF ToColor(std::uint32_t pixel) {
    return RGB(static_cast<std::uint8_t>(pixel >> 16), static_cast<std::uint8_t>(pixel >> 8),
               static_cast<std::uint8_t>(pixel));
}

std::uint32_t& PixelAt(PixelSurface& surface, int x, int y) {
    return surface.bits()[static_cast<std::size_t>(y) * surface.width() + x];
}

// One coordinate of a line: where it starts, which way it goes, how far, and
// the surface's size in that direction.
struct Axis {
    int start;
    int step;
    std::int64_t length;
    int extent;
};

// The steps of a line that fall within 0..extent-1 on its major axis, as the
// half-open range [first, end) of 0..length-1: the end point is left out.
struct StepRange {
    std::int64_t first;
    std::int64_t end;
};

StepRange StepsInside(const Axis& major) {
    const std::int64_t start = major.start;
    const std::int64_t first = major.step > 0 ? -start : start - major.extent + 1;
    const std::int64_t end = major.step > 0 ? major.extent - start : start + 1;
    return {std::max<std::int64_t>(first, 0), std::min(end, major.length)};
}

void WalkLine(PixelSurface& surface, const Axis& major, const Axis& minor, bool xMajor,
              std::uint32_t pixel) {
    const StepRange steps = StepsInside(major);
    if (steps.first >= steps.end)
        return;
    // Step k lies at minor offset (2k*minor.length + major.length - 1) /
    // (2*major.length): the Bresenham error term in closed form, so the walk
    // begins at the first step inside the surface however far outside the
    // line starts, and never takes more steps than the surface is wide.
    const std::int64_t denominator = 2 * major.length;
    const Int128 numerator = static_cast<Int128>(2 * steps.first) * minor.length + major.length - 1;
    auto offset = static_cast<std::int64_t>(numerator / denominator);
    auto error = static_cast<std::int64_t>(numerator % denominator);
    for (std::int64_t k = steps.first; k < steps.end; ++k) {
        const auto along = static_cast<int>(major.start + major.step * k);
        const std::int64_t across = minor.start + minor.step * offset;
        if (across >= 0 && across < minor.extent) {
            const auto acrossPixel = static_cast<int>(across);
            if (xMajor)
                PixelAt(surface, along, acrossPixel) = pixel;
            else
                PixelAt(surface, acrossPixel, along) = pixel;
        }
        error += 2 * minor.length;
        if (error >= denominator) {
            error -= denominator;
            ++offset;
        }
    }
}

} // namespace

bool CPen::CreatePen(int penStyle, int width, COLORREF color) {
    if (penStyle != PS_SOLID || width != 1)
        return false;
    m_color = color;
    return true;
}

PixelSurface::PixelSurface(int width, int height) {
    Resize(width, height);
}

void PixelSurface::Resize(int width, int height) {
    m_width = std::max(width, 0);
    m_height = std::max(height, 0);
    m_pixels.assign(static_cast<std::size_t>(m_width) * static_cast<std::size_t>(m_height), Opaque);
}

CPen* CDC::SelectObject(CPen* pen) {
    if (pen == nullptr)
        return nullptr;
    CPen* previous = m_pen;
    m_pen = pen;
    return previous;
}

void CDC::MoveTo(int x, int y) {
    m_x = x;
    m_y = y;
}

void CDC::LineTo(int x, int y) {
    const std::int64_t dx = std::abs(static_cast<std::int64_t>(x) - m_x);
    const std::int64_t dy = std::abs(static_cast<std::int64_t>(y) - m_y);
    const Axis alongX{m_x, x < m_x ? -1 : 1, dx, m_surface->width()};
    const Axis alongY{m_y, y < m_y ? -1 : 1, dy, m_surface->height()};
    const std::uint32_t pixel = ToPixel(m_pen->Color());
    if (dx >= dy)
        WalkLine(*m_surface, alongX, alongY, true, pixel);
    else
        WalkLine(*m_surface, alongY, alongX, false, pixel);
    m_x = x;
    m_y = y;
}

void CDC::SetPixel(int x, int y, COLORREF color) {
    if (Contains(x, y))
        PixelAt(*m_surface, x, y) = ToPixel(color);
}

COLORREF CDC::GetPixel(int x, int y) const {
    if (!Contains(x, y))
        return CLR_INVALID;
    return ToColor(PixelAt(*m_surface, x, y));
}

void CDC::FillSolidRect(const CRect& rect, COLORREF color) {
    const int left = std::max(rect.left, 0);
    const int right = std::min(rect.right, m_surface->width());
    const int top = std::max(rect.top, 0);
    const int bottom = std::min(rect.bottom, m_surface->height());
    const std::uint32_t pixel = ToPixel(color);
    for (int y = top; y < bottom; ++y)
        for (int x = left; x < right; ++x)
            PixelAt(*m_surface, x, y) = pixel;
}
