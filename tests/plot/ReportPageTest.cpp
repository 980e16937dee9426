#include "plot/ReportPage.h"

#include "plot/PlotGeometry.h"

#include <QByteArray>
#include <QImage>

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

// Runs without a QGuiApplication, as the command line does: the page must not
// need one.
namespace {

constexpr const char* DataUri = "data:image/png;base64,";
// Every picture's source is a data address.
constexpr const char* DataSource = "src=\"data:image/png;base64,";
constexpr int Bins = 4096;
constexpr std::size_t DipPoint = 60;

LoopbackReport KnownReport() {
    LoopbackReport report;
    report.run = {"sweep",   "0.1.0",          "2026-12-08T23:41:05+00:00",
                  "virtual", "Line In",        "Line Out",
                  "-20 dB",  "quasi-chebyshev"};
    // 10 Hz to 22 kHz, flat at -20 dB but for one point 12 dB down.
    for (int i = 0; i < 99; ++i) {
        const double hz = 10 * std::pow(2200.0, i / 98.0);
        report.points.push_back({hz, i == DipPoint ? -32.0 : -20.0, -20, 0, 4});
    }
    report.response = SummariseResponse(report.points);
    report.narrowDeviationDb = {-12, 0};
    report.wideDeviationDb = {-12, 0};
    report.distortion = {-1, {-80, -90, -100}, -79.6, -75, -76, -78, {}, false};
    report.distortion.spectrumDb.assign(Bins, -130);
    const double binWidth = 44100.0 / 8192;
    report.distortion.spectrumDb[std::lround(997 / binWidth)] = -1;
    for (int h = 2; h <= 4; ++h)
        report.distortion.spectrumDb[std::lround(h * 997 / binWidth)] = -1 - 70 - 10 * h;
    report.dynamicRangeDbA = 90;
    report.noiseDbfs = -92;
    report.noiseDbfsA = -94;
    report.noiseSpectrumDb.assign(Bins, -125);
    report.plannedPoints = report.points.size();
    report.measured.set();
    return report;
}

const FormatLimits Limits{-130, -98, 98, -98, -100};

std::vector<QImage> Images(const std::string& page) {
    std::vector<QImage> images;
    for (auto at = page.find(DataUri); at != std::string::npos; at = page.find(DataUri, at + 1)) {
        const auto begin = at + std::string(DataUri).size();
        const std::string base64 = page.substr(begin, page.find('"', begin) - begin);
        QImage image;
        image.loadFromData(QByteArray::fromBase64(QByteArray::fromStdString(base64)), "PNG");
        images.push_back(image);
    }
    return images;
}

int Count(const std::string& text, const std::string& what) {
    int n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

TEST(ReportPage, IsOneSelfContainedPageWithThreeDecodablePlots) {
    const std::string page = ReportHtml(KnownReport(), Limits);
    EXPECT_EQ(page.rfind("<!DOCTYPE html>", 0), 0u);
    EXPECT_TRUE(page.ends_with("</html>\n"));
    EXPECT_EQ(Count(page, "src=\""), Count(page, DataSource));
    const std::vector<QImage> images = Images(page);
    ASSERT_EQ(images.size(), 3u);
    for (const QImage& image : images)
        EXPECT_EQ(image.size(), QSize(ReportPlotWidth, ReportPlotHeight));
}

// Where a level lies in the distortion plot (0 to -160 dB) at `hz`: whether
// the colour is within two pixels of it.
bool DrawnNear(const QImage& plot, double hz, double db, QRgb color) {
    const CRect a = ReportPlotArea;
    const int x = a.left + static_cast<int>(std::lround(FreqToX(hz, a.right - a.left)));
    const int y = a.top + static_cast<int>(std::lround(-db / 160 * (a.bottom - a.top)));
    for (int dy = -2; dy <= 2; ++dy)
        for (int dx = -2; dx <= 2; ++dx)
            if (plot.valid(x + dx, y + dy) && plot.pixel(x + dx, y + dy) == color)
                return true;
    return false;
}

// THD in the curve's colour, H2 and H3 in theirs, each only where given.
TEST(ReportPage, TheSweptSinesDistortionIsPlottedAgainstFrequencyWhereGiven) {
    LoopbackReport report = KnownReport();
    report.method = ResponseMethod::SweptSine;
    for (const ResponsePoint& point : report.points) {
        SweepResponsePoint distortion{point.frequencyHz, 0, 0, {}, {}};
        if (point.frequencyHz < 5000)
            distortion = {
                point.frequencyHz, 0, 0, {-85.0, -100.0, std::nullopt, std::nullopt}, -80.0};
        report.distortionCurve.push_back(distortion);
    }
    const std::vector<QImage> images = Images(ReportHtml(report, Limits));
    ASSERT_EQ(images.size(), 4u);
    const QImage& plot = images[1];
    const QRgb thd = qRgb(0x1F, 0x4E, 0x9A);
    EXPECT_TRUE(DrawnNear(plot, 1000, -80, thd));
    EXPECT_TRUE(DrawnNear(plot, 1000, -85, qRgb(0xD3, 0x7A, 0x12)));
    EXPECT_TRUE(DrawnNear(plot, 1000, -100, qRgb(0x2E, 0x8B, 0x57)));
    EXPECT_TRUE(DrawnNear(plot, 50, -80, thd));
    EXPECT_FALSE(DrawnNear(plot, 10000, -80, thd));

    // The stepped sweep measures none: said, not plotted.
    report.method = ResponseMethod::SteppedSweep;
    const std::string stepped = ReportHtml(report, Limits);
    EXPECT_EQ(Images(stepped).size(), 3u);
    EXPECT_NE(stepped.find("the stepped sweep measures no harmonics"), std::string::npos);
}

TEST(ReportPage, DigitalSilenceIsSaidInsteadOfPlotted) {
    LoopbackReport report = KnownReport();
    report.digitalSilence = true;
    report.noiseSpectrumDb.assign(Bins, -HUGE_VAL);
    const std::string page = ReportHtml(report, Limits);
    EXPECT_EQ(Images(page).size(), 2u);
    EXPECT_NE(page.find("Digital silence"), std::string::npos);
}

TEST(ReportPage, DeviceNamesAreEscaped) {
    LoopbackReport report = KnownReport();
    report.run.inputDevice = "<script>alert(1)</script> & Co";
    const std::string page = ReportHtml(report, Limits);
    EXPECT_EQ(page.find("<script"), std::string::npos);
    EXPECT_NE(page.find("&lt;script&gt;alert(1)&lt;/script&gt; &amp; Co"), std::string::npos);
}

TEST(ReportPage, FiguresAtTheFormatLimitStayFlagged) {
    LoopbackReport report = KnownReport();
    report.distortion.thdNDb = -97.5;
    const std::string page = ReportHtml(report, Limits);
    EXPECT_EQ(Count(page, "16-bit limit"), 1);
}

// The curve passes within two pixels of where each point lies on the default
// range, +6 dB to -24 dB re `zeroDb`.
void ExpectCurveThroughThePoints(const LoopbackReport& report, double zeroDb) {
    const QImage plot = Images(ReportHtml(report, Limits)).at(0);
    const CRect a = ReportPlotArea;
    const QRgb curve = qRgb(0x1F, 0x4E, 0x9A);
    ASSERT_EQ(ReportCurveColor, RGB(0x1F, 0x4E, 0x9A));
    for (const ResponsePoint& point : report.points) {
        const int x =
            a.left + static_cast<int>(std::lround(FreqToX(point.frequencyHz, a.right - a.left)));
        const double share = (6 - (point.levelDb - zeroDb)) / 30;
        const int y = a.top + static_cast<int>(std::lround(share * (a.bottom - a.top)));
        bool found = false;
        for (int dy = -2; dy <= 2 && !found; ++dy)
            for (int dx = -2; dx <= 2 && !found; ++dx)
                found = plot.valid(x + dx, y + dy) && plot.pixel(x + dx, y + dy) == curve;
        EXPECT_TRUE(found) << point.frequencyHz << " Hz, " << point.levelDb << " dB at " << x
                           << ", " << y;
    }
}

TEST(ReportPage, ResponseCurvePassesThroughEveryPoint) {
    const LoopbackReport report = KnownReport();
    ExpectCurveThroughThePoints(report, report.response.referenceDb);
}

// A sweep stopped before its reference: the points it measured, re full scale.
TEST(ReportPage, AResponseWithoutItsReferenceIsDrawnReFullScale) {
    LoopbackReport report = KnownReport();
    std::vector<double> plan;
    for (const ResponsePoint& point : report.points)
        plan.push_back(point.frequencyHz);
    report.points.resize(30);
    SummariseReportResponse(report, plan);
    report.measured.reset();
    const std::string page = ReportHtml(report, Limits);
    EXPECT_NE(page.find("Level re a full-scale sine"), std::string::npos);
    EXPECT_NE(page.find("the reference, was not measured."), std::string::npos);
    ExpectCurveThroughThePoints(report, 0);
}

} // namespace
