#include "plot/ReportPage.h"

#include "dsp/SignalFormat.h"
#include "measure/NumberFormat.h"
#include "measure/Rounding.h"
#include "plot/PlotGeometry.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace {

// Print-friendly: dark ink on white, the shading light enough to print grey.
constexpr COLORREF Paper = RGB(0xFF, 0xFF, 0xFF);
constexpr COLORREF Ink = RGB(0x33, 0x33, 0x33);
constexpr COLORREF MinorGrid = RGB(0xE4, 0xE4, 0xE4);
constexpr COLORREF MajorGrid = RGB(0xB0, 0xB0, 0xB0);
constexpr COLORREF WideBand = RGB(0xE8, 0xEF, 0xF8);
constexpr COLORREF NarrowBand = RGB(0xDA, 0xE6, 0xF5);
constexpr COLORREF Marker = RGB(0xC0, 0x39, 0x2B);
// The harmonics beside THD, which takes the curve's colour.
constexpr COLORREF SecondHarmonic = RGB(0xD3, 0x7A, 0x12);
constexpr COLORREF ThirdHarmonic = RGB(0x2E, 0x8B, 0x57);

// ---- A 5 x 7 pixel font for the axis labels -------------------------------

struct Glyph {
    char c;
    std::array<std::uint8_t, 7> rows; // top to bottom, bit 4 the leftmost column
};

constexpr Glyph Glyphs[] = {
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}},
    {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}},
    {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}},
    {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}},
    {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}},
    {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {'-', {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00}},
    {'+', {0x00, 0x04, 0x04, 0x1F, 0x04, 0x04, 0x00}},
    {'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C}},
    {'k', {0x10, 0x10, 0x12, 0x14, 0x18, 0x14, 0x12}},
    {'z', {0x00, 0x00, 0x1F, 0x02, 0x04, 0x08, 0x1F}},
    {'d', {0x01, 0x01, 0x0D, 0x13, 0x11, 0x11, 0x0F}},
    {'B', {0x1E, 0x11, 0x11, 0x1E, 0x11, 0x11, 0x1E}},
    {'D', {0x1E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x1E}},
    {'F', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10}},
    {'H', {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'S', {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E}},
    {'T', {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}},
};

// Font pixels per surface pixel: twice as large reads at the page's width.
constexpr int TextScale = 2;
constexpr int TextHeight = 7 * TextScale;

int TextWidth(std::string_view text) {
    return text.empty() ? 0 : static_cast<int>(text.size()) * 6 * TextScale - TextScale;
}

// Characters the font lacks leave a gap.
void DrawText(CDC& dc, int x, int y, std::string_view text, COLORREF color) {
    for (const char c : text) {
        const auto glyph = std::find_if(std::begin(Glyphs), std::end(Glyphs),
                                        [c](const Glyph& g) { return g.c == c; });
        if (glyph != std::end(Glyphs))
            for (int row = 0; row < 7; ++row)
                for (int column = 0; column < 5; ++column)
                    if (glyph->rows[row] & (0x10 >> column))
                        dc.FillSolidRect({x + column * TextScale, y + row * TextScale,
                                          x + (column + 1) * TextScale, y + (row + 1) * TextScale},
                                         color);
        x += 6 * TextScale;
    }
}

// ---- Plots ------------------------------------------------------------------

// The level range of a plot and where frequencies and levels fall in it.
struct Axes {
    double topDb;
    double bottomDb;
    double stepDb; // between grid lines
    CRect area = ReportPlotArea;

    int X(double hz) const {
        if (!(hz > 0))
            return area.left;
        const int width = area.right - area.left;
        return area.left + std::clamp(RoundHalfAway(FreqToX(hz, width)), 0, width);
    }
    // Levels beyond the range are held at its edges; not a number lies at the
    // bottom, like silence.
    int Y(double db) const {
        if (std::isnan(db))
            return area.bottom;
        // Clamped before the offset is added: -inf saturates to INT_MAX.
        const int height = area.bottom - area.top;
        const double share = (topDb - db) / (topDb - bottomDb);
        return area.top + std::clamp(RoundHalfAway(share * height), 0, height);
    }
};

void VerticalLine(CDC& dc, int x, int top, int bottom) {
    dc.MoveTo(x, top);
    dc.LineTo(x, bottom + 1);
}

void HorizontalLine(CDC& dc, int y, int left, int right) {
    dc.MoveTo(left, y);
    dc.LineTo(right + 1, y);
}

void DashedHorizontal(CDC& dc, int y, int left, int right, COLORREF color) {
    for (int x = left; x <= right; ++x)
        if (x % 8 < 5)
            dc.SetPixel(x, y, color);
}

void DashedVertical(CDC& dc, int x, int top, int bottom, COLORREF color) {
    for (int y = top; y <= bottom; ++y)
        if (y % 8 < 5)
            dc.SetPixel(x, y, color);
}

std::string DbLabel(double db) {
    const std::string text = SignificantText(db, 4);
    return db > 0 ? "+" + text : text;
}

// Decade and level grid with their labels, over the whole area. The band
// shading, when there is any, must already be painted.
void DrawGrid(CDC& dc, const Axes& axes, std::string_view unit) {
    const CRect& a = axes.area;
    CPen minor, major, ink;
    minor.CreatePen(PS_SOLID, 1, MinorGrid);
    major.CreatePen(PS_SOLID, 1, MajorGrid);
    ink.CreatePen(PS_SOLID, 1, Ink);
    CPen* entryPen = dc.SelectObject(&minor);

    for (double decade = 10; decade <= 10000; decade *= 10)
        for (int m = 2; m <= 9; ++m)
            if (m * decade < SampleRate / 2)
                VerticalLine(dc, axes.X(m * decade), a.top, a.bottom);
    const int steps = RoundHalfAway((axes.topDb - axes.bottomDb) / axes.stepDb);
    dc.SelectObject(&major);
    for (int i = 0; i <= steps; ++i) {
        const double db = axes.topDb - i * axes.stepDb;
        const int y = axes.Y(db);
        HorizontalLine(dc, y, a.left, a.right);
        const std::string label = DbLabel(db);
        DrawText(dc, a.left - 6 - TextWidth(label), y - TextHeight / 2, label, Ink);
    }
    const char* const decades[] = {"10", "100", "1k", "10k"};
    double hz = 10;
    for (const char* label : decades) {
        const int x = axes.X(hz);
        VerticalLine(dc, x, a.top, a.bottom);
        DrawText(dc, x - TextWidth(label) / 2, a.bottom + 6, label, Ink);
        hz *= 10;
    }
    DrawText(dc, ReportPlotWidth - 4 - TextWidth("Hz"), a.bottom + 6, "Hz", Ink);
    DrawText(dc, 4, 4, unit, Ink);

    dc.SelectObject(&ink);
    dc.MoveTo(a.left, a.top);
    dc.LineTo(a.right, a.top);
    dc.LineTo(a.right, a.bottom);
    dc.LineTo(a.left, a.bottom);
    dc.LineTo(a.left, a.top);
    dc.SelectObject(entryPen);
}

struct Pixel {
    int x, y;
};

// Two pixels thick, so that the curve stands out from the grid on paper.
// A gap (nullopt) lifts the pen.
void DrawCurve(CDC& dc, std::span<const std::optional<Pixel>> curve,
               COLORREF color = ReportCurveColor) {
    CPen pen;
    pen.CreatePen(PS_SOLID, 1, color);
    CPen* entryPen = dc.SelectObject(&pen);
    for (const int dy : {0, 1}) {
        bool down = false;
        for (const std::optional<Pixel>& p : curve) {
            if (!p) {
                down = false;
                continue;
            }
            if (down)
                dc.LineTo(p->x, p->y + dy);
            else
                dc.MoveTo(p->x, p->y + dy);
            dc.SetPixel(p->x, p->y + dy, color); // LineTo leaves out its end
            down = true;
        }
    }
    dc.SelectObject(entryPen);
}

PixelSurface BlankPlot() {
    PixelSurface surface(ReportPlotWidth, ReportPlotHeight);
    CDC dc(surface);
    dc.FillSolidRect({0, 0, ReportPlotWidth, ReportPlotHeight}, Paper);
    return surface;
}

bool Measured(const ResponsePoint& point) {
    return std::isfinite(point.frequencyHz) && point.frequencyHz > 0 &&
           std::isfinite(point.levelDb);
}

// The response is drawn re its reference; without one (a sweep stopped
// before it), re full scale.
double ResponseZeroDb(const LoopbackReport& report) {
    return report.response.valid ? report.response.referenceDb : 0;
}

// +6 to -24 dB, widened in whole grid steps to the points, within +60 and
// -120 dB so that one wild point cannot flatten the rest.
Axes ResponseAxes(const LoopbackReport& report) {
    double highest = 6, lowest = -24;
    for (const ResponsePoint& point : report.points)
        if (Measured(point)) {
            const double db = point.levelDb - ResponseZeroDb(report);
            highest = std::max(highest, std::min(db, 60.0));
            lowest = std::min(lowest, std::max(db, -120.0));
        }
    const double span = highest - lowest;
    const double step = span <= 48 ? 6 : span <= 96 ? 12 : 24;
    return {std::ceil(highest / step) * step, std::floor(lowest / step) * step, step};
}

void ShadeBand(CDC& dc, const Axes& axes, double lowHz, double highHz, COLORREF color) {
    dc.FillSolidRect({axes.X(lowHz), axes.area.top, axes.X(highHz) + 1, axes.area.bottom + 1},
                     color);
}

PixelSurface ResponsePlot(const LoopbackReport& report) {
    PixelSurface surface = BlankPlot();
    CDC dc(surface);
    const Axes axes = ResponseAxes(report);
    ShadeBand(dc, axes, WideBandLowHz, WideBandHighHz, WideBand);
    ShadeBand(dc, axes, NarrowBandLowHz, NarrowBandHighHz, NarrowBand);
    DrawGrid(dc, axes, report.response.valid ? "dB" : "dBFS");

    const CRect& a = axes.area;
    if (report.response.valid)
        DashedHorizontal(dc, axes.Y(-3), a.left, a.right, Marker);
    for (const std::optional<double>& corner :
         {report.response.minus3dbLowHz, report.response.minus3dbHighHz})
        if (corner)
            DashedVertical(dc, axes.X(*corner), a.top, a.bottom, Marker);

    std::vector<std::optional<Pixel>> curve;
    for (const ResponsePoint& point : report.points)
        if (Measured(point))
            curve.push_back(
                Pixel{axes.X(point.frequencyHz), axes.Y(point.levelDb - ResponseZeroDb(report))});
        else
            curve.push_back(std::nullopt);
    DrawCurve(dc, curve);
    return surface;
}

// The spectrum holds half a block of bins, bin k at k * SampleRate / block.
double BinWidthHz(std::span<const double> spectrumDb) {
    return SampleRate / (2.0 * static_cast<double>(spectrumDb.size()));
}

const Axes SpectrumAxes{0, -160, 20};

// Bin 0 is not drawn: it lies at 0 Hz, off the logarithmic axis.
void DrawSpectrum(CDC& dc, std::span<const double> spectrumDb) {
    const double binWidth = BinWidthHz(spectrumDb);
    std::vector<std::optional<Pixel>> curve;
    for (std::size_t k = 1; k < spectrumDb.size(); ++k)
        curve.push_back(Pixel{SpectrumAxes.X(static_cast<double>(k) * binWidth),
                              SpectrumAxes.Y(spectrumDb[k])});
    DrawCurve(dc, curve);
}

// Closer than a character's width apart, two numbers read as one.
bool TooClose(const CRect& a, const CRect& b) {
    const int gap = 6 * TextScale;
    return a.left < b.right + gap && b.left < a.right + gap && a.top < b.bottom && b.top < a.bottom;
}

// A small triangle over each harmonic's line and its number above it. The
// upper harmonics crowd together on the logarithmic axis, so a number that
// would cover one placed before it goes up a row.
void MarkHarmonics(CDC& dc, std::span<const double> spectrumDb, std::size_t harmonics) {
    const double binWidth = BinWidthHz(spectrumDb);
    const auto bins = static_cast<long>(spectrumDb.size());
    std::vector<Pixel> tips;
    std::vector<CRect> labels;
    for (std::size_t i = 0; i < harmonics; ++i) {
        const int number = static_cast<int>(i) + 2;
        const double hz = number * ReportToneHz;
        const long centre = std::lround(hz / binWidth);
        if (centre >= bins)
            break;
        // The line's top, which the window may have spread over neighbours.
        double peak = -HUGE_VAL;
        for (long k = std::max(centre - 2, 1L); k <= std::min(centre + 2, bins - 1); ++k)
            if (!std::isnan(spectrumDb[static_cast<std::size_t>(k)]))
                peak = std::max(peak, spectrumDb[static_cast<std::size_t>(k)]);
        const Pixel tip{SpectrumAxes.X(hz),
                        std::max(SpectrumAxes.Y(peak) - 3, SpectrumAxes.area.top + 24)};
        tips.push_back(tip);

        const std::string label = std::to_string(number);
        const int left = tip.x - TextWidth(label) / 2;
        CRect box{left - 1, tip.y - 6 - TextHeight - 1, left + TextWidth(label) + 1, tip.y - 4};
        while (std::any_of(labels.begin(), labels.end(),
                           [&box](const CRect& placed) { return TooClose(box, placed); })) {
            box.top -= TextHeight + 2;
            box.bottom -= TextHeight + 2;
        }
        labels.push_back(box);
        dc.FillSolidRect(box, Paper);
        DrawText(dc, left, box.top + 1, label, Marker);
    }
    for (const Pixel& tip : tips)
        for (int row = 0; row < 4; ++row)
            for (int dx = -row; dx <= row; ++dx)
                dc.SetPixel(tip.x + dx, tip.y - row, Marker);
}

PixelSurface SpectrumPlot(std::span<const double> spectrumDb, std::size_t harmonics) {
    PixelSurface surface = BlankPlot();
    CDC dc(surface);
    DrawGrid(dc, SpectrumAxes, "dBFS");
    DrawSpectrum(dc, spectrumDb);
    MarkHarmonics(dc, spectrumDb, harmonics);
    return surface;
}

// THD, H2 and H3 in dB re the fundamental, each where it was given, with a
// key in their colours at the top right.
PixelSurface DistortionCurvePlot(const LoopbackReport& report) {
    PixelSurface surface = BlankPlot();
    CDC dc(surface);
    DrawGrid(dc, SpectrumAxes, "dB");
    struct Curve {
        const char* name;
        COLORREF color;
        std::optional<double> (*level)(const SweepResponsePoint&);
    };
    const Curve curves[] = {
        {"H3", ThirdHarmonic, [](const SweepResponsePoint& p) { return p.harmonicsDb[1]; }},
        {"H2", SecondHarmonic, [](const SweepResponsePoint& p) { return p.harmonicsDb[0]; }},
        {"THD", ReportCurveColor, [](const SweepResponsePoint& p) { return p.thdDb; }},
    };
    int keyRight = SpectrumAxes.area.right - 8;
    for (const Curve& c : curves) {
        std::vector<std::optional<Pixel>> curve;
        for (const SweepResponsePoint& point : report.distortionCurve) {
            const std::optional<double> db = c.level(point);
            if (db && std::isfinite(*db))
                curve.push_back(Pixel{SpectrumAxes.X(point.frequencyHz), SpectrumAxes.Y(*db)});
            else
                curve.push_back(std::nullopt);
        }
        DrawCurve(dc, curve, c.color);
        keyRight -= TextWidth(c.name);
        DrawText(dc, keyRight, SpectrumAxes.area.top + 8, c.name, c.color);
        keyRight -= 4 * TextScale * 3;
    }
    return surface;
}

// ---- The page ---------------------------------------------------------------

std::string Escaped(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

// Empty when the picture cannot be encoded.
std::string PngDataUri(const PixelSurface& surface) {
    const QImage image(reinterpret_cast<const uchar*>(surface.bits()), surface.width(),
                       surface.height(), surface.bytesPerLine(), QImage::Format_RGB32);
    QByteArray png;
    QBuffer buffer(&png);
    if (!buffer.open(QIODevice::WriteOnly) || !image.save(&buffer, "PNG"))
        return {};
    return "data:image/png;base64," + png.toBase64().toStdString();
}

std::string Note(const std::string& text) {
    return "<p class=\"note\">" + Escaped(text) + "</p>\n";
}

std::string Figure(const PixelSurface& plot, const std::string& alt, const std::string& caption) {
    const std::string uri = PngDataUri(plot);
    if (uri.empty())
        return Note("The plot could not be encoded.");
    return "<figure>\n<img src=\"" + uri + "\" width=\"" + std::to_string(plot.width()) +
           "\" height=\"" + std::to_string(plot.height()) + "\" alt=\"" + Escaped(alt) +
           "\">\n<figcaption>" + Escaped(caption) + "</figcaption>\n</figure>\n";
}

const char* const Style = R"(body {
  max-width: 800px; margin: 1.5em auto; padding: 0 1em;
  background: #fff; color: #222;
  font-family: "DejaVu Sans", "Liberation Sans", Arial, Helvetica, sans-serif;
  line-height: 1.4;
}
h1 { font-size: 1.6em; margin-bottom: 0.3em; }
h2 { font-size: 1.2em; margin-top: 1.6em; border-bottom: 1px solid #ccc; }
pre {
  font-family: "DejaVu Sans Mono", "Liberation Mono", monospace; font-size: 12px;
  white-space: pre-wrap; background: #f6f6f6; border: 1px solid #ddd; padding: 0.8em;
}
figure { margin: 1em 0; }
figure img { display: block; width: 100%; max-width: 720px; height: auto; border: 1px solid #ccc; }
figcaption { font-size: 0.9em; color: #444; margin-top: 0.4em; }
.note { font-style: italic; }
@media print {
  body { max-width: none; margin: 0; }
  h2 { break-after: avoid; page-break-after: avoid; }
  figure { break-inside: avoid; page-break-inside: avoid; }
  pre { background: none; }
}
)";

const char* const NotMeasuredNote = "Not measured: the report stopped before it.";

std::string ResponseSection(const LoopbackReport& report) {
    std::string html = "<h2>Frequency response</h2>\n";
    if (report.points.empty())
        return html + Note("No point of the response was measured.");
    const ResponseSummary& response = report.response;
    const std::string referenceHz = SignificantText(response.referenceHz, 6) + " Hz";
    if (!response.valid)
        return html + Figure(ResponsePlot(report), "Frequency response",
                             "Level re a full-scale sine, 10 Hz to 22 kHz: the level at " +
                                 referenceHz + ", the reference, was not measured.");
    return html + Figure(ResponsePlot(report), "Frequency response",
                         "Level re the level at " + referenceHz + " (" +
                             FixedText(response.referenceDb, 2) +
                             " dB), 10 Hz to 22 kHz. Shaded: the deviation ranges 20 Hz - 20 kHz "
                             "(light) and 40 Hz - 15 kHz (darker). Dashed: -3 dB and where the "
                             "response reaches it.");
}

std::string DistortionCurveSection(const LoopbackReport& report) {
    std::string html = "<h2>Distortion against frequency</h2>\n";
    if (report.method == ResponseMethod::SteppedSweep)
        return html + Note("Not measured: the stepped sweep measures no harmonics.");
    if (report.distortionCurve.empty())
        return html + Note(NotMeasuredNote);
    return html + Figure(DistortionCurvePlot(report), "Distortion against frequency",
                         "From the swept sine at " + report.run.level +
                             ": THD (the power sum of harmonics 2 to 5 below 20 kHz), H2 and H3 "
                             "of a tone at each frequency, in dB re the fundamental; a harmonic "
                             "at or above 20 kHz is left out.");
}

std::string DistortionSection(const LoopbackReport& report) {
    std::string html = "<h2>Spectrum of the distortion measurement</h2>\n";
    if (!report.Measured(ReportPart::Distortion))
        return html + Note(NotMeasuredNote);
    const std::vector<double>& spectrum = report.distortion.spectrumDb;
    if (spectrum.size() < 2)
        return html + Note("No spectrum was recorded.");
    return html + Figure(SpectrumPlot(spectrum, report.distortion.harmonicsDb.size()),
                         "Spectrum of the 997 Hz tone at -1 dBFS",
                         "997 Hz at -1 dBFS, quasi-Chebyshev window, blocks averaged; dB re a "
                         "full-scale sine. Numbered: the harmonics counted in THD.");
}

std::string NoiseSection(const LoopbackReport& report) {
    std::string html = "<h2>Noise spectrum</h2>\n";
    if (!report.Measured(ReportPart::Noise))
        return html + Note(NotMeasuredNote);
    if (report.digitalSilence)
        return html + Note("Digital silence: every sample with the tone off was zero, so there "
                           "is no spectrum to plot.");
    if (report.noiseSpectrumDb.size() < 2)
        return html + Note("No noise spectrum was recorded.");
    return html + Figure(SpectrumPlot(report.noiseSpectrumDb, 0), "Noise spectrum",
                         "Tone off, rectangle window, blocks averaged; dB re a full-scale sine.");
}

// From "<!DOCTYPE html>" to the page's heading.
std::string PageHead(const std::string& name, const std::string& dateTime) {
    return "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
           "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
           "<title>" +
           name + ", " + Escaped(dateTime) + "</title>\n<style>\n" + Style +
           "</style>\n</head>\n<body>\n<h1>" + name + "</h1>\n";
}

std::string PlotSections(const LoopbackReport& report) {
    return ResponseSection(report) + DistortionCurveSection(report) + DistortionSection(report) +
           NoiseSection(report);
}

std::string PageName(bool complete) {
    return std::string("Tembrix loop-back report") + (complete ? "" : " (incomplete)");
}

} // namespace

std::string ReportHtml(const LoopbackReport& report, const FormatLimits& limits) {
    std::string html = PageHead(PageName(report.Complete()), report.run.dateTime);
    html +=
        "<h2>Settings and figures</h2>\n<pre>" + Escaped(ReportTable(report, limits)) + "</pre>\n";
    html += PlotSections(report);
    return html + "</body>\n</html>\n";
}

// Each channel's figures and plots under its own heading, then how they
// compare.
std::string ReportHtml(const ChannelsReport& report, const FormatLimits& limits) {
    const bool complete = report.channels[0].Complete() && report.channels[1].Complete();
    std::string html = PageHead(PageName(complete), report.channels[0].run.dateTime);
    for (const LoopbackReport& channel : report.channels) {
        const std::string name = channel.channel == "left" ? "Left channel" : "Right channel";
        html += "<h2>" + name + ": settings and figures</h2>\n<pre>" +
                Escaped(ReportTable(channel, limits)) + "</pre>\n";
        html += PlotSections(channel);
    }
    html += "<h2>Channels</h2>\n<pre>" + Escaped(ChannelsSummaryText(report)) + "</pre>\n";
    return html + "</body>\n</html>\n";
}
