// The sweep's measurement against the truth: the whole program on the virtual
// card, whose simulated device states its own frequency response.
#include "tests/harness/SweepRun.h"

#include "cli/MeasureApp.h"
#include "measure/ResultCsv.h"
#include "res/Resource.h"
#include "ui/MainDlg.h"

#include <QPushButton>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr double Tolerance = 0.05; // dB

// Every point against the model's response plus the tone's level; the largest
// error.
double ExpectResponse(const SweepRun& sweep, const DeviceModel& model) {
    double largest = 0;
    for (const SweepMeasurement& point : sweep.points) {
        const double expected = model.ResponseDb(point.f) + Minus20dBToneDb();
        EXPECT_NEAR(point.levelDb, expected, Tolerance) << "at " << point.f << " Hz";
        largest = std::max(largest, std::fabs(point.levelDb - expected));
    }
    return largest;
}

void ExpectCompleteSweep(const SweepRun& sweep) {
    EXPECT_TRUE(sweep.ended);
    EXPECT_TRUE(sweep.run.boxes.empty());
    ASSERT_EQ(sweep.points.size(), 99u);
    for (int k = 0; k < 99; ++k)
        EXPECT_NEAR(sweep.points[k].f, 10.7666015625 * std::pow(2205.0, k / 100.0), 1e-6) << k;
}

TEST(SweepMeasurement, AnIdealWireMeasuresFlatAtTheToneLevel) {
    const DeviceModel wire = DeviceModel::IdealWire();
    UseVirtualCard(wire, VirtualCard::Clock::Fast);
    const SweepRun sweep = RunSweep(20000);
    ExpectCompleteSweep(sweep);
    const double largest = ExpectResponse(sweep, wire);
    RecordProperty("largest_error_db", std::to_string(largest));
    RecordProperty("seconds", std::to_string(sweep.seconds));
    EXPECT_LT(sweep.seconds, 60) << "the fast clock sweeps in seconds";
}

TEST(SweepMeasurement, AFilteredDeviceMeasuresItsOwnResponse) {
    DeviceModel filters = DeviceModel::IdealWire();
    filters.highPass = {100.0, 2};
    filters.lowPass = {10000.0, 2}; // the top point 37 LSB above silence
    ASSERT_TRUE(filters.valid());
    UseVirtualCard(filters, VirtualCard::Clock::Fast);
    const SweepRun sweep = RunSweep(20000);
    ExpectCompleteSweep(sweep);
    const double largest = ExpectResponse(sweep, filters);
    RecordProperty("largest_error_db", std::to_string(largest));
}

TEST(SweepMeasurement, HumAsStrongAsTheToneHoldsTheSweepWithOneBoxAndBlocksKeepComing) {
    DeviceModel humming = DeviceModel::IdealWire();
    humming.humDb = -20.0;
    UseVirtualCard(humming, VirtualCard::Clock::Fast);
    std::vector<SweepMeasurement> points;
    CMainDlg::SetSweepObserver([&](const ResponsePoint& point) {
        points.push_back({point.frequencyHz, point.peakDb, point.levelDb});
    });
    const RunResult run = RunProgram(60, [](const ShownBlock&) {
        CMainDlg* dialog = RunningDialog();
        if (!dialog->m_AFC) {
            static_cast<QPushButton*>(dialog->GetDlgItem(IDC_LEVEL_20DB))->click();
            dialog->OnAFC();
        }
    });
    CMainDlg::SetSweepObserver(nullptr);
    EXPECT_EQ(run.blocks.size(), 60u) << "the display cycle goes on";
    EXPECT_TRUE(points.empty());
    ASSERT_EQ(run.boxes.size(), 1u);
    EXPECT_EQ(run.boxes[0].text, "There are noise lines.");
    EXPECT_EQ(run.boxes[0].title, "Processing error.");
}

// The command line's sweep in this process, so that the card can be reached
// while it runs: a recording lost a quarter of the way through is a gap,
// which restarts the settling, so that no point is taken from the damaged
// block, and which the summary counts.
TEST(SweepMeasurement, AnInputOverflowMidSweepNeverBecomesAPointAndIsCounted) {
    const DeviceModel wire = DeviceModel::IdealWire();
    UseVirtualCard(wire, VirtualCard::Clock::Fast);
    const std::filesystem::path csv =
        std::filesystem::temp_directory_path() / ("tembrix-gap-" + std::to_string(getpid()));
    cli::CommandLine command;
    command.subcommand = cli::Subcommand::Sweep;
    command.audio = platform::AudioBackend::Virtual;
    command.fast = true;
    command.level = 1; // -20 dB
    command.virtualCard = wire;
    command.csvPath = csv.string();

    std::atomic<bool> sweeping{true};
    std::thread overflow([&] {
        constexpr std::uint64_t QuarterOfTheSweep = 300 * 8192;
        while (sweeping && sim::TheVirtualCard().framesElapsed() < QuarterOfTheSweep)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        sim::TheVirtualCard().injectInputOverflow();
    });
    testing::internal::CaptureStderr();
    cli::CMeasureApp measurement(command);
    measurement.InitInstance();
    const std::string err = testing::internal::GetCapturedStderr();
    sweeping = false;
    overflow.join();

    ASSERT_EQ(measurement.ExitStatus(), 0) << err;
    EXPECT_THAT(err, testing::HasSubstr("\nGaps: 1 in the input, 0 in the output"));
    std::ifstream file(csv);
    std::stringstream text;
    text << file.rdbuf();
    std::filesystem::remove(csv);
    std::vector<ResponsePoint> points;
    std::string error;
    ASSERT_TRUE(ParseResponseCsv(text.str(), points, error)) << error;
    ASSERT_EQ(points.size(), 99u);
    for (const ResponsePoint& point : points)
        EXPECT_NEAR(point.levelDb, Minus20dBToneDb(), Tolerance) << "at " << point.frequencyHz;
}

} // namespace
