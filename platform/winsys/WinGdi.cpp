#include "platform/winsys/WinGdi.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <cstdlib>
#include <new>
#include <stdexcept>

HDC CreateCanvasDC(int width, int height, COLORREF background) {
    if (width < 0 || height < 0) return nullptr;
    try {
        HDC dc = new HDC__;
        dc->width = width;
        dc->height = height;
        dc->rgb.resize(static_cast<size_t>(width) * static_cast<size_t>(height) * 3);
        for (size_t i = 0; i < dc->rgb.size(); i += 3) {
            dc->rgb[i] = GetRValue(background);
            dc->rgb[i + 1] = GetGValue(background);
            dc->rgb[i + 2] = GetBValue(background);
        }
        return dc;
    } catch (const std::bad_alloc&) {
        return nullptr;
    } catch (const std::length_error&) {
        return nullptr;
    }
}

// Contexts of the screen, of windows and memory contexts keep state of their own (Desktop.cpp).
void forgetDesktopContext(HDC dc);

BOOL DeleteDC(HDC dc) {
    if (!dc) return FALSE;
    forgetDesktopContext(dc);
    delete dc;
    return TRUE;
}

int SetStretchBltMode(HDC dc, int mode) {
    if (!dc || mode != COLORONCOLOR) return 0;
    const int previous = dc->stretchMode;
    dc->stretchMode = mode;
    return previous;
}

int GetStretchBltMode(HDC dc) {
    return dc ? dc->stretchMode : 0;
}

COLORREF GetPixel(HDC dc, int x, int y) {
    if (!dc || x < 0 || y < 0 || x >= dc->width || y >= dc->height) return CLR_INVALID;
    const BYTE* p = &dc->rgb[(static_cast<size_t>(y) * dc->width + x) * 3];
    return RGB(p[0], p[1], p[2]);
}

COLORREF SetPixel(HDC dc, int x, int y, COLORREF colour) {
    if (!dc || x < 0 || y < 0 || x >= dc->width || y >= dc->height) return CLR_INVALID;
    BYTE* p = &dc->rgb[(static_cast<size_t>(y) * dc->width + x) * 3];
    p[0] = GetRValue(colour);
    p[1] = GetGValue(colour);
    p[2] = GetBValue(colour);
    return colour & 0xFFFFFF;
}

int MulDiv(int number, int numerator, int denominator) {
    if (denominator == 0) return -1;
    const long long product = static_cast<long long>(number) * numerator;
    long long quotient = product / denominator;
    const long long remainder = product % denominator;
    if (2 * std::llabs(remainder) >= std::llabs(static_cast<long long>(denominator)))
        quotient += ((product < 0) != (denominator < 0)) ? -1 : 1;
    if (quotient > INT_MAX || quotient < INT_MIN) return -1;
    return static_cast<int>(quotient);
}

namespace {

// One axis of a stretch: destination pixels first, first + 1, ... (count of them, ascending)
// take source pixels srcFirst .. srcFirst + srcCount - 1, reversed when mirrored. Destination
// step k samples the source at the centre of its span: j = floor((2k + 1) * srcCount / (2 * count)).
struct StretchAxis {
    long long first;
    long long count;
    long long srcFirst;
    long long srcCount;
    bool mirror;

    StretchAxis(long long dest, long long destSize, long long src, long long srcSize)
        : first(std::min(dest, dest + destSize)), count(std::llabs(destSize)),
          srcFirst(std::min(src, src + srcSize)), srcCount(std::llabs(srcSize)),
          mirror((destSize < 0) != (srcSize < 0)) {}

    long long source(long long k) const {
        const auto j = static_cast<long long>((static_cast<unsigned __int128>(2 * k + 1) * srcCount) /
                                              (static_cast<unsigned __int128>(2) * count));
        return srcFirst + (mirror ? srcCount - 1 - j : j);
    }
    // The steps whose destination pixel lies in [0, limit).
    long long firstVisible() const { return std::max(0LL, -first); }
    long long endVisible(int limit) const { return std::min(count, static_cast<long long>(limit) - first); }
};

// A channel of a bit-field pixel, widened to 8 bits.
struct BitField {
    DWORD mask = 0;
    int shift = 0;
    DWORD max = 0;

    explicit BitField(DWORD m) : mask(m) {
        if (!mask) return;
        while (!((mask >> shift) & 1))
            ++shift;
        max = mask >> shift;
    }
    BYTE operator()(DWORD pixel) const {
        if (!max) return 0;
        return static_cast<BYTE>((static_cast<unsigned long long>((pixel & mask) >> shift) * 255 + max / 2) /
                                 max);
    }
};

// A colour as the canvas stores it, red first, in the low three bytes of a word.
DWORD packed(BYTE r, BYTE g, BYTE b) {
    const BYTE bytes[4] = {r, g, b, 0};
    DWORD word;
    std::memcpy(&word, bytes, 4);
    return word;
}

// One destination row: each visible column (source column >= 0) takes the colour of its source
// pixel. When every column is visible, each pixel is stored as a whole word whose fourth byte
// the next pixel overwrites; the last one is stored as three bytes.
template <typename Fetch> void drawRow(BYTE* out, const std::vector<int>& columns, bool whole, Fetch fetch) {
    const size_t n = columns.size();
    if (whole) {
        for (size_t c = 0; c + 1 < n; ++c, out += 3) {
            const DWORD word = fetch(columns[c]);
            std::memcpy(out, &word, 4);
        }
        const DWORD word = fetch(columns[n - 1]);
        std::memcpy(out, &word, 3);
        return;
    }
    for (size_t c = 0; c < n; ++c, out += 3) {
        if (columns[c] < 0) continue;
        const DWORD word = fetch(columns[c]);
        std::memcpy(out, &word, 3);
    }
}

} // namespace

int StretchDIBits(HDC dc, int xDest, int yDest, int destWidth, int destHeight, int xSrc, int ySrc,
                  int srcWidth, int srcHeight, const void* bits, const BITMAPINFO* info, UINT usage,
                  DWORD rop) {
    if (!dc || !bits || !info || rop != SRCCOPY) return 0;
    const BITMAPINFOHEADER& h = info->bmiHeader;
    const int bpp = h.biBitCount;
    if (h.biWidth <= 0 || h.biHeight == 0 || h.biHeight == INT_MIN) return 0;
    const bool palettised = bpp == 1 || bpp == 4 || bpp == 8;
    if (!palettised && bpp != 16 && bpp != 24 && bpp != 32) return 0;
    if (h.biCompression != BI_RGB && !(h.biCompression == BI_BITFIELDS && (bpp == 16 || bpp == 32))) return 0;
    if (palettised && usage != DIB_RGB_COLORS) return 0;
    if (destWidth == 0 || destHeight == 0 || srcWidth == 0 || srcHeight == 0) return 0;

    const long long bmWidth = h.biWidth;
    const bool bottomUp = h.biHeight > 0;
    const long long bmHeight = bottomUp ? h.biHeight : -static_cast<long long>(h.biHeight);
    const size_t stride = static_cast<size_t>((bmWidth * bpp + 31) / 32) * 4;

    // Colours of the table, or the masks of a bit-field bitmap.
    DWORD table[256] = {};
    if (palettised) {
        const DWORD entries = std::min<DWORD>(h.biClrUsed ? h.biClrUsed : (1u << bpp), 1u << bpp);
        for (DWORD i = 0; i < entries; ++i)
            table[i] =
                packed(info->bmiColors[i].rgbRed, info->bmiColors[i].rgbGreen, info->bmiColors[i].rgbBlue);
    }
    DWORD masks[3] = {0x7C00, 0x03E0, 0x001F};
    if (h.biCompression == BI_BITFIELDS) {
        const auto* given = reinterpret_cast<const DWORD*>(info->bmiColors);
        std::copy(given, given + 3, masks);
    } else if (bpp == 32) {
        masks[0] = 0xFF0000;
        masks[1] = 0x00FF00;
        masks[2] = 0x0000FF;
    }
    const BitField red(masks[0]), green(masks[1]), blue(masks[2]);

    // Source rows in picture order (row 0 at the top). Bitmap row r of a bottom-up bitmap,
    // counted from the bottom, is picture row bmHeight - 1 - r:
    //     source rectangle [ySrc, ySrc + srcHeight) from the bottom
    //         -> picture rows [bmHeight - ySrc - srcHeight, bmHeight - ySrc)
    // and a top-down bitmap's rows are picture rows already. Memory holds picture row p at line
    // bmHeight - 1 - p (bottom-up) or p (top-down).
    const long long srcTop =
        bottomUp ? bmHeight - static_cast<long long>(ySrc) - srcHeight : static_cast<long long>(ySrc);
    const StretchAxis ax(xDest, destWidth, xSrc, srcWidth);
    const StretchAxis ay(yDest, destHeight, srcTop, srcHeight);

    const long long kx0 = ax.firstVisible(), kx1 = ax.endVisible(dc->width);
    const long long ky0 = ay.firstVisible(), ky1 = ay.endVisible(dc->height);
    if (kx0 >= kx1 || ky0 >= ky1) return std::abs(srcHeight);

    // Source columns fit an int: they lie inside the bitmap, whose width is a LONG.
    std::vector<int> columns(static_cast<size_t>(kx1 - kx0));
    bool wholeRows = true;
    for (long long k = kx0; k < kx1; ++k) {
        const long long sx = ax.source(k);
        wholeRows = wholeRows && sx >= 0 && sx < bmWidth;
        columns[static_cast<size_t>(k - kx0)] = (sx >= 0 && sx < bmWidth) ? static_cast<int>(sx) : -1;
    }
    const auto* base = static_cast<const BYTE*>(bits);
    const bool bitFields32 = bpp == 32 && h.biCompression == BI_BITFIELDS;
    const size_t rowBytes = columns.size() * 3;
    BYTE* previous = nullptr;
    long long previousRow = -1;
    for (long long k = ky0; k < ky1; ++k) {
        const long long sy = ay.source(k);
        if (sy < 0 || sy >= bmHeight) continue;
        BYTE* out =
            &dc->rgb[(static_cast<size_t>(ay.first + k) * dc->width + static_cast<size_t>(ax.first + kx0)) *
                     3];
        // Enlarged rows repeat: copy the row just drawn from the same source row.
        if (sy == previousRow && wholeRows) {
            std::copy(previous, previous + rowBytes, out);
            continue;
        }
        const BYTE* line = base + stride * static_cast<size_t>(bottomUp ? bmHeight - 1 - sy : sy);
        switch (bpp) {
        case 1:
            drawRow(out, columns, wholeRows,
                    [&](int x) { return table[(line[x >> 3] >> (7 - (x & 7))) & 1]; });
            break;
        case 4:
            drawRow(out, columns, wholeRows,
                    [&](int x) { return table[(line[x >> 1] >> ((x & 1) ? 0 : 4)) & 15]; });
            break;
        case 8:
            drawRow(out, columns, wholeRows, [&](int x) { return table[line[x]]; });
            break;
        case 16:
            drawRow(out, columns, wholeRows, [&](int x) {
                const DWORD v = line[x * 2] | (line[x * 2 + 1] << 8);
                return packed(red(v), green(v), blue(v));
            });
            break;
        case 24:
            drawRow(out, columns, wholeRows,
                    [&](int x) { return packed(line[x * 3 + 2], line[x * 3 + 1], line[x * 3]); });
            break;
        default:
            if (bitFields32) {
                drawRow(out, columns, wholeRows, [&](int x) {
                    const BYTE* p = line + x * 4;
                    const DWORD v = p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<DWORD>(p[3]) << 24);
                    return packed(red(v), green(v), blue(v));
                });
            } else {
                drawRow(out, columns, wholeRows,
                        [&](int x) { return packed(line[x * 4 + 2], line[x * 4 + 1], line[x * 4]); });
            }
            break;
        }
        previous = out;
        previousRow = sy;
    }
    return std::abs(srcHeight);
}
