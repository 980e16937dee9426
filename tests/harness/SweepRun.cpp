#include "tests/harness/SweepRun.h"

#include "res/Resource.h"
#include "ui/MainDlg.h"

#include <QApplication>
#include <QPushButton>
#include <QTimer>

#include <chrono>
#include <cmath>

CMainDlg* RunningDialog() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* dialog = dynamic_cast<CMainDlg*>(widget))
            return dialog;
    }
    return nullptr;
}

double Minus20dBToneDb() {
    return 20 * std::log10(6554.0 / 65536 * 32767 / 32768);
}

SweepRun RunSweep(int blockLimit) {
    SweepRun sweep;
    CMainDlg::SetSweepObserver([&](const ResponsePoint& point) {
        sweep.points.push_back({point.frequencyHz, point.peakDb, point.levelDb});
    });
    bool started = false;
    const auto start = std::chrono::steady_clock::now();
    sweep.run = RunProgram(blockLimit, [&](const ShownBlock&) {
        CMainDlg* dialog = RunningDialog();
        if (!started) {
            static_cast<QPushButton*>(dialog->GetDlgItem(IDC_LEVEL_20DB))->click();
            dialog->OnAFC();
            started = true;
        } else if (!dialog->m_AFC && !sweep.ended) {
            sweep.ended = true;
            sweep.seconds =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            QTimer::singleShot(0, dialog, [dialog] { dialog->reject(); });
        }
    });
    CMainDlg::SetSweepObserver(nullptr);
    return sweep;
}
