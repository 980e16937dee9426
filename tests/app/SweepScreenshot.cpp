// Saves a picture of the instrument after a complete sweep of the default
// simulated card, the response curve over the live spectrum, for the
// documentation:
//   sweep_screenshot FILE.png
// The whole program runs on the virtual card with its fast clock, on the
// offscreen platform unless another is set.
#include "tests/harness/DialogPicture.h"
#include "tests/harness/SweepRun.h"
#include "ui/MainDlg.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    if (argc != 2) {
        std::fputs("Usage: sweep_screenshot FILE.png\n", stderr);
        return 2;
    }
    const QString file = QString::fromLocal8Bit(argv[1]);
    UseVirtualCard(DeviceModel::ConsumerCard(), VirtualCard::Clock::Fast);
    bool started = false;
    int blocksAfterSweep = -1;
    bool saved = false;
    RunProgram(20000, [&](const ShownBlock&) {
        CMainDlg* dialog = RunningDialog();
        if (!started) {
            dialog->OnAFC();
            started = true;
            return;
        }
        if (dialog->m_AFC || ++blocksAfterSweep < 2)
            return; // the trace is drawn from the block after the last point
        if (!saved) {
            saved = DialogPicture(*dialog).save(file, "PNG");
            if (!saved)
                std::fprintf(stderr, "sweep_screenshot: cannot write %s\n", argv[1]);
            QTimer::singleShot(0, dialog, [dialog] { dialog->reject(); });
        }
    });
    return saved ? 0 : 1;
}
