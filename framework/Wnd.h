// Stands in for the application framework (MFC) on this platform: the window object around a window handle.
#pragma once

#include "framework/Object.h"
#include "winsys/WinHandles.h"

/// A window of the host's user interface, as far as the library needs one: its handle.
class KESTRO_API CWnd : public CObject {
public:
    CWnd() = default;
    explicit CWnd(HWND window) : m_hWnd(window) {}
    /// The handle; null when the object is attached to no window.
    HWND GetSafeHwnd() const { return m_hWnd; }

    HWND m_hWnd = nullptr;
};
