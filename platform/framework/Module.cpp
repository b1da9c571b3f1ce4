// Stands in for the application framework (MFC) on this platform: extension-module start-up.
#include "platform/framework/Module.h"

IMPLEMENT_DYNAMIC(CDynLinkLibrary, CObject)

namespace {
// Constant-initialised, so it is valid while any module's static objects are constructed.
CDynLinkLibrary* g_pFirstDLL = nullptr;
} // namespace

BOOL AfxInitExtensionModule(AFX_EXTENSION_MODULE& state, HMODULE hModule) {
    if (state.bInitialized) return TRUE;
    if (!hModule) return FALSE;
    state.hModule = hModule;
    state.hResource = hModule;
    state.bInitialized = TRUE;
    return TRUE;
}

void AfxTermExtensionModule(AFX_EXTENSION_MODULE& state, BOOL) {
    state.bInitialized = FALSE;
}

CDynLinkLibrary::CDynLinkLibrary(AFX_EXTENSION_MODULE& state)
    : m_hModule(state.hModule), m_hResource(state.hResource), m_pNextDLL(g_pFirstDLL) {
    g_pFirstDLL = this;
}

CDynLinkLibrary::~CDynLinkLibrary() {
    for (CDynLinkLibrary** pp = &g_pFirstDLL; *pp; pp = &(*pp)->m_pNextDLL) {
        if (*pp == this) {
            *pp = m_pNextDLL;
            break;
        }
    }
}

CDynLinkLibrary* CDynLinkLibrary::GetFirst() {
    return g_pFirstDLL;
}
