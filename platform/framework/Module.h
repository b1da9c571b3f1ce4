// Stands in for the application framework (MFC) on this platform: extension-module start-up.
#pragma once

#include "platform/wintypes/AfxTypes.h"
#include "platform/wintypes/Export.h"
#include "platform/framework/Object.h"

/// The state of an extension module (a shared library that adds classes and resources to
/// the host's framework). Its owner keeps one for the library's lifetime.
struct AFX_EXTENSION_MODULE {
    BOOL bInitialized;
    HMODULE hModule;
    HMODULE hResource;
};

/// Marks the module initialised with its handle (where its resources live). Returns FALSE
/// for a null handle; a second call for an initialised module changes nothing.
KESTRO_API BOOL AfxInitExtensionModule(AFX_EXTENSION_MODULE& state, HMODULE hModule);
/// Ends the module: it is no longer initialised. Its CDynLinkLibrary, if any, is its owner's to delete first.
KESTRO_API void AfxTermExtensionModule(AFX_EXTENSION_MODULE& state, BOOL bAll = FALSE);

/// Membership of an initialised extension module in the process's chain of extension
/// libraries, where the framework looks for resources. Joins on construction, leaves on
/// destruction; newest first.
class KESTRO_API CDynLinkLibrary : public CObject {
    DECLARE_DYNAMIC(CDynLinkLibrary)
public:
    explicit CDynLinkLibrary(AFX_EXTENSION_MODULE& state);
    ~CDynLinkLibrary() override;
    CDynLinkLibrary(const CDynLinkLibrary&) = delete;
    CDynLinkLibrary& operator=(const CDynLinkLibrary&) = delete;

    /// The newest member of the chain, or null; follow m_pNextDLL for the others.
    static CDynLinkLibrary* GetFirst();

    HMODULE m_hModule;
    HMODULE m_hResource;
    CDynLinkLibrary* m_pNextDLL = nullptr;
};
