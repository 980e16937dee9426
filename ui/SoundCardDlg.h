// The "Sound card..." dialog: which of the system's devices the instrument
// records from and plays to, and the input channel the mono signal is taken
// from. It only shows and returns a choice; the window applies it.
#pragma once

#include "platform/AudioDevices.h"

#include <QDialog>

#include <optional>
#include <vector>

class QListWidget;
class QSpinBox;

class CSoundCardDlg : public QDialog {
  public:
    CSoundCardDlg(std::vector<platform::AudioDeviceInfo> devices, platform::DeviceChoice current,
                  QWidget* parent = nullptr);

    // The choice as the dialog shows it. A list whose selection the user left
    // alone keeps the current name ("" for the default stays "").
    platform::DeviceChoice Choice() const;

    QListWidget* InputList() const { return m_inputs; }
    QListWidget* OutputList() const { return m_outputs; }
    QSpinBox* ChannelBox() const { return m_channel; }

  private:
    QListWidget* DeviceList(WaveDirection direction, const std::string& current);
    std::string ChosenName(const QListWidget* list, const std::string& current) const;
    void LimitChannelToInput();

    const std::vector<platform::AudioDeviceInfo> m_devices;
    const platform::DeviceChoice m_current;
    QListWidget* m_inputs;
    QListWidget* m_outputs;
    QSpinBox* m_channel;
};

// Lists the devices and asks the user. Nothing when the user cancels, or when
// no device can be listed (a box says why).
std::optional<platform::DeviceChoice> AskForSoundCard(QWidget* parent,
                                                      const platform::DeviceChoice& current);
