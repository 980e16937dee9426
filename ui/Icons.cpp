#include "ui/Icons.h"

#include "res/Icon.h"
#include "res/Resource.h"

#include <QPixmap>

QIcon LoadIcon(int resourceId) {
    QIcon icon;
    if (resourceId == IDR_MAINFRAME) {
        icon.addPixmap(QPixmap(MainIcon32));
        icon.addPixmap(QPixmap(MainIcon16));
    }
    return icon;
}
