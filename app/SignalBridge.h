// SIGINT, SIGTERM and SIGHUP from a terminal end the main dialog the way Esc
// does, so that the normal shutdown runs.
#pragma once

#include <functional>

namespace app {
// Call once on the user-interface thread after the QApplication exists.
// `endDialog` runs there for each signal.
void RouteTerminationSignals(std::function<void()> endDialog);
} // namespace app
