// Memory DIBs for the exchange tests and the seeds of the DIB reader's fuzz target: a patterned
// image of every depth, and hostile blocks derived from them with the verdict the reader owes.
#pragma once

#include "image/fipWinImage.h"
#include "winsys/GlobalMemory.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace dibtest {

using Bytes = std::vector<BYTE>;

/// The bytes of a block; the block is freed.
inline Bytes take(HANDLE memory) {
    Bytes bytes;
    if (const BYTE* p = static_cast<const BYTE*>(GlobalLock(memory))) {
        bytes.assign(p, p + GlobalSize(memory));
        GlobalUnlock(memory);
    }
    GlobalFree(memory);
    return bytes;
}

inline Bytes blockOf(const fipWinImage& image) {
    return take(image.copyToHandle());
}

/// Reads bytes as a memory DIB through a block of exactly their size.
inline BOOL readBlock(fipWinImage& image, const Bytes& bytes) {
    HGLOBAL memory = GlobalAlloc(GHND, bytes.size());
    if (BYTE* p = static_cast<BYTE*>(GlobalLock(memory))) {
        std::memcpy(p, bytes.data(), bytes.size());
        GlobalUnlock(memory);
    }
    const BOOL result = image.copyFromHandle(memory);
    GlobalFree(memory);
    return result;
}

struct Depth {
    const char* name;
    FREE_IMAGE_TYPE type;
    unsigned bpp;
    unsigned red, green, blue;
};

inline const std::vector<Depth>& depths() {
    static const std::vector<Depth> all = {
        {"1", FIT_BITMAP, 1, 0, 0, 0},
        {"4", FIT_BITMAP, 4, 0, 0, 0},
        {"8", FIT_BITMAP, 8, 0, 0, 0},
        {"16-565", FIT_BITMAP, 16, FI16_565_RED_MASK, FI16_565_GREEN_MASK, FI16_565_BLUE_MASK},
        {"16-555", FIT_BITMAP, 16, FI16_555_RED_MASK, FI16_555_GREEN_MASK, FI16_555_BLUE_MASK},
        {"24", FIT_BITMAP, 24, 0, 0, 0},
        {"32", FIT_BITMAP, 32, 0, 0, 0},
        {"UINT16", FIT_UINT16, 16, 0, 0, 0},
        {"INT16", FIT_INT16, 16, 0, 0, 0},
        {"UINT32", FIT_UINT32, 32, 0, 0, 0},
        {"INT32", FIT_INT32, 32, 0, 0, 0},
        {"FLOAT", FIT_FLOAT, 32, 0, 0, 0},
        {"DOUBLE", FIT_DOUBLE, 64, 0, 0, 0},
        {"COMPLEX", FIT_COMPLEX, 128, 0, 0, 0},
        {"RGB16", FIT_RGB16, 48, 0, 0, 0},
        {"RGBA16", FIT_RGBA16, 64, 0, 0, 0},
        {"RGBF", FIT_RGBF, 96, 0, 0, 0},
        {"RGBAF", FIT_RGBAF, 128, 0, 0, 0},
    };
    return all;
}

/// A w x h image of that depth with a byte pattern in every pixel byte and palette entry.
inline bool paint(fipWinImage& image, const Depth& d, unsigned w = 5, unsigned h = 3) {
    if (!image.setSize(d.type, w, h, d.bpp, d.red, d.green, d.blue)) return false;
    for (unsigned y = 0; y < h; ++y) {
        BYTE* line = image.getScanLine(y);
        for (unsigned i = 0; i < image.getLine(); ++i)
            line[i] = static_cast<BYTE>(i * 7 + y * 13 + 1);
    }
    BYTE* palette = reinterpret_cast<BYTE*>(image.getPalette());
    for (unsigned i = 0; palette && i < image.getPaletteSize(); ++i)
        palette[i] = static_cast<BYTE>(255 - i * 3);
    return true;
}

inline Bytes blockOfDepth(const Depth& d, unsigned w = 5, unsigned h = 3) {
    fipWinImage image;
    return paint(image, d, w, h) ? blockOf(image) : Bytes();
}

inline const Depth& depth(const std::string& name) {
    for (const Depth& d : depths())
        if (name == d.name) return d;
    return depths().front();
}

// Header fields by offset.
enum Field : unsigned {
    Size = 0,
    Width = 4,
    Height = 8,
    Planes = 12,
    BitCount = 14,
    Compression = 16,
    XPels = 24,
    ClrUsed = 32,
    ClrImportant = 36
};

inline Bytes with(Bytes b, Field f, std::int64_t value) {
    const unsigned bytes = (f == Planes || f == BitCount) ? 2 : 4;
    if (b.size() < 40) return b;
    for (unsigned i = 0; i < bytes; ++i)
        b[f + i] = static_cast<BYTE>(std::uint64_t(value) >> (8 * i));
    return b;
}

inline Bytes cut(Bytes b, std::size_t at, std::size_t count) {
    b.erase(b.begin() + static_cast<std::ptrdiff_t>(at), b.begin() + static_cast<std::ptrdiff_t>(at + count));
    return b;
}

/// A block, and the block the image gives after reading it: empty when it must be refused.
struct Hostile {
    const char* name;
    Bytes block;
    Bytes expected;
};

inline std::vector<Hostile> hostileBlocks() {
    const Bytes b8 = blockOfDepth(depth("8")), b24 = blockOfDepth(depth("24"));
    const Bytes b32 = blockOfDepth(depth("32")), b555 = blockOfDepth(depth("16-555"));
    const std::size_t pixels8 = 40 + 1024, stride8 = 8;

    Bytes topDown = with(b8, Height, -3); // rows stored top first
    for (unsigned r = 0; r < 3; ++r)
        std::memcpy(&topDown[pixels8 + r * stride8], &b8[pixels8 + (2 - r) * stride8], stride8);
    Bytes shortTable = cut(with(b8, ClrUsed, 16), 40 + 16 * 4, 240 * 4);
    Bytes shortTableRead = b8; // the entries the block leaves out keep the index ramp
    for (unsigned i = 16; i < 256; ++i) {
        const BYTE entry[4] = {BYTE(i), BYTE(i), BYTE(i), 0};
        std::memcpy(&shortTableRead[40 + i * 4], entry, 4);
    }
    Bytes bitfields32 = with(b32, Compression, 3);
    const unsigned fiMasks[3] = {FI_RGBA_RED_MASK, FI_RGBA_GREEN_MASK, FI_RGBA_BLUE_MASK};
    bitfields32.insert(bitfields32.begin() + 40, reinterpret_cast<const BYTE*>(fiMasks),
                       reinterpret_cast<const BYTE*>(fiMasks) + 12);
    Bytes swapped32 = bitfields32;
    std::swap_ranges(swapped32.begin() + 40, swapped32.begin() + 44, swapped32.begin() + 48);
    Bytes tail = b24;
    tail.resize(tail.size() + 9, 0xEE);

    return {
        // Read, with what the image makes of them.
        {"top-down rows", topDown, b8},
        {"biClrUsed 0 at 8 bits: the full table", with(b8, ClrUsed, 0), b8},
        {"16 colours of 256", shortTable, shortTableRead},
        {"16 bits without masks are 5-5-5", with(cut(b555, 40, 12), Compression, 0), b555},
        {"32 bits with FreeImage's masks", bitfields32, b32},
        {"resolution travels", with(b24, XPels, 1234), with(b24, XPels, 1234)},
        {"planes and importance are not trusted", with(with(b8, Planes, 9), ClrImportant, 999), b8},
        {"bytes after the pixels", tail, b24},
        // Refused.
        {"shorter than a header", Bytes(b8.begin(), b8.begin() + 39), {}},
        {"core header", with(b8, Size, 12), {}},
        {"version 5 header", with(b8, Size, 124), {}},
        {"no columns", with(b8, Width, 0), {}},
        {"negative width", with(b8, Width, -5), {}},
        {"65536 columns", with(b8, Width, 65536), {}},
        {"no rows", with(b8, Height, 0), {}},
        {"65536 rows", with(b8, Height, 65536), {}},
        {"65536 rows top-down", with(b8, Height, -65536), {}},
        {"most negative height", with(b8, Height, INT32_MIN), {}},
        {"more rows than the block", with(b8, Height, 4), {}},
        {"wider than the block", with(b8, Width, 9), {}},
        {"biClrUsed beyond the palette", with(b8, ClrUsed, 257), {}},
        {"biClrUsed beyond the block", with(b24, ClrUsed, 0x10000000), {}},
        {"biClrUsed at its largest", with(b24, ClrUsed, 0xFFFFFFFF), {}},
        {"one byte short", Bytes(b8.begin(), b8.end() - 1), {}},
        {"run-length 8", with(b8, Compression, 1), {}},
        {"JPEG body", with(b24, Compression, 4), {}},
        {"type FIT_BITMAP by number", with(b24, Compression, 256), {}},
        {"type past the last", with(b24, Compression, 268), {}},
        {"no bits per pixel", with(b8, BitCount, 0), {}},
        {"2 bits per pixel", with(b8, BitCount, 2), {}},
        {"64 bits per pixel", with(b8, BitCount, 64), {}},
        {"FIT_UINT16 at 8 bits", with(b8, Compression, 257), {}},
        {"masks at 24 bits", with(b24, Compression, 3), {}},
        {"foreign masks at 32 bits", swapped32, {}},
        {"masks cut off", Bytes(bitfields32.begin(), bitfields32.begin() + 46), {}},
    };
}

} // namespace dibtest
