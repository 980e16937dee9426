#include "platform/App.h"

namespace {
std::atomic<CWinApp*> theApplication{nullptr};
}

CWinApp::CWinApp() {
    theApplication = this;
}

CWinApp::~CWinApp() {
    CWinApp* self = this;
    theApplication.compare_exchange_strong(self, nullptr);
}

CWinApp* AfxGetApp() {
    return theApplication;
}
