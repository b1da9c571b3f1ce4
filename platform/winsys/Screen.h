// Stands in for the Windows desktop on this platform: a screen of a set size, windows as rectangles on it.
#pragma once

#include "platform/wintypes/Export.h"
#include "platform/wintypes/Geometry.h"
#include "platform/winsys/WinHandles.h"

constexpr int SM_CXSCREEN = 0;
constexpr int SM_CYSCREEN = 1;
constexpr int SW_HIDE = 0;
constexpr int SW_SHOW = 5;
constexpr UINT SWP_NOSIZE = 0x0001;
constexpr UINT SWP_NOMOVE = 0x0002;
/// Places in the order of windows for SetWindowPos.
#define HWND_TOP (reinterpret_cast<HWND>(0))
#define HWND_BOTTOM (reinterpret_cast<HWND>(1))
#define HWND_TOPMOST (reinterpret_cast<HWND>(-1))
#define HWND_NOTOPMOST (reinterpret_cast<HWND>(-2))
/// Sent to a window's procedure: wParam TRUE when it is shown, FALSE when it is hidden.
constexpr UINT WM_SHOWWINDOW = 0x0018;
/// Sent after SetWindowPos changed a window's place in the order.
constexpr UINT WM_WINDOWPOSCHANGED = 0x0047;
typedef LRESULT (*WNDPROC)(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// What a program of the real system finds on its screen. Windows are stacked: topmost windows
// above the others, each group in its own order; the screen shows at each point the uppermost
// visible window there, else the desktop.

/// SM_CXSCREEN, SM_CYSCREEN: the screen's width and height (0 without a display); 0 otherwise.
KESTRO_API int GetSystemMetrics(int index);
/// The window's rectangle in screen coordinates; FALSE for an unknown window.
KESTRO_API BOOL GetWindowRect(HWND window, RECT* rect);
/// SW_HIDE hides the window, SW_SHOW shows it (a change sends WM_SHOWWINDOW). Returns whether it
/// was visible before.
KESTRO_API BOOL ShowWindow(HWND window, int command);
/// Places the window in the order: after insertAfter, or HWND_TOP, HWND_BOTTOM, HWND_TOPMOST
/// (topmost from now on, above them all) or HWND_NOTOPMOST (no longer topmost, above the others).
/// Windows are only restacked here (the capture raises one, nothing moves one): flags without
/// both SWP_NOMOVE and SWP_NOSIZE are refused with FALSE.
KESTRO_API BOOL SetWindowPos(HWND window, HWND insertAfter, int x, int y, int cx, int cy, UINT flags);
/// Waits on the calling thread.
KESTRO_API void Sleep(DWORD milliseconds);

// The stand-in's own controls, for what the real system gets from its monitor and other programs.

/// Gives the screen a size and depth (24 or 32 bits) and paints the desktop black; 0 x 0 is no
/// display at all. Windows stay as they are. At start the screen is 1024 x 768 at 32 bits.
KESTRO_API BOOL SetScreen(int width, int height, int bitsPerPixel);
/// A new window at rect (screen coordinates, anywhere), visible, at the top of the non-topmost
/// windows, painted color all over; proc, when given, receives its messages. Paint it through
/// its window DC.
KESTRO_API HWND CreateScreenWindow(const RECT& rect, COLORREF color, WNDPROC proc = nullptr);
KESTRO_API BOOL DestroyWindow(HWND window);
