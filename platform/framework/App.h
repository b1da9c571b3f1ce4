// Stands in for the application framework (MFC) on this platform: the application object.
#pragma once

#include <atomic>

#include "platform/wintypes/Export.h"
#include "platform/framework/Object.h"
#include "platform/framework/String.h"

/// The application object of the process. There is no window system here, so the wait cursor
/// is only counted: a host (or a test) sees how often it was switched on and off and whether
/// it is on now, and may override DoWaitCursor to show a real one.
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
    /// Switches it off again; an unmatched call is counted but changes nothing else.
    void EndWaitCursor() { DoWaitCursor(-1); }
    /// 1 on, -1 off (0, restore, is the host's: the library never asks for it).
    virtual void DoWaitCursor(int nCode);

    BOOL IsWaitCursorOn() const { return m_nWaitCursorDepth > 0; }
    int GetWaitCursorDepth() const { return m_nWaitCursorDepth; }
    /// How often the wait cursor was switched on (BeginWaitCursor) and off (EndWaitCursor).
    int GetWaitCursorBeginCount() const { return m_nWaitCursorBegins; }
    int GetWaitCursorEndCount() const { return m_nWaitCursorEnds; }
    void ResetWaitCursorCounters() { m_nWaitCursorBegins = m_nWaitCursorEnds = 0; }

    CString m_strAppName;

private:
    CWinApp* m_pPreviousApp;
    // Atomic: distinct images on distinct threads build their rasters under the one cursor.
    std::atomic<int> m_nWaitCursorDepth{0};
    std::atomic<int> m_nWaitCursorBegins{0};
    std::atomic<int> m_nWaitCursorEnds{0};
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
