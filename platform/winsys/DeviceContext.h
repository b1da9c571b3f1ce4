// Stands in for the Windows GDI on this platform: contexts of the screen, windows and memory; device bitmaps.
#pragma once

#include "platform/wintypes/Export.h"
#include "platform/winsys/WinGdi.h"
#include "platform/winsys/WinHandles.h"

/// Device capability index of GetDeviceCaps: bits per pixel.
constexpr int BITSPIXEL = 12;

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

// Every context is a canvas (WinGdi.h), so GetPixel, SetPixel and StretchDIBits work on all.
// The screen's (GetDC of no window) and a window's (GetWindowDC, GetDC: origin at the window's
// top-left corner) hold what the screen shows there when they are taken; what is painted into
// them reaches the desktop (behind the windows) or the window when they are released. A memory
// context shows the bitmap selected into it. Without a display there are no screen or window
// contexts.

KESTRO_API HDC GetDC(HWND window);
KESTRO_API HDC GetWindowDC(HWND window);
/// Releases a screen or window context (painting reaches the screen); 0 for any other.
KESTRO_API int ReleaseDC(HWND window, HDC dc);
/// A memory context with a 1 x 1 monochrome bitmap selected, like the system's. DeleteDC ends it.
KESTRO_API HDC CreateCompatibleDC(HDC dc);
/// BITSPIXEL: the screen's depth for its contexts, the selected bitmap's for memory contexts, 24
/// for other canvases.
KESTRO_API int GetDeviceCaps(HDC dc, int index);
/// Selects a bitmap into a memory context; returns the one it replaces, null on failure (not a
/// memory context, an unknown bitmap, or one selected elsewhere).
KESTRO_API HGDIOBJ SelectObject(HDC dc, HGDIOBJ object);
/// Deletes a bitmap; FALSE while it is selected into a context.
KESTRO_API BOOL DeleteObject(HGDIOBJ object);
/// Fills a BITMAP (size at least sizeof(BITMAP)); returns the bytes written, 0 on failure.
KESTRO_API int GetObject(HGDIOBJ object, int size, LPVOID out);
/// A black bitmap of the context's depth.
KESTRO_API HBITMAP CreateCompatibleBitmap(HDC dc, int width, int height);
/// A bitmap of 1, 24 or 32 bits (only these here) from bits given as rows top first, each padded
/// to 2 bytes (null: black).
KESTRO_API HBITMAP CreateBitmap(int width, int height, UINT planes, UINT bitsPerPixel, const void* bits);
/// SRCCOPY of a rectangle between any two contexts; source pixels outside the source read black,
/// destination pixels outside the destination are skipped.
KESTRO_API BOOL BitBlt(HDC dest, int x, int y, int cx, int cy, HDC src, int x1, int y1, DWORD rop);
/// Copies lines from first up to first + lines of a bitmap into bits as a DIB of info's width
/// (the bitmap's), row order (negative height: top first) and depth (24 or 32 with BI_RGB); sets
/// biSizeImage. Returns the lines copied; 0 without a context, for an unknown bitmap and for any
/// format it does not produce. Null bits only fill in info's header.
KESTRO_API int GetDIBits(HDC dc, HBITMAP bitmap, UINT first, UINT lines, LPVOID bits, BITMAPINFO* info,
                         UINT usage);
