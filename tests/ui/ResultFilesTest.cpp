// Saving what the window shows and comparing with a saved response, through
// the spectrum view's menu.
#include "tests/ui/LiveDialog.h"

#include "measure/ResultCsv.h"

#include <QImage>
#include <QMenu>
#include <QTemporaryDir>

#include <fstream>
#include <sstream>

namespace {

struct ResultFiles : LiveDialog {
    QTemporaryDir folder;
    QString chosen;

    void SetUp() override {
        LiveDialog::SetUp();
        CMainDlg::SetFileChooser(
            [this](const QString&, const QString&, const QString&, bool) { return chosen; });
    }
    void TearDown() override {
        CMainDlg::SetFileChooser(nullptr);
        LiveDialog::TearDown();
    }

    QAction* menuItem(std::unique_ptr<QMenu>& menu, int command) {
        menu = dialog->CreateSpectrumMenu();
        for (QAction* action : menu->actions())
            if (action->data().toInt() == command)
                return action;
        return nullptr;
    }
    bool enabled(int command) {
        std::unique_ptr<QMenu> menu;
        return menuItem(menu, command)->isEnabled();
    }
    // Chooses `file` in the file dialog of the command.
    void run(int command, const QString& file) {
        chosen = file;
        std::unique_ptr<QMenu> menu;
        menuItem(menu, command)->trigger();
    }
    QString path(const char* name) const { return folder.filePath(name); }

    // At -25 dB, off the grid's lines.
    void sweepPoints(std::size_t count) {
        dialog->OnAFC();
        while (dialog->Sweep().Points().size() < count) {
            fillTone(44100 / GenPeriod.load(), 0.0562);
            handOver();
        }
    }
};

std::string ReadAll(const QString& path) {
    std::ifstream file(path.toStdString(), std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

TEST_F(ResultFiles, TheSweepsPointsAreSavedAndReadBackAsTheyWereMeasured) {
    EXPECT_FALSE(enabled(ID_SAVE_RESPONSE)) << "no trace yet";
    sweepPoints(3);
    ASSERT_TRUE(enabled(ID_SAVE_RESPONSE));

    run(ID_SAVE_RESPONSE, path("response.csv"));

    EXPECT_TRUE(boxes.boxes().empty());
    const std::string text = ReadAll(path("response.csv"));
    EXPECT_NE(text.find("# level: 0 dB\n"), std::string::npos);
    EXPECT_NE(text.find("# window: quasi-chebyshev\n"), std::string::npos);
    std::vector<ResponsePoint> points;
    std::string error;
    ASSERT_TRUE(ParseResponseCsv(text, points, error)) << error;
    ASSERT_EQ(points.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(points[i].frequencyHz, dialog->Sweep().Points()[i].frequencyHz);
        EXPECT_EQ(points[i].levelDb, dialog->Sweep().Points()[i].levelDb);
    }
}

TEST_F(ResultFiles, TheLastDisplayedSpectrumIsSavedBinByBin) {
    EXPECT_FALSE(enabled(ID_SAVE_SPECTRUM)) << "nothing displayed yet";
    fillTone(1000, 0.5);
    handOver();

    run(ID_SAVE_SPECTRUM, path("spectrum.csv"));

    std::istringstream text(ReadAll(path("spectrum.csv")));
    std::string line;
    int rows = 0;
    while (std::getline(text, line)) {
        if (line.starts_with('#') || line.starts_with("frequency_hz"))
            continue;
        const double level = std::stod(line.substr(line.find(',') + 1));
        ASSERT_EQ(level, Spectrum()[rows]) << line;
        ++rows;
    }
    EXPECT_EQ(rows, FftSize / 2);
}

TEST_F(ResultFiles, ThePictureIsTheDialogAsAPng) {
    run(ID_SAVE_PICTURE, path("dialog.png"));
    const QImage picture(path("dialog.png"), "PNG");
    EXPECT_EQ(picture.size(), dialog->size());
}

TEST_F(ResultFiles, AFailedWriteNamesTheFileAndTheReasonAndLeavesNoFile) {
    fillTone(1000, 0.5);
    handOver();
    // Not writable even by root.
    const QString file = "/proc/tembrix-test/spectrum.csv";

    run(ID_SAVE_SPECTRUM, file);

    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].title, "File error.");
    EXPECT_EQ(boxes.boxes()[0].text.rfind("Cannot write " + file.toStdString() + ": ", 0), 0u)
        << boxes.boxes()[0].text;
    EXPECT_FALSE(QFile::exists(file));
}

TEST_F(ResultFiles, ASavedResponseIsDrawnInItsOwnColourUntilCleared) {
    sweepPoints(6);
    run(ID_SAVE_RESPONSE, path("before.csv"));
    EXPECT_FALSE(enabled(ID_CLEAR_COMPARISON));

    run(ID_COMPARE_RESPONSE, path("before.csv"));
    fillTone(1000, 0.5);
    handOver();
    EXPECT_GT(CountPixels(dialog->SpectrumView(), ComparisonColor), 0);
    EXPECT_TRUE(boxes.boxes().empty());

    run(ID_CLEAR_COMPARISON, "");
    handOver();
    EXPECT_EQ(CountPixels(dialog->SpectrumView(), ComparisonColor), 0);
}

TEST_F(ResultFiles, AFileThatIsNoResponseIsRefusedNamingTheLine) {
    std::ofstream(path("spectrum.csv").toStdString())
        << "# tembrix\nfrequency_hz,level_db,peak_db,window_gain_db,blocks\n10,-20,-20,0,11\n"
           "20,-20\n";

    run(ID_COMPARE_RESPONSE, path("spectrum.csv"));

    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].title, "File error.");
    EXPECT_NE(boxes.boxes()[0].text.find("line 4"), std::string::npos) << boxes.boxes()[0].text;
    EXPECT_FALSE(enabled(ID_CLEAR_COMPARISON)) << "nothing loaded";
}

} // namespace
