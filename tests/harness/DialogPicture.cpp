#include "tests/harness/DialogPicture.h"

#include "ui/MainDlg.h"
#include "ui/PlotView.h"

#include <QPainter>

QPixmap DialogPicture(CMainDlg& dialog) {
    PlotView* views[] = {dialog.SpectrumView(), dialog.ScopeView()};
    QPixmap shown[2];
    for (int i = 0; i < 2; ++i)
        shown[i] = views[i]->grab();
    QPixmap picture = dialog.grab();
    QPainter painter(&picture);
    for (int i = 0; i < 2; ++i)
        painter.drawPixmap(views[i]->mapTo(&dialog, QPoint(0, 0)), shown[i]);
    return picture;
}
