#include "image/detail/StandardType.h"

#include "raster/detail/Parallel.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace kestro::detail {

FIBITMAP* linearTo8Bits(FIBITMAP* dib, FIBITMAP* reuse) {
    if (!dib || !FreeImage_HasPixels(dib) || FreeImage_GetImageType(dib) != FIT_UINT16) return nullptr;
    const unsigned width = FreeImage_GetWidth(dib), height = FreeImage_GetHeight(dib);
    FIBITMAP* out = nullptr;
    if (reuse && FreeImage_GetImageType(reuse) == FIT_BITMAP && FreeImage_GetBPP(reuse) == 8 &&
        FreeImage_GetWidth(reuse) == width && FreeImage_GetHeight(reuse) == height &&
        FreeImage_HasPixels(reuse)) {
        out = reuse;
        RGBQUAD* palette = FreeImage_GetPalette(out);
        for (int i = 0; i < 256; ++i)
            palette[i] = RGBQUAD{BYTE(i), BYTE(i), BYTE(i), 0};
    } else {
        out = FreeImage_Allocate(static_cast<int>(width), static_cast<int>(height), 8);
    }
    if (!out) return nullptr;
    // The range first, each band its own, then one table for every level in it.
    const int bands = bandCount(height, width);
    std::vector<std::uint16_t> lows(static_cast<size_t>(bands), 0xFFFF), highs(static_cast<size_t>(bands), 0);
    runBands(bands, [&](int band) {
        std::uint16_t lo = 0xFFFF, hi = 0;
        for (long y = bandBegin(height, bands, band); y < bandBegin(height, bands, band + 1); ++y) {
            const auto* line =
                reinterpret_cast<const std::uint16_t*>(FreeImage_GetScanLine(dib, static_cast<int>(y)));
            for (unsigned x = 0; x < width; ++x) {
                lo = std::min(lo, line[x]);
                hi = std::max(hi, line[x]);
            }
        }
        lows[static_cast<size_t>(band)] = lo;
        highs[static_cast<size_t>(band)] = hi;
    });
    const int lowest = *std::min_element(lows.begin(), lows.end());
    const int highest = *std::max_element(highs.begin(), highs.end());
    // FreeImage's search for the smallest level starts at 255, so an image whose levels all lie
    // above that is scaled from 255; a flat image is scaled as if it spanned 0..255.
    int low = std::min(lowest, 255), high = highest;
    if (low == high) low = 0, high = 255;
    const double scale = 255 / static_cast<double>(high - low);
    std::vector<BYTE> table(65536, 0);
    for (int v = lowest; v <= highest; ++v)
        table[static_cast<size_t>(v)] = static_cast<BYTE>(scale * (v - low) + 0.5);
    parallelRows(height, width, [&](long y0, long y1) {
        for (long y = y0; y < y1; ++y) {
            const auto* line =
                reinterpret_cast<const std::uint16_t*>(FreeImage_GetScanLine(dib, static_cast<int>(y)));
            BYTE* target = FreeImage_GetScanLine(out, static_cast<int>(y));
            for (unsigned x = 0; x < width; ++x)
                target[x] = table[line[x]];
        }
    });
    return out;
}

} // namespace kestro::detail
