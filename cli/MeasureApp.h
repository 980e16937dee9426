// The application object of a command-line measurement: the window's
// start-up and shutdown around a measurement instead of the dialog, with a
// queue for the blocks in place of the main window. Needs no display.
#pragma once

#include "cli/CommandLine.h"
#include "measure/ResultCsv.h"
#include "platform/App.h"
#include "platform/QueueWindow.h"

namespace cli {

class CMeasureApp : public CWinApp {
  public:
    explicit CMeasureApp(const CommandLine& command) : m_command(command) {}

    // FALSE; the run's end is in ExitStatus(). A failure of the start-up or
    // of a device ends the process with its message and a nonzero status.
    BOOL InitInstance() override;
    int ExitStatus() const { return m_status; }

  private:
    RunInfo DescribeRun() const;

    const CommandLine& m_command;
    QueueWindow m_window;
    int m_status = 1;
};

} // namespace cli
