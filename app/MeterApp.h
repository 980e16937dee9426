// The application object: the whole life of the instrument runs inside
// InitInstance, from allocating the shared audio state to shutting it down.
#pragma once

#include "platform/App.h"

class CMainDlg;
class MainWindowPort;

class CMeterApp : public CWinApp {
  public:
    // FALSE on the normal path; every failure ends the process instead.
    BOOL InitInstance() override;

    // The running main dialog, or null. User-interface thread only.
    CMainDlg* mainDialog() const { return m_mainDialog; }

  private:
    void runMainDialog();

    MainWindowPort* m_port = nullptr;
    CMainDlg* m_mainDialog = nullptr;
};
