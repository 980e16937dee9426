// Saves a picture of the instrument with a fast response of the default
// simulated card drawn over the live spectrum, for the documentation:
//   fast_response_screenshot FILE.png
// The whole program runs on the virtual card with its fast clock, on the
// offscreen platform unless another is set.
#include "tests/harness/DialogPicture.h"
#include "tests/harness/SweepRun.h"
#include "ui/MainDlg.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

namespace {

// The tone has settled by then; the new trace is drawn from the block after
// the one that ended the measurement.
constexpr int StartBlock = 10;
constexpr int BlocksAfterEnd = 3;

} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    if (argc != 2) {
        std::fputs("Usage: fast_response_screenshot FILE.png\n", stderr);
        return 2;
    }
    const QString file = QString::fromLocal8Bit(argv[1]);
    UseVirtualCard(DeviceModel::ConsumerCard(), VirtualCard::Clock::Fast);
    int block = 0;
    int blocksAfterEnd = 0;
    bool saved = false;
    const RunResult run = RunProgram(2000, [&](const ShownBlock&) {
        CMainDlg* dialog = RunningDialog();
        if (++block == StartBlock)
            dialog->OnFastResponse();
        if (block <= StartBlock || dialog->Fast().Running() || saved)
            return;
        if (++blocksAfterEnd < BlocksAfterEnd)
            return;
        if (!dialog->Fast().Response())
            std::fputs("fast_response_screenshot: nothing was measured\n", stderr);
        else if (!(saved = DialogPicture(*dialog).save(file, "PNG")))
            std::fprintf(stderr, "fast_response_screenshot: cannot write %s\n", argv[1]);
        QTimer::singleShot(0, dialog, [dialog] { dialog->reject(); });
    });
    for (const platform::BoxRecord& box : run.boxes)
        std::fprintf(stderr, "fast_response_screenshot: %s\n", box.text.c_str());
    return saved ? 0 : 1;
}
