// The about box: the program icon and five lines of notice, no buttons.
// Enter, Esc or the close box end it.
#pragma once

#include "ui/DialogControls.h"

#include <QDialog>

class CAboutDlg : public QDialog {
    Q_OBJECT

  public:
    explicit CAboutDlg(QWidget* parent = nullptr);

    int DoModal() { return exec(); }

  protected:
    void keyPressEvent(QKeyEvent* event) override;

  private:
    DialogControls m_controls;
};
