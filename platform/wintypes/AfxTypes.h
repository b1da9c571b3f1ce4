// Stands in for the Windows base types on this platform: the scalar types the framework and the window system
// share.
#pragma once

// FreeImage already defines BOOL, BYTE, WORD, DWORD, LONG (32-bit), RGBQUAD, BITMAPINFOHEADER,
// TRUE and FALSE when it is not on Windows; we reuse those and add only what it leaves out.
#include <FreeImage.h>

#include <cstddef>
#include <cstdint>

typedef unsigned int UINT;
typedef std::intptr_t INT_PTR;
typedef std::uintptr_t UINT_PTR;
typedef std::int64_t LONGLONG;
typedef std::uint64_t ULONGLONG;
typedef DWORD COLORREF;
typedef wchar_t TCHAR;
typedef wchar_t WCHAR;
typedef const wchar_t* LPCTSTR;
typedef wchar_t* LPTSTR;
typedef const wchar_t* LPCWSTR;
typedef wchar_t* LPWSTR;
typedef const char* LPCSTR;
typedef char* LPSTR;
typedef void* LPVOID;
typedef const void* LPCVOID;
/// A loaded module: here the base address at which the shared object is mapped.
typedef void* HINSTANCE;
typedef HINSTANCE HMODULE;

#ifndef _T
#define _T(x) L##x
#endif
#ifndef PASCAL
#define PASCAL
#endif
