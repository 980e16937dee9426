// The window's fast response: the whole program on the virtual card with its
// fast clock, the sweep played and recorded by the program's own audio
// threads while the display cycle goes on, the response drawn over the
// spectrum.
#include "tests/harness/SweepRun.h"

#include "audio/Audio.h"
#include "measure/ResultCsv.h"
#include "plot/PlotGeometry.h"
#include "res/Resource.h"
#include "sim/VirtualCard.h"
#include "ui/MainDlg.h"
#include "ui/PlotView.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <fstream>
#include <functional>
#include <memory>
#include <span>
#include <sstream>
#include <utility>

namespace {

QAction* MenuItem(CMainDlg& dialog, std::unique_ptr<QMenu>& menu, int command) {
    menu = dialog.CreateSpectrumMenu();
    for (QAction* action : menu->actions())
        if (action->data().toInt() == command)
            return action;
    return nullptr;
}

bool ItemEnabled(CMainDlg& dialog, int command) {
    std::unique_ptr<QMenu> menu;
    return MenuItem(dialog, menu, command)->isEnabled();
}

void Choose(CMainDlg& dialog, int command) {
    std::unique_ptr<QMenu> menu;
    MenuItem(dialog, menu, command)->trigger();
}

void Click(CMainDlg& dialog, int id) {
    static_cast<QPushButton*>(dialog.GetDlgItem(id))->click();
}

using DialogStep = std::function<void(CMainDlg&, const ShownBlock&)>;
// True once it has seen what it waited for.
using DialogCheck = std::function<bool(CMainDlg&, const ShownBlock&)>;

constexpr int ChosenAtBlock = 10;

struct FastResponseRun {
    RunResult run;
    ShownBlock chosenAt{}; // the block at which "Fast response" was chosen
    ShownBlock last{};     // the block `after` saw last
    int blocksWhileRunning = 0;
    bool drawn = false; // `after` was satisfied
};

// The program on the virtual card's fast clock with `model`: `prepare` sets
// the window up at the first block, "Fast response" is chosen at the tenth
// (the tone steady by then at what `prepare` set), `during` sees each block while it runs, and
// `after` each block from the third after it ended on (their spectra show
// the new trace over the tone played again) until it is satisfied; the
// program then ends.
FastResponseRun RunFastResponse(const DeviceModel& model, const DialogStep& prepare,
                                const DialogStep& during, const DialogCheck& after) {
    UseVirtualCard(model, VirtualCard::Clock::Fast);
    FastResponseRun fast;
    int block = 0;
    int sinceEnd = -1;
    fast.run = RunProgram(2000, [&](const ShownBlock& shown) {
        CMainDlg& dialog = *RunningDialog();
        ++block;
        if (block == 1 && prepare)
            prepare(dialog, shown);
        if (block == ChosenAtBlock) {
            fast.chosenAt = shown;
            Choose(dialog, ID_FAST_RESPONSE);
        }
        if (block <= ChosenAtBlock)
            return;
        if (dialog.Fast().Running()) {
            ++fast.blocksWhileRunning;
            if (during)
                during(dialog, shown);
            return;
        }
        if (++sinceEnd < 3)
            return;
        fast.last = shown;
        if (after && !after(dialog, shown))
            return;
        fast.drawn = true;
        dialog.reject();
    });
    return fast;
}

constexpr COLORREF Black = RGB(0, 0, 0);

// Whether a pixel of `colour` lies within one pixel of (x, y).
bool TraceNear(PlotView* view, COLORREF colour, int x, int y) {
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx)
            if (view->dc()->GetPixel(x + dx, y + dy) == colour)
                return true;
    return false;
}

// Pixels of `colour` near where each point but the last lies at `levelDb`
// of its frequency: lines are drawn up to their last point, but not through
// it. A point whose place a grid line or the spectrum's curve covers is
// passed over; the points looked at are counted.
int ExpectTraceAt(PlotView* view, COLORREF colour, std::span<const SweepResponsePoint> points,
                  const std::function<double(double f)>& levelDb) {
    const CRect rect = view->viewRect();
    int checked = 0;
    for (std::size_t i = 0; i + 1 < points.size(); ++i) {
        const double f = points[i].frequencyHz;
        const int x = TruncToInt(FreqToX(f, rect.right));
        const int y = DbToY(levelDb(f), rect.bottom);
        const COLORREF pixel = view->dc()->GetPixel(x, y);
        if (pixel != Black && pixel != colour)
            continue;
        ++checked;
        EXPECT_TRUE(TraceNear(view, colour, x, y)) << "at " << f << " Hz";
    }
    return checked;
}

TEST(FastResponse, AFilteredCardsResponseIsDrawnWhereItsModelSays) {
    DeviceModel filters = DeviceModel::IdealWire();
    filters.highPass = {100.0, 2};
    filters.lowPass = {5000.0, 3};
    filters.latencyFrames = 300; // not a whole number of blocks
    const FastResponseRun fast = RunFastResponse(
        filters,
        // Silent: the trace lies at -20 dB, where the AFC sweep would put
        // the tone.
        [](CMainDlg& dialog, const ShownBlock&) { Click(dialog, IDC_LEVEL_OFF); }, nullptr,
        [&](CMainDlg& dialog, const ShownBlock&) {
            const std::optional<SweepResponse>& response = dialog.Fast().Response();
            EXPECT_TRUE(response);
            if (!response)
                return true;
            EXPECT_EQ(response->points.size(), 99u);
            for (const SweepResponsePoint& point : response->points) {
                const double modelDb = filters.ResponseDb(point.frequencyHz);
                if (modelDb > -40) {
                    EXPECT_NEAR(point.gainDb, modelDb, 0.05) << "at " << point.frequencyHz;
                }
            }
            EXPECT_EQ(ExpectTraceAt(dialog.SpectrumView(), FastResponseColor, response->points,
                                    [&](double f) { return filters.ResponseDb(f) - 20; }),
                      98)
                << "drawn over the grid and the spectrum";
            return true;
        });
    EXPECT_TRUE(fast.drawn);
    EXPECT_TRUE(fast.run.boxes.empty());
}

TEST(FastResponse, TheToneComesBackAtItsFrequencyAndLevel) {
    const FastResponseRun fast = RunFastResponse(
        DeviceModel::IdealWire(),
        [](CMainDlg& dialog, const ShownBlock&) {
            Click(dialog, IDC_LEVEL_20DB);
            static_cast<QLineEdit*>(dialog.GetDlgItem(IDC_FREQUENCY))->setText("1000");
            dialog.OnOK();
        },
        nullptr, nullptr);
    ASSERT_TRUE(fast.drawn);
    EXPECT_GT(fast.blocksWhileRunning, 0);
    EXPECT_NEAR(fast.chosenAt.rmsDb, Minus20dBToneDb() + FullScaleSineDb, 0.02);
    EXPECT_NEAR(fast.chosenAt.frequency, 1000, 0.01);
    EXPECT_NEAR(fast.last.rmsDb, fast.chosenAt.rmsDb, 0.02);
    EXPECT_NEAR(fast.last.frequency, 1000, 0.01);
}

TEST(FastResponse, AfcAndTheItemAreDisabledWhileItRunsAndEnabledAfter) {
    bool savable = true;
    const FastResponseRun fast = RunFastResponse(
        DeviceModel::IdealWire(),
        [&](CMainDlg& dialog, const ShownBlock&) {
            savable = ItemEnabled(dialog, ID_SAVE_FAST_RESPONSE);
        },
        [](CMainDlg& dialog, const ShownBlock&) {
            EXPECT_FALSE(dialog.GetDlgItem(IDC_AFC)->isEnabled());
            EXPECT_FALSE(ItemEnabled(dialog, ID_FAST_RESPONSE));
        },
        [](CMainDlg& dialog, const ShownBlock&) {
            EXPECT_TRUE(dialog.GetDlgItem(IDC_AFC)->isEnabled());
            EXPECT_TRUE(ItemEnabled(dialog, ID_FAST_RESPONSE));
            EXPECT_TRUE(ItemEnabled(dialog, ID_SAVE_FAST_RESPONSE));
            return true;
        });
    ASSERT_TRUE(fast.drawn);
    EXPECT_GT(fast.blocksWhileRunning, 0);
    EXPECT_FALSE(savable) << "nothing to save before the first";
}

std::string ReadAll(const QString& path) {
    std::ifstream file(path.toStdString(), std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// Saved as `tembrix response` writes it; "Compare with saved response..."
// reads it back and draws it as the window draws a fast response, at the
// tone's level now.
TEST(FastResponse, ASavedFastResponseIsReadBackAndComparedAtTheTonesLevel) {
    QTemporaryDir folder;
    const QString file = folder.filePath("fast-response.csv");
    CMainDlg::SetFileChooser(
        [&](const QString&, const QString&, const QString&, bool) { return file; });
    DeviceModel lowPass = DeviceModel::IdealWire();
    lowPass.lowPass = {5000.0, 2};
    lowPass.gainDb = -9; // off the grid's lines
    std::vector<SweepResponsePoint> measured;
    double delay = 0;
    std::string text;
    bool compared = false;
    // Measured with the tone at 0 dB, compared with it at -20 dB.
    const FastResponseRun fast =
        RunFastResponse(lowPass, nullptr, nullptr, [&](CMainDlg& dialog, const ShownBlock&) {
            if (!std::exchange(compared, true)) {
                measured = dialog.Fast().Response()->points;
                delay = dialog.Fast().Response()->delaySamples;
                Choose(dialog, ID_SAVE_FAST_RESPONSE);
                text = ReadAll(file);
                Click(dialog, IDC_LEVEL_20DB);
                Choose(dialog, ID_COMPARE_RESPONSE);
                return false; // drawn with the next block
            }
            // The fast response's own trace stays 20 dB above.
            EXPECT_GT(
                ExpectTraceAt(dialog.SpectrumView(), ComparisonColor, measured,
                              [&](double f) { return lowPass.ResponseDb(f) + ToneLevelDb(1); }),
                80)
                << "most points lie in the open";
            return true;
        });
    CMainDlg::SetFileChooser(nullptr);
    ASSERT_TRUE(fast.drawn);
    EXPECT_TRUE(fast.run.boxes.empty());

    EXPECT_NE(text.find("# tembrix "), std::string::npos);
    EXPECT_NE(text.find(" response\n# date: "), std::string::npos) << text.substr(0, 200);
    EXPECT_NE(text.find("\n# level: -6 dBFS\n"), std::string::npos);
    EXPECT_EQ(text.find("\n# window: "), std::string::npos);
    SavedResponse saved;
    std::string error;
    ASSERT_TRUE(ParseSavedResponse(text, saved, error)) << error;
    EXPECT_EQ(saved.kind, SavedResponse::Kind::SweptSine);
    EXPECT_EQ(saved.latencySamples, delay);
    ASSERT_EQ(saved.swept.size(), measured.size());
    for (std::size_t i = 0; i < measured.size(); ++i) {
        EXPECT_EQ(saved.swept[i].frequencyHz, measured[i].frequencyHz);
        EXPECT_EQ(saved.swept[i].gainDb, measured[i].gainDb);
        EXPECT_EQ(saved.swept[i].phaseDeg, measured[i].phaseDeg);
        EXPECT_EQ(saved.swept[i].thdDb, measured[i].thdDb);
    }
}

// No cable: nothing to draw, and a box says what to check.
TEST(FastResponse, NothingComingBackIsNoResponseAndABoxSaysSo) {
    DeviceModel unplugged = DeviceModel::IdealWire();
    unplugged.gainDb = -150; // below the last bit
    bool measured = true;
    const FastResponseRun fast =
        RunFastResponse(unplugged, nullptr, nullptr, [&](CMainDlg& dialog, const ShownBlock&) {
            measured = dialog.Fast().Response().has_value();
            return true;
        });
    ASSERT_TRUE(fast.drawn);
    EXPECT_FALSE(measured);
    ASSERT_EQ(fast.run.boxes.size(), 1u);
    EXPECT_EQ(fast.run.boxes[0].text, "Nothing came back: the input recorded silence. Is the "
                                      "output connected to the input?");
}

// Its response holds the clipping's distortion: drawn, but not without a
// word.
TEST(FastResponse, AClippedRecordingIsDrawnAndABoxSaysSo) {
    DeviceModel loud = DeviceModel::IdealWire();
    loud.gainDb = 12;
    bool measured = false;
    const FastResponseRun fast =
        RunFastResponse(loud, nullptr, nullptr, [&](CMainDlg& dialog, const ShownBlock&) {
            measured = dialog.Fast().Response().has_value();
            return true;
        });
    ASSERT_TRUE(fast.drawn);
    EXPECT_TRUE(measured);
    ASSERT_EQ(fast.run.boxes.size(), 1u);
    EXPECT_EQ(fast.run.boxes[0].text.rfind("The recording reached full scale", 0), 0u)
        << fast.run.boxes[0].text;
}

// The capture thread's overflow, injected as it queues a buffer again after
// a block of the recording, up to `times` times; the count of those asked
// for.
std::shared_ptr<std::atomic<int>> OverflowDuringRecordings(int times) {
    VirtualCard& card = sim::TheVirtualCard();
    auto overflows = std::make_shared<std::atomic<int>>(0);
    card.watchOperations([&card, overflows, times](WaveOperation operation) {
        if (operation == WaveOperation::InPrepare && Recording.Requested() &&
            overflows->fetch_add(1) < times)
            card.injectInputOverflow();
    });
    return overflows;
}

TEST(FastResponse, ARecordingWithAGapIsMadeAgain) {
    std::shared_ptr<std::atomic<int>> overflows;
    bool measured = false;
    const FastResponseRun fast = RunFastResponse(
        DeviceModel::IdealWire(),
        [&](CMainDlg&, const ShownBlock&) { overflows = OverflowDuringRecordings(1); }, nullptr,
        [&](CMainDlg& dialog, const ShownBlock&) {
            measured = dialog.Fast().Response().has_value();
            return true;
        });
    sim::TheVirtualCard().watchOperations(nullptr);
    ASSERT_TRUE(fast.drawn);
    EXPECT_GE(*overflows, 1);
    EXPECT_TRUE(measured);
    EXPECT_TRUE(fast.run.boxes.empty());
}

TEST(FastResponse, AfterThreeRecordingsWithAGapABoxSaysWhy) {
    bool measured = true;
    const FastResponseRun fast = RunFastResponse(
        DeviceModel::IdealWire(),
        [](CMainDlg&, const ShownBlock&) { OverflowDuringRecordings(1000); }, nullptr,
        [&](CMainDlg& dialog, const ShownBlock&) {
            measured = dialog.Fast().Response().has_value();
            EXPECT_TRUE(dialog.GetDlgItem(IDC_AFC)->isEnabled());
            return true;
        });
    sim::TheVirtualCard().watchOperations(nullptr);
    ASSERT_TRUE(fast.drawn);
    EXPECT_FALSE(measured);
    ASSERT_EQ(fast.run.boxes.size(), 1u);
    EXPECT_EQ(fast.run.boxes[0].text,
              "Each of 3 recordings of the sweep held a gap; the last: the input lost frames.");
    EXPECT_EQ(fast.run.boxes[0].title, "Processing error.");
}

// Esc ends the dialog as ever, and the sweep with it: the recording stops,
// and the playback thread has let go of the sweep, which the window frees.
TEST(FastResponse, EscDuringItEndsItAndTheProgram) {
    UseVirtualCard(DeviceModel::IdealWire(), VirtualCard::Clock::Fast);
    bool recording = false;
    bool stopped = false;
    bool letGo = false;
    int block = 0;
    const RunResult run = RunProgram(2000, [&](const ShownBlock&) {
        CMainDlg& dialog = *RunningDialog();
        if (++block == 2)
            Choose(dialog, ID_FAST_RESPONSE);
        if (block != 5)
            return;
        recording = Recording.Requested();
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(&dialog, &escape);
        stopped = !Recording.Requested() && !dialog.Fast().Running();
        const std::int16_t sample = 0;
        letGo = QueuedSignal.Queue({{&sample, 1}, 0, 0});
        QueuedSignal.Finish(SoundOutThread);
    });
    EXPECT_TRUE(recording) << "Esc came while the sweep played";
    EXPECT_TRUE(stopped);
    EXPECT_TRUE(letGo);
    EXPECT_EQ(run.blocks.size(), 5u) << "the dialog ended with Esc";
    EXPECT_TRUE(run.boxes.empty());
}

} // namespace
