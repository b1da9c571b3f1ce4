// Stands in for the Windows window system on this platform: its handle types.
#pragma once

#include "framework/AfxTypes.h"

#include <cstddef>
#include <cstdint>

typedef void* HANDLE;
typedef HANDLE HGLOBAL;
typedef std::size_t SIZE_T;
// Distinct pointer types, so that a window cannot be passed where a bitmap is expected.
struct HWND__;
typedef HWND__* HWND;
struct HBITMAP__;
typedef HBITMAP__* HBITMAP;
struct HDC__;
typedef HDC__* HDC;
/// Any drawing object; here the only ones are bitmaps.
typedef void* HGDIOBJ;
typedef std::intptr_t LRESULT;
typedef std::uintptr_t WPARAM;
typedef std::intptr_t LPARAM;

/// A colour as the window system packs it: 0x00BBGGRR.
constexpr COLORREF RGB(BYTE red, BYTE green, BYTE blue) {
    return COLORREF(red) | COLORREF(green) << 8 | COLORREF(blue) << 16;
}
