// Shows the program's message boxes as Qt message boxes.
#pragma once

namespace platform {
// Call on the user-interface thread once the QApplication exists. Boxes of
// other threads are carried to this thread (and shown even while it waits).
void InstallQtMessageBoxes();
} // namespace platform
