// Stands in for the application framework (MFC) on this platform: the application object.
#include "framework/App.h"

#include <new>

IMPLEMENT_DYNAMIC(CWinApp, CObject)

namespace {
// Constant-initialised, so it is valid while any module's static objects are constructed.
CWinApp* g_pApp = nullptr;
} // namespace

CWinApp::CWinApp(LPCTSTR lpszAppName)
    : m_strAppName(lpszAppName ? lpszAppName : L""), m_pPreviousApp(g_pApp) {
    g_pApp = this;
}

CWinApp::~CWinApp() {
    if (g_pApp == this) g_pApp = m_pPreviousApp;
}

void CWinApp::DoWaitCursor(int nCode) {
    if (nCode > 0) {
        ++m_nWaitCursorBegins;
        ++m_nWaitCursorDepth;
    } else if (nCode < 0) {
        ++m_nWaitCursorEnds;
        if (m_nWaitCursorDepth > 0) --m_nWaitCursorDepth;
    }
}

CWinApp* AfxGetApp() {
    if (!g_pApp) {
        // Made once and never destroyed, so that objects destroyed at exit can still use it.
        static CWinApp* defaultApp = new CWinApp(L"KestroImage");
        if (!g_pApp) g_pApp = defaultApp;
    }
    return g_pApp;
}
