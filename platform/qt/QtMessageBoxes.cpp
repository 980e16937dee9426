#include "platform/qt/QtMessageBoxes.h"

#include "platform/MessageBox.h"

#include <QApplication>
#include <QMessageBox>
#include <QMetaObject>

namespace platform {
namespace {

int showQtBox(const BoxRecord& box) {
    QMessageBox dialog(box.style & MB_ICONERROR ? QMessageBox::Critical : QMessageBox::NoIcon,
                       QString::fromStdString(box.title), QString::fromStdString(box.text),
                       QMessageBox::Ok);
    dialog.exec();
    return IDOK;
}

} // namespace

void InstallQtMessageBoxes() {
    InstallBoxPresenter(showQtBox, [] {
        QMetaObject::invokeMethod(
            qApp, [] { RunPendingBoxes(); }, Qt::QueuedConnection);
    });
}

} // namespace platform
