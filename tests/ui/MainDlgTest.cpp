#include "ui/MainDlg.h"
#include "audio/Audio.h"
#include "platform/MessageBox.h"
#include "res/Resource.h"
#include "tests/ui/LevelRecorder.h"
#include "ui/AboutDlg.h"
#include "ui/PlotView.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace {

constexpr COLORREF Black = RGB(0, 0, 0);

struct MainDialog : ::testing::Test {
    platform::BoxRecorder boxes;
    std::unique_ptr<CMainDlg> dialog;

    void SetUp() override {
        FftSize = 8192;
        GenPeriod = 32.5;
        dialog = std::make_unique<CMainDlg>();
    }

    template <class T = QWidget> T* item(int id) const {
        return static_cast<T*>(dialog->GetDlgItem(id));
    }
    QLineEdit* frequency() const { return item<QLineEdit>(IDC_FREQUENCY); }

    // Enter pressed in the frequency field, as a user types it.
    void enterFrequency(const char* text) const {
        frequency()->setText(QString::fromUtf8(text));
        pressKey(frequency(), Qt::Key_Return);
    }

    static void pressKey(QWidget* target, int key) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(target, &press);
    }

    std::string caption() const { return dialog->windowTitle().toStdString(); }
};

// Runs `action`; every pop-up menu or modal dialog it opens is closed as soon
// as it shows, after `inspect` has looked at it. Nothing can block the test.
void WhileOpen(const std::function<void()>& action, const std::function<void(QWidget*)>& inspect) {
    QTimer closer;
    closer.setInterval(0);
    QObject::connect(&closer, &QTimer::timeout, [&] {
        QWidget* open = QApplication::activePopupWidget();
        if (!open)
            open = QApplication::activeModalWidget();
        if (!open)
            return;
        inspect(open);
        open->close();
    });
    closer.start();
    action();
}

struct MenuItem {
    std::string text;
    bool checked;
    bool operator==(const MenuItem&) const = default;
};

std::vector<MenuItem> Items(const QMenu& menu) {
    std::vector<MenuItem> items;
    for (const QAction* action : menu.actions())
        items.push_back({action->text().toStdString(), action->isChecked()});
    return items;
}

// The menus `action` pops up, with their items.
std::vector<std::vector<MenuItem>> MenusShown(const std::function<void()>& action) {
    std::vector<std::vector<MenuItem>> menus;
    WhileOpen(action, [&](QWidget* open) {
        if (const auto* menu = qobject_cast<QMenu*>(open))
            menus.push_back(Items(*menu));
    });
    return menus;
}

QAction* FindAction(const QMenu& menu, const char* text) {
    for (QAction* action : menu.actions())
        if (action->text() == QString::fromUtf8(text))
            return action;
    return nullptr;
}

} // namespace

TEST_F(MainDialog, OpensWithItsSettingsInTheControls) {
    EXPECT_EQ(frequency()->text().toStdString(), "1356.92307692308");
    EXPECT_DOUBLE_EQ(dialog->m_Frequency, 44100 / 32.5);
    EXPECT_FALSE(item<QPushButton>(IDC_MEMORY)->isChecked());
    EXPECT_FALSE(item<QPushButton>(IDC_AFC)->isChecked());
    EXPECT_TRUE(item<QPushButton>(IDC_LEVEL_0DB)->isChecked());
    EXPECT_FALSE(item<QPushButton>(IDC_LEVEL_20DB)->isChecked());
    EXPECT_TRUE(item<QPushButton>(IDC_REMOVE_DC)->isChecked());
    EXPECT_EQ(caption(), "Sound card Tembrix®, used quasi-Chebishev window.");
}

TEST_F(MainDialog, InitialisationMakesPensScrollRangeAndWindow) {
    EXPECT_EQ(dialog->m_PenHGrid.Color(), RGB(128, 0, 0));
    EXPECT_EQ(dialog->m_PenVGrid.Color(), RGB(196, 0, 0));
    EXPECT_EQ(dialog->m_PenHMark.Color(), RGB(173, 21, 181));
    EXPECT_EQ(dialog->m_PenVMark.Color(), RGB(228, 87, 236));
    EXPECT_EQ(dialog->m_PenCurve.Color(), RGB(0, 255, 0));
    EXPECT_EQ(dialog->m_ScopeColor, RGB(0, 255, 0));

    const auto* offset = item<QScrollBar>(IDC_OFFSET);
    EXPECT_EQ(offset->minimum(), 0);
    EXPECT_EQ(offset->maximum(), 100);
    EXPECT_EQ(offset->value(), 0);

    EXPECT_EQ(dialog->m_FFT.Order(), 13);
    EXPECT_EQ(dialog->m_FFT.WindowType(), CFFT::QuasiChebyshev);

    const QList<QSize> sizes = dialog->windowIcon().availableSizes();
    EXPECT_TRUE(sizes.contains(QSize(32, 32)));
    EXPECT_TRUE(sizes.contains(QSize(16, 16)));
}

TEST(MainDialogBlockLength, ABlockLengthThatIsNoPowerOfTwoLeavesTheEngineIdleInsteadOfHanging) {
    FftSize = 1000;
    GenPeriod = 32.5;
    CMainDlg dialog;
    EXPECT_EQ(dialog.m_FFT.Order(), 0);
    FftSize = 8192;
}

TEST_F(MainDialog, DataExchangeRunsBothWays) {
    dialog->m_Frequency = 1000.25;
    dialog->m_Memory = 1;
    dialog->m_AFC = 1;
    dialog->m_Level = 2;
    dialog->m_RemoveDC = 0;
    EXPECT_TRUE(dialog->UpdateData(FALSE));
    EXPECT_EQ(frequency()->text().toStdString(), "1000.25");
    EXPECT_TRUE(item<QPushButton>(IDC_MEMORY)->isChecked());
    EXPECT_TRUE(item<QPushButton>(IDC_AFC)->isChecked());
    EXPECT_TRUE(item<QPushButton>(IDC_LEVEL_OFF)->isChecked());
    EXPECT_FALSE(item<QPushButton>(IDC_LEVEL_0DB)->isChecked());
    EXPECT_FALSE(item<QPushButton>(IDC_REMOVE_DC)->isChecked());

    frequency()->setText(" 2.5e3 ");
    item<QPushButton>(IDC_MEMORY)->setChecked(false);
    item<QPushButton>(IDC_LEVEL_20DB)->setChecked(true);
    item<QPushButton>(IDC_REMOVE_DC)->setChecked(true);
    EXPECT_TRUE(dialog->UpdateData(TRUE));
    EXPECT_EQ(dialog->m_Frequency, 2500.0);
    EXPECT_EQ(dialog->m_Memory, 0);
    EXPECT_EQ(dialog->m_AFC, 1);
    EXPECT_EQ(dialog->m_Level, 1);
    EXPECT_EQ(dialog->m_RemoveDC, 1);
    EXPECT_TRUE(boxes.boxes().empty());
}

TEST_F(MainDialog, ALevelOutsideTheGroupChecksNoButtonAndReadsBackAsNone) {
    dialog->m_Level = -1;
    dialog->UpdateData(FALSE);
    for (int id : {IDC_LEVEL_0DB, IDC_LEVEL_20DB, IDC_LEVEL_OFF})
        EXPECT_FALSE(item<QPushButton>(id)->isChecked()) << id;
    dialog->UpdateData(TRUE);
    EXPECT_EQ(dialog->m_Level, -1);
}

TEST_F(MainDialog, TextThatIsNotANumberStopsTheExchangeAtTheField) {
    frequency()->setText("12 Hz");
    item<QPushButton>(IDC_MEMORY)->setChecked(true);
    EXPECT_FALSE(dialog->UpdateData(TRUE));
    EXPECT_DOUBLE_EQ(dialog->m_Frequency, 44100 / 32.5);
    EXPECT_EQ(dialog->m_Memory, 0) << "bindings after the field are not read";
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, "Please enter a number.");
    EXPECT_EQ(boxes.boxes()[0].title, "Tembrix");
    EXPECT_EQ(boxes.boxes()[0].style, MB_ICONERROR);
    EXPECT_EQ(frequency()->selectedText(), "12 Hz") << "the text is selected for retyping";
}

TEST_F(MainDialog, EnterAppliesAFrequencyWithinTheLimitsThemselvesIncluded) {
    enterFrequency("22045");
    EXPECT_EQ(dialog->m_Frequency, 22045.0);
    EXPECT_EQ(GenPeriod.load(), 44100 / 22045.0);
    EXPECT_EQ(frequency()->text().toStdString(), "22045");

    enterFrequency("10.7666015625");
    EXPECT_EQ(GenPeriod.load(), 4096.0);
    EXPECT_EQ(frequency()->text().toStdString(), "10.7666015625");
    EXPECT_TRUE(boxes.boxes().empty());
}

TEST_F(MainDialog, EnterRefusesAFrequencyBeyondTheLimitsAndKeepsThePreviousOne) {
    enterFrequency("1000");
    for (const char* text : {"22045.0001", "10.7"}) {
        boxes.clear();
        enterFrequency(text);
        ASSERT_EQ(boxes.boxes().size(), 1u) << text;
        EXPECT_EQ(boxes.boxes()[0].text, "Frequency must be in range 10.8  ...  22045.!");
        EXPECT_EQ(boxes.boxes()[0].title, "Input error.");
        EXPECT_EQ(boxes.boxes()[0].style, MB_ICONERROR);
        EXPECT_EQ(dialog->m_Frequency, 1000.0) << text;
        EXPECT_EQ(GenPeriod.load(), 44.1) << text;
        EXPECT_EQ(frequency()->text().toStdString(), "1000") << text;
    }
}

TEST_F(MainDialog, EnterWithTextThatIsNotANumberResetsTheGeneratorToTheUnchangedFrequency) {
    for (const char* text : {"abc", "nan", "inf", ""}) {
        boxes.clear();
        GenPeriod = 99.0;
        enterFrequency(text);
        ASSERT_EQ(boxes.boxes().size(), 1u) << text;
        EXPECT_EQ(boxes.boxes()[0].text, "Please enter a number.");
        EXPECT_DOUBLE_EQ(dialog->m_Frequency, 44100 / 32.5) << text;
        EXPECT_DOUBLE_EQ(GenPeriod.load(), 32.5) << text;
        EXPECT_EQ(frequency()->text().toStdString(), "1356.92307692308") << text;
    }
}

TEST_F(MainDialog, EnterDoesNothingWhileTheFieldIsDisabled) {
    dialog->show();
    frequency()->setEnabled(false);
    frequency()->setText("5");
    pressKey(dialog.get(), Qt::Key_Return);
    EXPECT_TRUE(boxes.boxes().empty());
    EXPECT_EQ(GenPeriod.load(), 32.5);
    EXPECT_EQ(frequency()->text().toStdString(), "5");
    EXPECT_TRUE(dialog->isVisible()) << "Enter never ends the dialog";
}

TEST_F(MainDialog, EnterOnAFocusedButtonAppliesTheFrequencyAndLeavesTheButtonAlone) {
    frequency()->setText("1000");
    pressKey(item(IDC_MEMORY), Qt::Key_Return);
    EXPECT_EQ(GenPeriod.load(), 44.1);
    EXPECT_FALSE(item<QPushButton>(IDC_MEMORY)->isChecked());
}

TEST_F(MainDialog, EscapeEndsTheDialog) {
    QTimer::singleShot(0, [this] { pressKey(dialog.get(), Qt::Key_Escape); });
    EXPECT_EQ(dialog->DoModal(), QDialog::Rejected);
    EXPECT_FALSE(dialog->isVisible());
}

TEST_F(MainDialog, TheSpectrumMenuTicksTheWindowInUseAndSwitchesIt) {
    std::unique_ptr<QMenu> menu = dialog->CreateSpectrumMenu();
    EXPECT_EQ(menu->title(), "Spectrum");
    EXPECT_EQ(Items(*menu), (std::vector<MenuItem>{{"Quasi-Chebishev", true},
                                                   {"Rectangle", false},
                                                   {"", false},
                                                   {"Save response as CSV...", false},
                                                   {"Save spectrum as CSV...", false},
                                                   {"Save picture...", false},
                                                   {"Fast response", false},
                                                   {"Save fast response as CSV...", false},
                                                   {"Compare with saved response...", false},
                                                   {"Clear comparison", false}}));

    FindAction(*menu, "Rectangle")->trigger();
    EXPECT_EQ(caption(), "Sound card Tembrix®, used rectangle window.");
    EXPECT_EQ(dialog->m_FFT.WindowType(), CFFT::Rectangle);
    EXPECT_EQ(dialog->m_FFT.Order(), 13);
    const std::span<const double> window = dialog->m_FFT.Window();
    EXPECT_EQ(window.front(), window[window.size() / 2]) << "the next transform is unwindowed";
    const std::vector<MenuItem> ticked = Items(*dialog->CreateSpectrumMenu());
    EXPECT_EQ(std::vector<MenuItem>(ticked.begin(), ticked.begin() + 2),
              (std::vector<MenuItem>{{"Quasi-Chebishev", false}, {"Rectangle", true}}));

    FindAction(*menu, "Quasi-Chebishev")->trigger();
    EXPECT_EQ(caption(), "Sound card Tembrix®, used quasi-Chebishev window.");
    EXPECT_EQ(dialog->m_FFT.WindowType(), CFFT::QuasiChebyshev);
}

TEST_F(MainDialog, ARightClickShowsTheSpectrumMenuOnlyOverTheSpectrumView) {
    dialog->show();
    const auto rightClick = [](QWidget* target) {
        const QPoint centre = target->rect().center();
        QContextMenuEvent event(QContextMenuEvent::Mouse, centre, target->mapToGlobal(centre));
        QApplication::sendEvent(target, &event);
    };
    const auto overView = MenusShown([&] { rightClick(item(IDC_SPECTRUM)); });
    ASSERT_EQ(overView.size(), 1u);
    ASSERT_GE(overView[0].size(), 2u);
    EXPECT_EQ(std::vector<MenuItem>(overView[0].begin(), overView[0].begin() + 2),
              (std::vector<MenuItem>{{"Quasi-Chebishev", true}, {"Rectangle", false}}));

    EXPECT_TRUE(MenusShown([&] { rightClick(item(IDC_SCOPE)); }).empty());
    EXPECT_TRUE(MenusShown([&] { rightClick(item(IDC_FREQUENCY_LABEL)); }).empty());
    EXPECT_TRUE(MenusShown([&] { dialog->OnContextMenu(QPoint(-1, -1)); }).empty())
        << "the keyboard's context menu";
}

TEST_F(MainDialog, LevelButtonsTellThePlaybackThreadAndTheLevelFollows) {
    SoundOutThread = AfxBeginThread(&LevelRecorder::runtimeClass);
    ASSERT_NE(SoundOutThread, nullptr);

    item<QPushButton>(IDC_LEVEL_20DB)->click();
    EXPECT_EQ(dialog->m_Level, 1);
    item<QPushButton>(IDC_LEVEL_OFF)->click();
    EXPECT_EQ(dialog->m_Level, 2);
    item<QPushButton>(IDC_LEVEL_0DB)->click();
    EXPECT_EQ(dialog->m_Level, 0);
    EXPECT_FALSE(item<QPushButton>(IDC_LEVEL_OFF)->isChecked()) << "the group is exclusive";

    EXPECT_EQ(LevelRecorder::Received(3), (std::vector<WPARAM>{6554, 0, 65536}));
    SoundOutThread->PostThreadMessage(LevelRecorder::WM_QUIT_RECORDER, 0, 0);
    SoundOutThread = nullptr;
}

TEST_F(MainDialog, LevelButtonsWithoutAPlaybackThreadStillSetTheLevel) {
    SoundOutThread = nullptr;
    item<QPushButton>(IDC_LEVEL_20DB)->click();
    EXPECT_EQ(dialog->m_Level, 1);
}

TEST_F(MainDialog, OptionButtonsKeepTheirFlags) {
    item<QPushButton>(IDC_MEMORY)->click();
    EXPECT_EQ(dialog->m_Memory, 1);
    item<QPushButton>(IDC_REMOVE_DC)->click();
    EXPECT_EQ(dialog->m_RemoveDC, 0);
    item<QPushButton>(IDC_AFC)->click();
    EXPECT_EQ(dialog->m_AFC, 1);
    item<QPushButton>(IDC_AFC)->click();
    EXPECT_EQ(dialog->m_AFC, 0);
}

TEST_F(MainDialog, TheOffsetScrollBarMovesByTheNotifiedStepsWithinZeroToHundred) {
    auto* offset = item<QScrollBar>(IDC_OFFSET);
    const auto scroll = [&](UINT code, UINT position = 0) {
        dialog->OnHScroll(code, position, offset);
        return offset->value();
    };
    EXPECT_EQ(scroll(SB_RIGHT), 100);
    EXPECT_EQ(scroll(SB_LINERIGHT), 100) << "held at the end";
    EXPECT_EQ(scroll(SB_PAGELEFT), 95);
    EXPECT_EQ(scroll(SB_LINELEFT), 94);
    EXPECT_EQ(scroll(SB_LEFT), 0);
    EXPECT_EQ(scroll(SB_THUMBTRACK, 3), 3);
    EXPECT_EQ(scroll(SB_PAGELEFT), 0);
    EXPECT_EQ(scroll(SB_PAGERIGHT), 5);
    EXPECT_EQ(scroll(SB_THUMBPOSITION, 250), 100);
    EXPECT_EQ(scroll(SB_ENDSCROLL, 7), 100);
}

TEST_F(MainDialog, WhatTheUserDoesToTheScrollBarArrivesAsItsNotification) {
    auto* offset = item<QScrollBar>(IDC_OFFSET);
    offset->triggerAction(QAbstractSlider::SliderPageStepAdd);
    EXPECT_EQ(offset->value(), 5);
    offset->triggerAction(QAbstractSlider::SliderSingleStepSub);
    EXPECT_EQ(offset->value(), 4);
    offset->triggerAction(QAbstractSlider::SliderToMaximum);
    EXPECT_EQ(offset->value(), 100);
    offset->setSliderPosition(37);
    EXPECT_EQ(offset->value(), 37);
}

TEST_F(MainDialog, TheIconMenuEndsWithTheAboutItemThatOpensTheAboutBox) {
    const QList<QAction*> actions = dialog->GetSystemMenu()->actions();
    ASSERT_GE(actions.size(), 2);
    QAction* about = actions.last();
    EXPECT_EQ(about->text(), "&About Tembrix...");
    EXPECT_EQ(about->shortcut(), QKeySequence(Qt::Key_F1));
    EXPECT_TRUE(actions[actions.size() - 2]->isSeparator());
    EXPECT_TRUE(dialog->actions().contains(about)) << "F1 works anywhere in the dialog";

    std::vector<std::string> opened;
    WhileOpen([&] { about->trigger(); },
              [&](QWidget* open) {
                  if (qobject_cast<CAboutDlg*>(open))
                      opened.push_back(open->windowTitle().toStdString());
              });
    EXPECT_EQ(opened, std::vector<std::string>{"About Tembrix®"});
}

TEST_F(MainDialog, AClickOnTheIconOpensItsMenu) {
    dialog->show();
    QWidget* icon = nullptr;
    for (QLabel* label : dialog->findChildren<QLabel*>())
        if (!label->pixmap().isNull())
            icon = label;
    ASSERT_NE(icon, nullptr);
    const auto menus = MenusShown([&] {
        QMouseEvent press(QEvent::MouseButtonPress, QPointF(4, 4), icon->mapToGlobal(QPointF(4, 4)),
                          Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(icon, &press);
        QApplication::processEvents();
    });
    ASSERT_EQ(menus.size(), 1u);
    EXPECT_EQ(menus[0].back().text, "&About Tembrix...");
}

TEST_F(MainDialog, OtherSystemCommandsBehaveAsUsual) {
    dialog->show();
    int aboutBoxes = 0;
    WhileOpen([&] { dialog->OnSysCommand(IDM_ABOUTBOX | 0x3, 0); },
              [&](QWidget* open) { aboutBoxes += qobject_cast<CAboutDlg*>(open) != nullptr; });
    EXPECT_EQ(aboutBoxes, 1) << "the low four bits of a system command are the system's";
    EXPECT_TRUE(dialog->isVisible());
    dialog->OnSysCommand(SC_CLOSE, 0);
    EXPECT_FALSE(dialog->isVisible());
}

TEST_F(MainDialog, AnExposeErasesBothViewsAndDrawsTheirGrids) {
    dialog->show();
    QApplication::processEvents();
    PlotView* spectrum = dialog->SpectrumView();
    PlotView* scope = dialog->ScopeView();
    spectrum->dc()->SetPixel(3, 3, RGB(255, 255, 0));
    scope->dc()->SetPixel(3, 3, RGB(255, 255, 0));

    // A control that repaints is no expose: the views keep their pixels.
    item(IDC_POWER)->repaint();
    EXPECT_EQ(spectrum->dc()->GetPixel(3, 3), RGB(255, 255, 0));

    dialog->repaint();
    EXPECT_EQ(spectrum->dc()->GetPixel(3, 3), Black);
    EXPECT_EQ(scope->dc()->GetPixel(3, 3), Black);
    const CRect spectrumRect = spectrum->viewRect();
    const int zeroDb = static_cast<int>(2 * (spectrumRect.bottom * 0.05));
    EXPECT_EQ(spectrum->dc()->GetPixel(spectrumRect.right / 2, zeroDb), RGB(173, 21, 181));
    const CRect scopeRect = scope->viewRect();
    const int centre = static_cast<int>(5 * (scopeRect.right * 0.1));
    EXPECT_EQ(scope->dc()->GetPixel(centre, 1), RGB(228, 87, 236));
}

TEST_F(MainDialog, TheViewsShowTheirSurfacesUnchanged) {
    dialog->show();
    PlotView* scope = dialog->ScopeView();
    const CRect rect = scope->viewRect();
    EXPECT_EQ(rect.right, scope->width() - 1);
    EXPECT_EQ(rect.bottom, scope->height() - 1);
    scope->Erase();
    scope->dc()->SetPixel(5, 6, RGB(0, 255, 0));
    const QImage shown = scope->grab().toImage();
    EXPECT_EQ(shown.pixel(5, 6), qRgb(0, 255, 0));
    EXPECT_EQ(shown.pixel(6, 6), qRgb(0, 0, 0));
}
