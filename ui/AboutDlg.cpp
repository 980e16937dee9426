#include "ui/AboutDlg.h"

#include "res/DialogTemplate.h"

#include <QKeyEvent>

CAboutDlg::CAboutDlg(QWidget* parent)
    : QDialog(parent, DialogFrameFlags), m_controls(*this, AboutDialogTemplate) {}

void CAboutDlg::keyPressEvent(QKeyEvent* event) {
    // With no button to press, Enter ends the box as Esc does.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
        accept();
    else
        QDialog::keyPressEvent(event);
}
