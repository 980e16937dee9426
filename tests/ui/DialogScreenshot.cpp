// Saves a picture of the main dialog as it opens, for the documentation:
//   dialog_screenshot FILE.png
// Runs on the offscreen platform unless another is set, so no screen is needed.
#include "audio/Audio.h"
#include "ui/MainDlg.h"

#include <QApplication>
#include <QPixmap>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    if (argc != 2) {
        std::fputs("Usage: dialog_screenshot FILE.png\n", stderr);
        return 2;
    }
    // The instrument's start-up values.
    FftSize = 8192;
    GenPeriod = 32.5;
    CMainDlg dialog;
    dialog.show();
    QApplication::processEvents();
    if (!dialog.grab().save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "dialog_screenshot: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
