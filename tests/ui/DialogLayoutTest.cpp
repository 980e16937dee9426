#include "audio/Audio.h"
#include "res/DialogTemplate.h"
#include "res/Resource.h"
#include "res/Version.h"
#include "ui/AboutDlg.h"
#include "ui/DialogUnits.h"
#include "ui/MainDlg.h"
#include "ui/PlotView.h"

#include <QApplication>
#include <QFontInfo>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

// x * base / 4 and y * base / 8, to the nearest pixel.
QRect Expected(const ControlTemplate& row, int baseX, int baseY) {
    const auto scale = [](int units, int base, double per) {
        return static_cast<int>(std::lround(units * base / per));
    };
    return {scale(row.x, baseX, 4), scale(row.y, baseY, 8), scale(row.width, baseX, 4),
            scale(row.height, baseY, 8)};
}

std::string Text(const QWidget* control) {
    if (const auto* label = qobject_cast<const QLabel*>(control))
        return label->text().toStdString();
    if (const auto* button = qobject_cast<const QAbstractButton*>(control))
        return button->text().toStdString();
    if (const auto* box = qobject_cast<const QGroupBox*>(control))
        return box->title().toStdString();
    return "";
}

bool Has(ControlStyle style, ControlStyle flag) {
    return (style & flag) == flag;
}

struct DialogLayout : ::testing::Test {
    void SetUp() override {
        FftSize = 8192;
        GenPeriod = 32.5;
    }
};

} // namespace

TEST(DialogUnitConversion, RoundsEachValueHalfAwayFromZero) {
    EXPECT_EQ(MulDiv(307, 6, 4), 461) << "460.5";
    EXPECT_EQ(MulDiv(-5, 3, 2), -8) << "-7.5";
    EXPECT_EQ(MulDiv(5, 3, -2), -8);
    EXPECT_EQ(MulDiv(201, 13, 8), 327) << "326.625";
    const DialogUnits units(6, 13);
    EXPECT_EQ(units.toPixels(1, 5, 179, 187), QRect(2, 8, 269, 304));
}

TEST(DialogUnitConversion, TheLayoutGrowsWithTheFont) {
    QFont small = DialogFont(MainDialogTemplate);
    QFont large = small;
    large.setPointSize(small.pointSize() * 2);
    const DialogUnits one(small);
    const DialogUnits two(large);
    EXPECT_NEAR(two.baseX(), 2 * one.baseX(), 1);
    EXPECT_NEAR(two.baseY(), 2 * one.baseY(), 2);
}

TEST_F(DialogLayout, TheDialogFontIsAnEightPointSansSerifThatIsReallyThere) {
    CMainDlg dialog;
    const QFontInfo font(dialog.font());
    EXPECT_EQ(font.family().toStdString(), "DejaVu Sans");
    EXPECT_EQ(font.pointSize(), 8);
}

TEST_F(DialogLayout, EveryControlOfTheTemplateStandsWhereTheTemplatePutsIt) {
    CMainDlg dialog;
    const DialogUnits units(DialogFont(MainDialogTemplate));
    const QRect client = Expected({0, "", ControlClass::Static, "", 0, 0, 0, 307, 201},
                                  units.baseX(), units.baseY());
    EXPECT_EQ(dialog.size(), client.size());

    const std::span<const ControlTemplate> rows = MainDialogTemplate.controls;
    ASSERT_EQ(rows.size(), 29u);
    const QList<QWidget*> children = dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    for (const ControlTemplate& row : rows) {
        SCOPED_TRACE(std::string(row.constant) + " \"" + row.caption + "\"");
        const bool icon = row.kind == ControlClass::Static && (row.style & 0x1F) == SS_ICON;
        const QRect place = Expected(row, units.baseX(), units.baseY());
        const QWidget* control = nullptr;
        for (const QWidget* child : children) {
            const auto* label = qobject_cast<const QLabel*>(child);
            const bool shows = icon ? label && label->pixmap().size() == QSize(32, 32)
                                    : Text(child) == row.caption;
            if (child->geometry() == place && shows)
                control = child;
        }
        ASSERT_NE(control, nullptr) << "no control with the caption at the converted place";
        if (row.id != IDC_STATIC) {
            EXPECT_EQ(dialog.GetDlgItem(row.id), control);
        }
        EXPECT_EQ(control->isEnabled(), !Has(row.style, WS_DISABLED));
        EXPECT_EQ(control->focusPolicy() == Qt::StrongFocus, Has(row.style, WS_TABSTOP));
    }
}

TEST_F(DialogLayout, EachClassOfControlBecomesItsWidget) {
    CMainDlg dialog;
    EXPECT_NE(qobject_cast<PlotView*>(dialog.GetDlgItem(IDC_SPECTRUM)), nullptr);
    EXPECT_NE(qobject_cast<PlotView*>(dialog.GetDlgItem(IDC_SCOPE)), nullptr);

    for (int id : {IDC_MEMORY, IDC_AFC, IDC_REMOVE_DC, IDC_STOP, IDC_NOSE, IDC_HARMONIC,
                   IDC_LEVEL_0DB, IDC_LEVEL_20DB, IDC_LEVEL_OFF}) {
        const auto* button = qobject_cast<QPushButton*>(dialog.GetDlgItem(id));
        ASSERT_NE(button, nullptr) << id;
        EXPECT_TRUE(button->isCheckable()) << id;
        EXPECT_FALSE(button->autoDefault()) << id;
    }
    EXPECT_EQ(Text(dialog.GetDlgItem(IDC_REMOVE_DC)), "-||-");

    const auto* edit = qobject_cast<QLineEdit*>(dialog.GetDlgItem(IDC_FREQUENCY));
    ASSERT_NE(edit, nullptr);
    EXPECT_TRUE(edit->hasFrame());

    const auto* bar = qobject_cast<QScrollBar*>(dialog.GetDlgItem(IDC_OFFSET));
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->orientation(), Qt::Horizontal);

    const auto* power = qobject_cast<QLabel*>(dialog.GetDlgItem(IDC_POWER));
    ASSERT_NE(power, nullptr);
    EXPECT_EQ(power->text(), "Power");
    EXPECT_EQ(power->frameShape(), QFrame::Box);

    const auto* signal = qobject_cast<QGroupBox*>(dialog.GetDlgItem(IDC_SIGNAL_GROUP));
    ASSERT_NE(signal, nullptr);
    EXPECT_EQ(signal->title(), "Signal:");
}

TEST_F(DialogLayout, FramesNeitherCoverNorCatchTheClicksOfTheControlsInside) {
    CMainDlg dialog;
    for (int id : {IDC_MEMORY, IDC_AFC, IDC_REMOVE_DC, IDC_LEVEL_0DB, IDC_SPECTRUM, IDC_SCOPE}) {
        QWidget* control = dialog.GetDlgItem(id);
        EXPECT_EQ(dialog.childAt(control->geometry().center()), control) << id;
    }
}

TEST_F(DialogLayout, TabGoesThroughTheTabStopsInTemplateOrder) {
    CMainDlg dialog;
    const std::vector<int> expected = {IDC_MEMORY,     IDC_AFC,       IDC_FREQUENCY, IDC_LEVEL_0DB,
                                       IDC_LEVEL_20DB, IDC_LEVEL_OFF, IDC_REMOVE_DC};
    std::vector<int> visited;
    QWidget* control = dialog.GetDlgItem(IDC_MEMORY);
    for (std::size_t i = 0; i < expected.size(); ++i) {
        for (int id : expected)
            if (dialog.GetDlgItem(id) == control)
                visited.push_back(id);
        do
            control = control->nextInFocusChain();
        while (control->focusPolicy() != Qt::StrongFocus);
    }
    EXPECT_EQ(visited, expected);
}

TEST_F(DialogLayout, TheAboutBoxShowsTheIconAndFiveLinesOfNotice) {
    CAboutDlg about;
    EXPECT_EQ(about.windowTitle().toStdString(), "About Tembrix®");
    const DialogUnits units(about.font());
    EXPECT_EQ(about.size(), units.toPixels(313, 76));

    std::vector<std::string> lines;
    int icons = 0;
    for (const QLabel* label : about.findChildren<QLabel*>()) {
        if (!label->pixmap().isNull()) {
            ++icons;
            EXPECT_EQ(label->pos(), units.toPixels(10, 10, 0, 0).topLeft());
        } else {
            lines.push_back(label->text().toStdString());
        }
    }
    EXPECT_EQ(icons, 1);
    EXPECT_EQ(lines.size(), 5u);
    for (const std::string& line : lines)
        EXPECT_FALSE(line.empty());
    EXPECT_EQ(lines.front().find(std::string("Tembrix ") + TembrixVersion), 0u)
        << "the version, from the project's";
    EXPECT_TRUE(about.findChildren<QAbstractButton*>().isEmpty());
}

TEST_F(DialogLayout, EnterOrEscapeEndsTheAboutBox) {
    for (int key : {Qt::Key_Return, Qt::Key_Escape}) {
        CAboutDlg about;
        about.show();
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(&about, &press);
        EXPECT_FALSE(about.isVisible()) << key;
    }
}
