// The controls of a dialog, made from its template: every row becomes a
// widget with the row's id, caption, style and place, converted from dialog
// units through the dialog font. Tab order is template order.
#pragma once

#include "ui/DialogUnits.h"

#include <unordered_map>

class QAbstractButton;
class QButtonGroup;
class QDialog;
class QLabel;
class QWidget;
struct ControlTemplate;

// The frame of a template dialog: caption, system menu and close box, and a
// size that the user cannot change.
constexpr Qt::WindowFlags DialogFrameFlags =
    Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
    Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint;

class DialogControls {
  public:
    // Sets the dialog's font and fixed size and creates its controls.
    DialogControls(QDialog& dialog, const DialogTemplate& dialogTemplate);

    // The control with that id; null when there is none (and for IDC_STATIC).
    QWidget* item(int id) const;
    // The exclusive group of radio buttons that starts at firstId; null when
    // no group starts there. A button's id in the group is its index from 0.
    QButtonGroup* radioGroup(int firstId) const;
    // The first icon control; null when there is none.
    QLabel* icon() const { return m_icon; }

  private:
    QWidget* create(QDialog& dialog, const ControlTemplate& row, const QRect& place);
    QWidget* createStatic(QDialog& dialog, const ControlTemplate& row, const QRect& place);
    QWidget* createButton(QDialog& dialog, const ControlTemplate& row);
    void joinRadioGroup(QDialog& dialog, const ControlTemplate& row, QAbstractButton* button);

    DialogUnits m_units;
    std::unordered_map<int, QWidget*> m_byId;
    std::unordered_map<int, QButtonGroup*> m_radioGroups; // by first id
    QButtonGroup* m_openRadioGroup = nullptr;
    QLabel* m_icon = nullptr;
};
