// A picture of the main dialog as it is on screen, for the documentation.
#pragma once

#include <QPixmap>

class CMainDlg;

// Rendering the whole dialog is an expose, which erases the views: their
// pixels are taken first and laid over the picture.
QPixmap DialogPicture(CMainDlg& dialog);
