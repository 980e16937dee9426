#include "ui/DialogControls.h"

#include "res/DialogTemplate.h"
#include "res/Resource.h"
#include "ui/Icons.h"
#include "ui/PlotView.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QStyle>

namespace {

constexpr ControlStyle SS_RIGHT = 0x0002;
constexpr ControlStyle SS_TYPEMASK = 0x001F;
constexpr ControlStyle SBS_VERT = 0x0001;

bool Has(ControlStyle style, ControlStyle flag) {
    return (style & flag) == flag;
}

QString Caption(const ControlTemplate& row) {
    return QString::fromUtf8(row.caption);
}

Qt::Alignment StaticAlignment(ControlStyle type) {
    switch (type) {
    case SS_CENTER:
        return Qt::AlignHCenter | Qt::AlignVCenter;
    case SS_RIGHT:
        return Qt::AlignRight | Qt::AlignVCenter;
    default:
        return Qt::AlignLeft | Qt::AlignVCenter;
    }
}

// A tab stop is reached with Tab; any other control that takes focus takes it
// only when clicked.
void ApplyTabStop(QWidget* control, ControlStyle style) {
    if (Has(style, WS_TABSTOP))
        control->setFocusPolicy(Qt::StrongFocus);
    else if (control->focusPolicy() & Qt::TabFocus)
        control->setFocusPolicy(Qt::ClickFocus);
}

QWidget* CreateEdit(QDialog& dialog, const ControlTemplate& row) {
    auto* edit = new QLineEdit(Caption(row), &dialog);
    edit->setFrame(Has(row.style, WS_BORDER));
    edit->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    return edit;
}

QWidget* CreateScrollBar(QDialog& dialog, const ControlTemplate& row) {
    auto* bar = new QScrollBar(Has(row.style, SBS_VERT) ? Qt::Vertical : Qt::Horizontal, &dialog);
    bar->setRange(0, 0); // the dialog sets the range it wants
    return bar;
}

} // namespace

DialogControls::DialogControls(QDialog& dialog, const DialogTemplate& dialogTemplate)
    : m_units(DialogFont(dialogTemplate)) {
    dialog.setFont(DialogFont(dialogTemplate));
    dialog.setFixedSize(m_units.toPixels(dialogTemplate.width, dialogTemplate.height));
    dialog.setWindowTitle(QString::fromUtf8(dialogTemplate.caption));

    QWidget* previousTabStop = nullptr;
    for (const ControlTemplate& row : dialogTemplate.controls) {
        // A group mark closes the radio group before it.
        if (Has(row.style, WS_GROUP))
            m_openRadioGroup = nullptr;
        const QRect place = m_units.toPixels(row.x, row.y, row.width, row.height);
        QWidget* control = create(dialog, row, place);
        control->setGeometry(place);
        control->setObjectName(QString::fromUtf8(row.constant));
        control->setEnabled(!Has(row.style, WS_DISABLED));
        ApplyTabStop(control, row.style);
        if (Has(row.style, WS_TABSTOP)) {
            if (previousTabStop)
                QWidget::setTabOrder(previousTabStop, control);
            previousTabStop = control;
        }
        if (row.id != IDC_STATIC)
            m_byId.emplace(row.id, control);
    }
}

QWidget* DialogControls::item(int id) const {
    const auto found = m_byId.find(id);
    return found == m_byId.end() ? nullptr : found->second;
}

QButtonGroup* DialogControls::radioGroup(int firstId) const {
    const auto found = m_radioGroups.find(firstId);
    return found == m_radioGroups.end() ? nullptr : found->second;
}

QWidget* DialogControls::create(QDialog& dialog, const ControlTemplate& row, const QRect& place) {
    switch (row.kind) {
    case ControlClass::Static:
        return createStatic(dialog, row, place);
    case ControlClass::Button:
        return createButton(dialog, row);
    case ControlClass::Edit:
        return CreateEdit(dialog, row);
    case ControlClass::ScrollBar:
        return CreateScrollBar(dialog, row);
    }
    return nullptr;
}

QWidget* DialogControls::createStatic(QDialog& dialog, const ControlTemplate& row,
                                      const QRect& place) {
    const ControlStyle type = row.style & SS_TYPEMASK;
    if (type == SS_BLACKRECT)
        return new PlotView(&dialog, place);

    auto* label = new QLabel(&dialog);
    if (type == SS_ICON) {
        // The program's icon, the only one the templates show, at the system's
        // large icon size from the control's top left corner.
        const int side = label->style()->pixelMetric(QStyle::PM_LargeIconSize);
        label->setPixmap(LoadIcon(IDR_MAINFRAME).pixmap(side, side));
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        if (!m_icon)
            m_icon = label;
        return label;
    }
    label->setTextFormat(Qt::PlainText);
    label->setText(Caption(row));
    // Each static holds one line: a text a little wider than the template
    // planned for this font loses a pixel at its end, never a whole word.
    label->setAlignment(StaticAlignment(type));
    if (Has(row.style, WS_BORDER))
        label->setFrameStyle(QFrame::Box | QFrame::Plain);
    return label;
}

QWidget* DialogControls::createButton(QDialog& dialog, const ControlTemplate& row) {
    const ControlStyle type = row.style & BS_TYPEMASK;
    if (type == BS_GROUPBOX) {
        auto* box = new QGroupBox(Caption(row), &dialog);
        // A frame lies beneath the controls it surrounds and takes no clicks.
        box->lower();
        box->setAttribute(Qt::WA_TransparentForMouseEvents);
        return box;
    }

    const bool radio = type == BS_AUTORADIOBUTTON;
    const bool check = type == BS_AUTOCHECKBOX;
    QAbstractButton* button = nullptr;
    if (Has(row.style, BS_PUSHLIKE) || (!radio && !check)) {
        auto* push = new QPushButton(Caption(row), &dialog);
        // Enter belongs to the dialog, never to the focused button.
        push->setAutoDefault(false);
        push->setCheckable(radio || check);
        button = push;
    } else if (radio) {
        button = new QRadioButton(Caption(row), &dialog);
    } else {
        button = new QCheckBox(Caption(row), &dialog);
    }
    if (radio)
        joinRadioGroup(dialog, row, button);
    return button;
}

void DialogControls::joinRadioGroup(QDialog& dialog, const ControlTemplate& row,
                                    QAbstractButton* button) {
    if (!m_openRadioGroup) {
        m_openRadioGroup = new QButtonGroup(&dialog);
        m_openRadioGroup->setExclusive(true);
        m_radioGroups.emplace(row.id, m_openRadioGroup);
    }
    m_openRadioGroup->addButton(button, static_cast<int>(m_openRadioGroup->buttons().size()));
}
