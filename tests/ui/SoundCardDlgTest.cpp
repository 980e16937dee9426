// The "Sound card..." dialog, its item on the icon menu, and the choice
// remembered for the next run.
#include "ui/SoundCardDlg.h"
#include "platform/AudioDevices.h"
#include "tests/ui/LiveDialog.h"
#include "ui/SoundCardSettings.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QTemporaryDir>

#include <gmock/gmock.h>

#include <chrono>
#include <thread>
#include <vector>

namespace {

using platform::AudioDeviceInfo;
using platform::DeviceChoice;
using testing::HasSubstr;

const std::string Analog = "HDA Intel PCH: ALC3246 Analog (hw:0,0) (ALSA)";
const std::string UsbLine = "USB Audio: Line (hw:1,0) (ALSA)"; // a mono input
const std::string Pulse = "pulse (ALSA)";
const std::string Hdmi = "HDA Intel PCH: HDMI 0 (hw:0,3) (ALSA)"; // output only

const std::vector<AudioDeviceInfo> Devices = {
    {0, Analog, "ALSA", 2, 2, false, false},
    {1, UsbLine, "ALSA", 1, 0, false, false},
    {2, Pulse, "ALSA", 32, 32, true, true},
    {3, Hdmi, "ALSA", 0, 8, false, false},
};

std::vector<std::string> Rows(const QListWidget* list) {
    std::vector<std::string> rows;
    for (int i = 0; i < list->count(); ++i)
        rows.push_back(list->item(i)->text().toStdString());
    return rows;
}

std::string Selected(const QListWidget* list) {
    return list->currentItem() ? list->currentItem()->text().toStdString() : "";
}

TEST(SoundCardDialog, ListsEachDirectionsDevicesWithTheDefaultMarkedAndTheCurrentSelected) {
    const CSoundCardDlg dialog(Devices, {"", Hdmi, 2});
    const std::string pulseDefault = Pulse + " (default)";
    EXPECT_EQ(Rows(dialog.InputList()), (std::vector{Analog, UsbLine, pulseDefault}));
    EXPECT_EQ(Rows(dialog.OutputList()), (std::vector{Analog, pulseDefault, Hdmi}));
    EXPECT_EQ(Selected(dialog.InputList()), pulseDefault);
    EXPECT_EQ(Selected(dialog.OutputList()), Hdmi);
    EXPECT_EQ(dialog.ChannelBox()->value(), 2);
    EXPECT_EQ(dialog.Choice(), (DeviceChoice{"", Hdmi, 2})) << "left alone, the default stays";
}

TEST(SoundCardDialog, ReturnsTheSelectedDevicesAndAChannelTheInputHas) {
    const CSoundCardDlg dialog(Devices, {"", "", 2});
    dialog.InputList()->setCurrentRow(1);
    dialog.OutputList()->setCurrentRow(0);
    EXPECT_EQ(dialog.Choice(), (DeviceChoice{UsbLine, Analog, 1}));
}

// QSettings writes under a folder of the test's own.
struct TemporaryConfig {
    QTemporaryDir folder;
    TemporaryConfig() {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder.path());
    }
    bool written() const { return QFile::exists(folder.path() + "/tembrix/tembrix.conf"); }
};

TEST(SoundCardSettings, ARememberedDeviceThatIsGoneFallsBackToTheDefaultWithALine) {
    const TemporaryConfig config;
    const DeviceChoice remembered{UsbLine, "Gone: its output (ALSA)", 2};
    ASSERT_TRUE(ui::RememberSoundCardChoice(remembered));
    ASSERT_TRUE(config.written());
    ASSERT_EQ(ui::RememberedSoundCardChoice(), remembered);

    testing::internal::CaptureStderr();
    const DeviceChoice kept = ui::KeepListedDevices(remembered, Devices);
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(kept, (DeviceChoice{UsbLine, "", 1})) << "the USB input has one channel";
    EXPECT_THAT(said, HasSubstr("output device \"Gone: its output (ALSA)\""));
    EXPECT_THAT(said, HasSubstr("input channel 2"));
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 2);
    EXPECT_EQ(ui::KeepListedDevices({Hdmi, Hdmi, 1}, Devices), (DeviceChoice{"", Hdmi, 1}))
        << "an output is no input";
}

TEST(SoundCardSettings, ARememberedInputChannelThatIsNoChannelFallsBackToTheFirstWithALine) {
    const struct {
        const char* written;
        const char* line;
    } cases[] = {
        {"5", "tembrix: the remembered input channel 5 is not one of 1 to 2: using 1\n"},
        {"abc", "tembrix: the remembered input channel \"abc\" is not a number: using 1\n"},
    };
    for (const auto& edited : cases) {
        SCOPED_TRACE(edited.written);
        const TemporaryConfig config;
        ASSERT_TRUE(QDir(config.folder.path()).mkpath("tembrix"));
        QFile file(config.folder.path() + "/tembrix/tembrix.conf");
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray("[soundCard]\ninputChannel=") + edited.written + "\n");
        file.close();

        testing::internal::CaptureStderr();
        const DeviceChoice remembered = ui::RememberedSoundCardChoice();
        EXPECT_EQ(testing::internal::GetCapturedStderr(), edited.line);
        EXPECT_EQ(remembered.inputChannel, 1);
    }
}

struct SoundCardItem : LiveDialog {
    TemporaryConfig config;
    std::vector<DeviceChoice> offered;
    std::optional<DeviceChoice> answer;

    void SetUp() override {
        platform::ChooseSystemDevices({});
        CMainDlg::SetSoundCardChooser([this](QWidget*, const DeviceChoice& current) {
            offered.push_back(current);
            return answer;
        });
        LiveDialog::SetUp();
    }
    void TearDown() override {
        CMainDlg::SetSoundCardChooser(nullptr);
        platform::ChooseSystemDevices({});
        LiveDialog::TearDown();
    }

    QAction* item() const {
        const QList<QAction*> actions = dialog->GetSystemMenu()->actions();
        const auto found = std::find_if(actions.begin(), actions.end(),
                                        [](QAction* a) { return a->text() == "Sound card..."; });
        return found == actions.end() ? nullptr : *found;
    }
    void click(int id) { static_cast<QPushButton*>(dialog->GetDlgItem(id))->click(); }
};

TEST_F(SoundCardItem, CancelKeepsTheSweepAndOkStopsItThenSwitchesAndRemembers) {
    const QList<QAction*> actions = dialog->GetSystemMenu()->actions();
    ASSERT_NE(item(), nullptr);
    EXPECT_LT(actions.indexOf(item()), actions.size() - 1) << "before the about item";
    click(IDC_AFC);
    item()->trigger();
    EXPECT_EQ(dialog->m_AFC, 1) << "cancelled";
    EXPECT_FALSE(config.written());

    answer = DeviceChoice{UsbLine, Analog, 1};
    item()->trigger();
    EXPECT_EQ(offered, (std::vector<DeviceChoice>{{}, {}}));
    EXPECT_EQ(dialog->m_AFC, 0);
    EXPECT_TRUE(dialog->GetDlgItem(IDC_FREQUENCY)->isEnabled());
    EXPECT_EQ(platform::ChosenSystemDevices(), *answer);
    EXPECT_EQ(ui::RememberedSoundCardChoice(), *answer);
    EXPECT_FALSE(item()->isEnabled()) << "while the streams switch";
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!item()->isEnabled() && std::chrono::steady_clock::now() < end) {
        QApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(item()->isEnabled()) << "switched";
}

} // namespace
