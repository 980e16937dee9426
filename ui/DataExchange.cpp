#include "ui/DataExchange.h"

#include "measure/NumberFormat.h"
#include "platform/MessageBox.h"
#include "ui/DialogControls.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QLineEdit>

namespace {

// The framework titles its own boxes with the application's name.
constexpr const char* ApplicationName = "Tembrix";

} // namespace

void DDX_Text(CDataExchange* pDX, int id, double& value) {
    if (pDX->failed())
        return;
    auto* edit = static_cast<QLineEdit*>(pDX->controls().item(id));
    if (!pDX->m_bSaveAndValidate) {
        edit->setText(QString::fromStdString(FormatDouble15(value)));
        edit->setCursorPosition(0); // a field too narrow shows the number's first digits
        return;
    }
    if (!ParseDouble(edit->text().toStdString(), value)) {
        MessageBoxA(nullptr, "Please enter a number.", ApplicationName, MB_ICONERROR);
        edit->setFocus();
        edit->selectAll();
        pDX->Fail();
    }
}

void DDX_Check(CDataExchange* pDX, int id, int& value) {
    if (pDX->failed())
        return;
    auto* button = static_cast<QAbstractButton*>(pDX->controls().item(id));
    if (pDX->m_bSaveAndValidate)
        value = button->isChecked() ? 1 : 0;
    else
        button->setChecked(value != 0);
}

void DDX_Radio(CDataExchange* pDX, int firstId, int& value) {
    if (pDX->failed())
        return;
    QButtonGroup* group = pDX->controls().radioGroup(firstId);
    if (pDX->m_bSaveAndValidate) {
        value = group->checkedId();
        return;
    }
    // An exclusive group cannot uncheck its last checked button by itself.
    group->setExclusive(false);
    for (QAbstractButton* button : group->buttons())
        button->setChecked(group->id(button) == value);
    group->setExclusive(true);
}
