// Helpers for the raster tests: bitmaps filled through their raw bits and literal references.
#pragma once

#include "image/DalvoImage.h"
#include "raster/RasterImageGS16.h"

#include <cmath>
#include <cstring>
#include <vector>

namespace rastertest {

/// Start of picture row y (0 = top) in the bitmap's raw bits, found from the pitch rather than
/// through FreeImage_GetScanLine: scan lines run bottom-up.
inline BYTE* pictureRow(FIBITMAP* dib, int y) {
    const int h = static_cast<int>(FreeImage_GetHeight(dib));
    return FreeImage_GetBits(dib) + static_cast<size_t>(FreeImage_GetPitch(dib)) * (h - 1 - y);
}

/// The raster's pixels, row by row.
inline std::vector<int> pixelsOf(const RasterImageGS16& r) {
    return std::vector<int>(r.pixels, r.pixels + static_cast<size_t>(r.width) * r.height);
}

/// A quadrant pattern that tells every pixel apart: the quadrant in the high digits, x and y below.
inline int quadrantValue(int x, int y, int w, int h) {
    const int quadrant = (x >= w / 2 ? 1 : 0) + (y >= h / 2 ? 2 : 0);
    return 10000 * (quadrant + 1) + 100 * y + x;
}

/// An image whose picture pixel (x, y) is f(x, y): FIT_UINT16 for 16-bit samples, an 8-bit
/// FIT_BITMAP (indices) for bytes. The scan-line fill is 0xAB so that a mis-pitched read shows.
template <class Sample, class F> DalvoImage* grayImage(int w, int h, F f) {
    const bool wide = sizeof(Sample) == 2;
    auto* image = new DalvoImage(wide ? FIT_UINT16 : FIT_BITMAP, w, h, wide ? 16 : 8);
    std::memset(FreeImage_GetBits(*image), 0xAB, static_cast<size_t>(FreeImage_GetPitch(*image)) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            reinterpret_cast<Sample*>(pictureRow(*image, y))[x] = static_cast<Sample>(f(x, y));
    return image;
}

/// The polar sampling point written out: angle to radians in double rounded to float, each offset
/// cos/sin times radius in double rounded to float, plus 0.5 in float, floored. False when the
/// point is outside a w x h raster.
inline bool polarReference(int cx, int cy, float radius, float angle, int w, int h, int& x, int& y) {
    const float a = (float)(angle * 3.14159265 / 180);
    x = cx + (int)floorf((float)(cos((double)a) * radius) + 0.5f);
    y = cy + (int)floorf((float)(sin((double)a) * radius) + 0.5f);
    return !(x < 0 || y < 0 || x > w - 1 || y > h - 1);
}

} // namespace rastertest
