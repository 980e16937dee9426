#include "ui/SoundCardDlg.h"

#include "platform/MessageBox.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QListWidget>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>
#include <string>

namespace {

using platform::AudioDeviceInfo;

// A row's data: the index of its device in the listing.
constexpr int DeviceRole = Qt::UserRole;

// Channels the system card takes the input from: the first two at most.
constexpr int MaxInputChannel = 2;

bool Offers(const AudioDeviceInfo& device, WaveDirection direction) {
    return direction == WaveDirection::Input ? device.inputChannels > 0 : device.outputChannels > 0;
}

bool IsDefault(const AudioDeviceInfo& device, WaveDirection direction) {
    return direction == WaveDirection::Input ? device.defaultInput : device.defaultOutput;
}

// "" names the default device of that direction.
bool IsCurrent(const AudioDeviceInfo& device, WaveDirection direction, const std::string& current) {
    return current.empty() ? IsDefault(device, direction) : device.name == current;
}

} // namespace

CSoundCardDlg::CSoundCardDlg(std::vector<AudioDeviceInfo> devices, platform::DeviceChoice current,
                             QWidget* parent)
    : QDialog(parent), m_devices(std::move(devices)), m_current(std::move(current)) {
    setWindowTitle(QStringLiteral("Sound card"));
    m_inputs = DeviceList(WaveDirection::Input, m_current.input);
    m_outputs = DeviceList(WaveDirection::Output, m_current.output);
    m_channel = new QSpinBox(this);
    m_channel->setRange(1, MaxInputChannel);
    m_channel->setValue(std::clamp(m_current.inputChannel, 1, MaxInputChannel));
    LimitChannelToInput();
    connect(m_inputs, &QListWidget::currentRowChanged, this, [this] { LimitChannelToInput(); });

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Input:"), m_inputs);
    form->addRow(QStringLiteral("Input channel:"), m_channel);
    form->addRow(QStringLiteral("Output:"), m_outputs);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
}

QListWidget* CSoundCardDlg::DeviceList(WaveDirection direction, const std::string& current) {
    auto* list = new QListWidget(this);
    for (std::size_t i = 0; i < m_devices.size(); ++i) {
        const AudioDeviceInfo& device = m_devices[i];
        if (!Offers(device, direction))
            continue;
        std::string text = device.name;
        if (IsDefault(device, direction))
            text += " (default)";
        auto* row = new QListWidgetItem(QString::fromStdString(text), list);
        row->setData(DeviceRole, static_cast<int>(i));
        if (IsCurrent(device, direction, current))
            list->setCurrentItem(row);
    }
    return list;
}

platform::DeviceChoice CSoundCardDlg::Choice() const {
    return {ChosenName(m_inputs, m_current.input), ChosenName(m_outputs, m_current.output),
            m_channel->value()};
}

std::string CSoundCardDlg::ChosenName(const QListWidget* list, const std::string& current) const {
    const QListWidgetItem* row = list->currentItem();
    if (!row)
        return current;
    const AudioDeviceInfo& device = m_devices[row->data(DeviceRole).toInt()];
    const WaveDirection direction = list == m_inputs ? WaveDirection::Input : WaveDirection::Output;
    return IsCurrent(device, direction, current) ? current : device.name;
}

// A mono input has no second channel to take.
void CSoundCardDlg::LimitChannelToInput() {
    const QListWidgetItem* row = m_inputs->currentItem();
    const int channels =
        row ? m_devices[row->data(DeviceRole).toInt()].inputChannels : MaxInputChannel;
    m_channel->setMaximum(std::clamp(channels, 1, MaxInputChannel));
}

std::optional<platform::DeviceChoice> AskForSoundCard(QWidget* parent,
                                                      const platform::DeviceChoice& current) {
    std::string failure;
    std::vector<AudioDeviceInfo> devices = platform::ListAudioDevices(&failure);
    if (devices.empty()) {
        const std::string text = "Cannot list the sound devices: " +
                                 (failure.empty() ? std::string("there are none") : failure);
        MessageBoxA(nullptr, text.c_str(), "Sound card", MB_ICONERROR);
        return std::nullopt;
    }
    CSoundCardDlg dialog(std::move(devices), current, parent);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.Choice();
}
