// Stands in for the Windows graphics device interface on this platform: device contexts of the screen, of
// windows and in memory, and device bitmaps.
#pragma once

#include "framework/Export.h"
#include "winsys/WinHandles.h"

/// Device capability index of GetDeviceCaps: bits per pixel.
constexpr int BITSPIXEL = 12;
constexpr DWORD SRCCOPY = 0x00CC0020;
constexpr UINT DIB_RGB_COLORS = 0;

/// A device bitmap as GetObject describes it. bmBits is null: its pixels are the device's.
struct BITMAP {
    LONG bmType;
    LONG bmWidth;
    LONG bmHeight;
    LONG bmWidthBytes;
    WORD bmPlanes;
    WORD bmBitsPixel;
    LPVOID bmBits;
};

// Device contexts: the screen's (GetDC of no window) shows the desktop and the windows on it; a
// window's (GetWindowDC, GetDC) has its origin at the window's top-left corner and, like the
// screen's, reads what the screen shows there and paints into the window; a memory context
// reads and paints the bitmap selected into it. No display: no screen or window contexts.

KESTRO_API HDC GetDC(HWND window);
KESTRO_API HDC GetWindowDC(HWND window);
KESTRO_API int ReleaseDC(HWND window, HDC dc);
/// A memory context with a 1 x 1 monochrome bitmap selected, like the system's.
KESTRO_API HDC CreateCompatibleDC(HDC dc);
KESTRO_API BOOL DeleteDC(HDC dc);
KESTRO_API int GetDeviceCaps(HDC dc, int index);
/// Selects a bitmap into a memory context; returns the one it replaces, null on failure (an
/// unknown context or bitmap, or a bitmap selected elsewhere).
KESTRO_API HGDIOBJ SelectObject(HDC dc, HGDIOBJ object);
/// Deletes a bitmap; FALSE while it is selected into a context.
KESTRO_API BOOL DeleteObject(HGDIOBJ object);
/// Fills a BITMAP (size at least sizeof(BITMAP)); returns the bytes written, 0 on failure.
KESTRO_API int GetObject(HGDIOBJ object, int size, LPVOID out);
/// A bitmap of the context's depth (a memory context: of its selected bitmap), black.
KESTRO_API HBITMAP CreateCompatibleBitmap(HDC dc, int width, int height);
/// A bitmap of any depth from 1 to 32 with rows top first, each padded to 2 bytes; bits may be null.
KESTRO_API HBITMAP CreateBitmap(int width, int height, UINT planes, UINT bitsPerPixel, const void* bits);
/// Colour at (x, y): what the context shows there; CLR_INVALID outside it.
constexpr COLORREF CLR_INVALID = 0xFFFFFFFF;
KESTRO_API COLORREF GetPixel(HDC dc, int x, int y);
/// Paints (x, y) (a window's own pixel, the desktop, or the selected bitmap's); returns the colour.
KESTRO_API COLORREF SetPixel(HDC dc, int x, int y, COLORREF color);
/// SRCCOPY of a rectangle into a memory context from any context; parts outside the source read black.
KESTRO_API BOOL BitBlt(HDC dest, int x, int y, int cx, int cy, HDC src, int x1, int y1, DWORD rop);
/// Copies lines from first up to first + lines of a 24 or 32-bit bitmap into bits as a DIB of
/// info's width (the bitmap's), row order (negative height: top first) and depth (24 or 32 with
/// BI_RGB); sets biSizeImage. Returns the lines copied; 0 without a context, for an unknown
/// bitmap and for any format it does not produce. Null bits only fill in info's header.
KESTRO_API int GetDIBits(HDC dc, HBITMAP bitmap, UINT first, UINT lines, LPVOID bits, BITMAPINFO* info,
                         UINT usage);
