// Stands in for the application framework (MFC) on this platform: the application object.
#pragma once

#include "platform/wintypes/Export.h"
#include "platform/framework/Object.h"
#include "platform/framework/String.h"

/// The application object of the process. There is no window system here, so the wait cursor
/// shows nothing; a host overrides DoWaitCursor to show a real one.
/// The newest CWinApp constructed is the process's application; when it is destroyed the one
/// before it is again. AfxGetApp makes a default one when the host made none.
class KESTRO_API CWinApp : public CObject {
    DECLARE_DYNAMIC(CWinApp)
public:
    explicit CWinApp(LPCTSTR lpszAppName = nullptr);
    ~CWinApp() override;
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    /// Switches the wait cursor on; calls nest.
    void BeginWaitCursor() { DoWaitCursor(1); }
    /// Switches it off again.
    void EndWaitCursor() { DoWaitCursor(-1); }
    /// 1 on, -1 off (0, restore, is the host's: the library never asks for it). Distinct images
    /// on distinct threads call it at once.
    virtual void DoWaitCursor(int /*nCode*/) {}

    CString m_strAppName;

private:
    CWinApp* m_pPreviousApp;
};

/// The process's application object; never null.
KESTRO_API CWinApp* AfxGetApp();

/// Shows the application's wait cursor for its lifetime (also when an exception leaves the scope).
class KESTRO_API CWaitCursor {
public:
    CWaitCursor() { AfxGetApp()->BeginWaitCursor(); }
    ~CWaitCursor() { AfxGetApp()->EndWaitCursor(); }
    CWaitCursor(const CWaitCursor&) = delete;
    CWaitCursor& operator=(const CWaitCursor&) = delete;
};
