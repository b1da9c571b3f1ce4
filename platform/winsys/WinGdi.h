// Stands in for the Windows graphics interface (GDI) on this platform: memory device contexts and
// the stretching of device-independent bitmaps into them, plus MulDiv.
#pragma once

#include "platform/wintypes/AfxTypes.h"
#include "platform/wintypes/Export.h"

#include <vector>

// The one stretch mode the display asks for: whole pixels deleted or repeated (nearest colour).
#define COLORONCOLOR 3

// A bitmap's colour table holds RGB quads (these contexts have no logical palette to index).
#define DIB_RGB_COLORS 0

#ifndef BI_RGB
#define BI_RGB 0L
#endif
#ifndef BI_BITFIELDS
#define BI_BITFIELDS 3L
#endif

#define SRCCOPY 0x00CC0020UL
#define CLR_INVALID 0xFFFFFFFFUL

#define RGB(r, g, b)                                                                                         \
    (static_cast<COLORREF>(static_cast<BYTE>(r) | (static_cast<WORD>(static_cast<BYTE>(g)) << 8) |           \
                           (static_cast<DWORD>(static_cast<BYTE>(b)) << 16)))
#define GetRValue(c) (static_cast<BYTE>((c)&0xFF))
#define GetGValue(c) (static_cast<BYTE>(((c) >> 8) & 0xFF))
#define GetBValue(c) (static_cast<BYTE>(((c) >> 16) & 0xFF))

/// A device context: a canvas of 8-bit red, green and blue in memory, rows from the top, and the
/// context's stretch mode. Drawing clips at the canvas edges.
struct HDC__ {
    int width = 0;
    int height = 0;
    std::vector<BYTE> rgb; ///< width * height * 3 bytes: red, green, blue; row 0 is the top
    int stretchMode = COLORONCOLOR;
};
typedef HDC__* HDC;

/// A context with a canvas of width x height pixels filled with `background`; null when a size is
/// negative or the canvas cannot be allocated. Release it with DeleteDC.
KESTRO_API HDC CreateCanvasDC(int width, int height, COLORREF background = RGB(255, 255, 255));
/// Releases a context made by CreateCanvasDC; FALSE for null.
KESTRO_API BOOL DeleteDC(HDC dc);

/// Sets the stretch mode and returns the previous one; 0 for a null context or a mode other than
/// COLORONCOLOR, the only one drawn here, which leaves the mode as it was.
KESTRO_API int SetStretchBltMode(HDC dc, int mode);
KESTRO_API int GetStretchBltMode(HDC dc);

/// Scales the source rectangle of a device-independent bitmap into the destination rectangle
/// with nearest-colour sampling. Rectangles are half-open and given by a corner and a signed
/// size: a destination (or source) size whose sign differs from the other's mirrors that axis;
/// a zero size draws nothing. The source rectangle is in the bitmap's own coordinates: origin at
/// the lower left for a bottom-up bitmap (positive biHeight), upper left for a top-down one.
/// Samples outside the bitmap and pixels outside the canvas are skipped.
/// Bitmaps: 1, 4 and 8 bits through the colour table (DIB_RGB_COLORS; an index past the table
/// is black), 16 bits as 5-5-5 or with BI_BITFIELDS masks in the colour table, 24 and 32 bits
/// direct (blue, green, red). Rows are padded to 4 bytes. Only SRCCOPY is drawn.
/// Returns the number of source scan lines, 0 when nothing could be drawn (null context,
/// bits or header, an unsupported format, usage or raster operation, a zero size).
KESTRO_API int StretchDIBits(HDC dc, int xDest, int yDest, int destWidth, int destHeight, int xSrc, int ySrc,
                             int srcWidth, int srcHeight, const void* bits, const BITMAPINFO* info,
                             UINT usage, DWORD rop);

/// The canvas colour at (x, y); CLR_INVALID outside the canvas or for a null context.
KESTRO_API COLORREF GetPixel(HDC dc, int x, int y);
/// Sets the canvas colour at (x, y) and returns it; CLR_INVALID outside the canvas.
KESTRO_API COLORREF SetPixel(HDC dc, int x, int y, COLORREF colour);

/// number * numerator / denominator with a 64-bit intermediate, rounded to the nearest integer
/// with halves away from zero; -1 when the denominator is 0 or the result does not fit an int.
KESTRO_API int MulDiv(int number, int numerator, int denominator);
