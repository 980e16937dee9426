// The drawing vocabulary of the instrument window: colours, pens, rectangles
// and a device context that draws into a plain pixel buffer. Free of any
// window system, so every plot can be checked pixel by pixel; the dialog
// shows the buffer as it is.
#pragma once

#include <cstdint>
#include <vector>

// 0x00BBGGRR, as the drawing routines name colours.
using COLORREF = std::uint32_t;

constexpr COLORREF RGB(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    return static_cast<COLORREF>(r) | static_cast<COLORREF>(g) << 8 |
           static_cast<COLORREF>(b) << 16;
}

// What GetPixel answers outside the surface.
constexpr COLORREF CLR_INVALID = 0xFFFFFFFF;

constexpr int PS_SOLID = 0;

struct CRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

class CPen {
  public:
    // Only solid pens of width 1 exist here; anything else is refused with
    // false and leaves the pen as it was.
    bool CreatePen(int penStyle, int width, COLORREF color);
    COLORREF Color() const { return m_color; }

  private:
    COLORREF m_color = RGB(0, 0, 0);
};

// Width x height pixels, row after row with no padding, each 0xFFRRGGBB: the
// layout of a 32-bit RGB image, so a widget can wrap the buffer without a
// copy. A size of 0 (or less) in either direction holds no pixel.
class PixelSurface {
  public:
    PixelSurface() = default;
    PixelSurface(int width, int height);

    // Reallocates; every pixel becomes black.
    void Resize(int width, int height);

    int width() const { return m_width; }
    int height() const { return m_height; }
    int bytesPerLine() const { return m_width * static_cast<int>(sizeof(std::uint32_t)); }
    std::uint32_t* bits() { return m_pixels.data(); }
    const std::uint32_t* bits() const { return m_pixels.data(); }

  private:
    int m_width = 0;
    int m_height = 0;
    std::vector<std::uint32_t> m_pixels;
};

// Draws into a surface the way a window's device context does: a selected
// pen, a current position, lines that leave out their end point, everything
// clipped to the surface. Never allocates.
class CDC {
  public:
    // The context starts with a black pen selected and its position at (0, 0).
    explicit CDC(PixelSurface& surface) : m_surface(&surface) {}
    CDC(const CDC&) = delete;
    CDC& operator=(const CDC&) = delete;

    // Returns the pen selected before; a null pen changes nothing and gives null.
    CPen* SelectObject(CPen* pen);
    CPen* GetCurrentPen() const { return m_pen; }

    void MoveTo(int x, int y);
    // A Bresenham line from the current position to (x, y) in the selected
    // pen's colour; (x, y) itself is not painted and becomes the position.
    void LineTo(int x, int y);
    void SetPixel(int x, int y, COLORREF color);
    COLORREF GetPixel(int x, int y) const;
    // Fills left..right-1 by top..bottom-1.
    void FillSolidRect(const CRect& rect, COLORREF color);

  private:
    bool Contains(int x, int y) const {
        return x >= 0 && y >= 0 && x < m_surface->width() && y < m_surface->height();
    }

    PixelSurface* m_surface;
    CPen m_stockPen;
    CPen* m_pen = &m_stockPen;
    int m_x = 0;
    int m_y = 0;
};
