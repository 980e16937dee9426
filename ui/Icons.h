// Icons of the resources, as the user interface shows them.
#pragma once

#include <QIcon>

// The icon with that resource id (its 32 x 32 and 16 x 16 images); a null
// icon for an id the resources do not hold.
QIcon LoadIcon(int resourceId);
