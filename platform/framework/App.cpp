// Stands in for the application framework (MFC) on this platform: the application object.
#include "platform/framework/App.h"

#include <atomic>
#include <new>

IMPLEMENT_DYNAMIC(CWinApp, CObject)

namespace {
// Constant-initialised, so it is valid while any module's static objects are constructed.
std::atomic<CWinApp*> g_pApp{nullptr};
} // namespace

CWinApp::CWinApp(LPCTSTR lpszAppName)
    : m_strAppName(lpszAppName ? lpszAppName : L""), m_pPreviousApp(g_pApp.load()) {
    g_pApp = this;
}

CWinApp::~CWinApp() {
    CWinApp* self = this;
    g_pApp.compare_exchange_strong(self, m_pPreviousApp);
}

CWinApp* AfxGetApp() {
    if (CWinApp* app = g_pApp.load()) return app;
    // Made once (the static's initialisation is thread-safe) and never destroyed, so that objects
    // destroyed at exit can still use it. Its constructor installs it unless another thread's
    // application object got there first; either way every caller sees one object.
    static CWinApp* defaultApp = new CWinApp(L"KestroImage");
    CWinApp* expected = nullptr;
    g_pApp.compare_exchange_strong(expected, defaultApp);
    return g_pApp.load();
}
