// Stands in for the Windows window system on this platform: its handle types.
#pragma once

#include "platform/wintypes/AfxTypes.h"

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
/// Any drawing object; here the only ones are bitmaps.
typedef void* HGDIOBJ;
typedef std::intptr_t LRESULT;
typedef std::uintptr_t WPARAM;
typedef std::intptr_t LPARAM;
