#include "app/MeterApp.h"

#include "audio/AudioSession.h"
#include "platform/qt/MainWindowPort.h"
#include "ui/MainDlg.h"

BOOL CMeterApp::InitInstance() {
    // The three-dimensional control look is the toolkit's own here.
    audio::PrepareAudioState();
    audio::RequireAudioDevices();
    audio::StartAudioThreads();
    // The window port exists before the input opens, so the first hand-off,
    // due about 0.186 s later, is held until the dialog is there to take it.
    m_port = new MainWindowPort;
    m_pMainWnd = m_port;
    audio::OpenAudioDevices();
    runMainDialog();
    audio::ShutDownAudio();
    return FALSE;
}

void CMeterApp::runMainDialog() {
    CMainDlg dialog;
    m_mainDialog = &dialog;
    m_port->attach(&dialog);
    dialog.DoModal();
    m_port->detach();
    m_mainDialog = nullptr;
}
