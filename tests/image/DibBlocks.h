// Memory DIBs for the exchange tests and the DIB reader's fuzz seeds: every depth, and hostile blocks.
#pragma once

#include "image/fipWinImage.h"
#include "platform/winsys/GlobalMemory.h"
#include "TestTables.h"

#include <algorithm>
#include <cstring>
#include <sstream>
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
    unsigned layout; // of 16-bit RGB: 565 or 555
};

inline const std::vector<Depth>& depths() {
    static const std::vector<Depth> all = {
        {"1", FIT_BITMAP, 1, 0},         {"4", FIT_BITMAP, 4, 0},          {"8", FIT_BITMAP, 8, 0},
        {"16-565", FIT_BITMAP, 16, 565}, {"16-555", FIT_BITMAP, 16, 555},  {"24", FIT_BITMAP, 24, 0},
        {"32", FIT_BITMAP, 32, 0},       {"UINT16", FIT_UINT16, 16, 0},    {"INT16", FIT_INT16, 16, 0},
        {"UINT32", FIT_UINT32, 32, 0},   {"INT32", FIT_INT32, 32, 0},      {"FLOAT", FIT_FLOAT, 32, 0},
        {"DOUBLE", FIT_DOUBLE, 64, 0},   {"COMPLEX", FIT_COMPLEX, 128, 0}, {"RGB16", FIT_RGB16, 48, 0},
        {"RGBA16", FIT_RGBA16, 64, 0},   {"RGBF", FIT_RGBF, 96, 0},        {"RGBAF", FIT_RGBAF, 128, 0}};
    return all;
}

/// A w x h image of that depth with a byte pattern in every pixel byte and palette entry.
inline bool paint(fipWinImage& image, const Depth& d, unsigned w = 5, unsigned h = 3) {
    const unsigned red = d.layout == 565 ? FI16_565_RED_MASK : d.layout ? FI16_555_RED_MASK : 0;
    const unsigned green = d.layout == 565 ? FI16_565_GREEN_MASK : d.layout ? FI16_555_GREEN_MASK : 0;
    const unsigned blue = d.layout ? FI16_565_BLUE_MASK : 0; // the same in both layouts
    if (!image.setSize(d.type, w, h, d.bpp, red, green, blue)) return false;
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

/// A block, and the block the image gives after reading it: empty when it must be refused.
struct Hostile {
    std::string name;
    Bytes block;
    Bytes expected;
};

/// The block after the edits of the hostile-block table (image/data/dib-blocks.txt), in order.
inline Bytes edited(Bytes b, const std::string& edits) {
    static const std::vector<std::pair<std::string, unsigned>> fields = {
        {"Size", 0},         {"Width", 4},  {"Height", 8},   {"Planes", 12},      {"BitCount", 14},
        {"Compression", 16}, {"XPels", 24}, {"ClrUsed", 32}, {"ClrImportant", 36}};
    std::istringstream in(edits);
    for (std::string edit; in >> edit;) {
        std::vector<long long> n; // the numbers after '=' or ':'
        for (size_t at = edit.find_first_of("=:"); at != std::string::npos; at = edit.find(':', at + 1))
            n.push_back(std::stoll(edit.substr(at + 1), nullptr, 0));
        const std::string op = edit.substr(0, edit.find_first_of("=:"));
        for (const auto& [name, offset] : fields)
            for (unsigned i = 0; op == name && i < (offset == 12 || offset == 14 ? 2u : 4u); ++i)
                b[offset + i] = static_cast<BYTE>(static_cast<unsigned long long>(n[0]) >> (8 * i));
        if (op == "cut") b.erase(b.begin() + n[0], b.begin() + n[0] + n[1]);
        if (op == "keep")
            b.resize(static_cast<size_t>(n[0] < 0 ? static_cast<long long>(b.size()) + n[0] : n[0]));
        if (op == "pad") b.resize(b.size() + static_cast<size_t>(n[0]), 0xEE);
        for (int i = 2; op == "masks" && i >= 0; --i)
            for (int k = 3; k >= 0; --k)
                b.insert(b.begin() + 40, static_cast<BYTE>(n[i] >> (8 * k)));
        const Bytes rows = b; // the 8-bit block: 40 header bytes, 1024 of palette, 3 rows of 8 bytes
        for (size_t r = 0; op == "flip" && r < 3; ++r)
            std::copy_n(rows.begin() + 1064 + 8 * (2 - r), 8, b.begin() + 1064 + 8 * r);
        for (long long i = op == "ramp" ? n[0] : 256; i < 256; ++i)
            b[40 + 4 * i] = b[41 + 4 * i] = b[42 + 4 * i] = static_cast<BYTE>(i), b[43 + 4 * i] = 0;
    }
    return b;
}

inline std::vector<Hostile> hostileBlocks() {
    std::vector<Hostile> all;
    for (const std::string& row : TableRows("image/data/dib-blocks.txt")) {
        std::vector<std::string> cells;
        std::istringstream in(row);
        for (std::string cell; std::getline(in, cell, '|');)
            cells.push_back(cell.substr(0, cell.find_last_not_of(' ') + 1));
        const Bytes base = blockOfDepth(depth(cells.at(1).substr(cells[1].find_first_not_of(' '))));
        Hostile h{cells[0], edited(base, cells.at(2)), {}};
        if (cells.at(3).find("same") != std::string::npos) h.expected = h.block;
        if (cells[3].find("base") != std::string::npos)
            h.expected = edited(base, cells[3].substr(cells[3].find("base") + 4));
        all.push_back(h);
    }
    return all;
}

} // namespace dibtest
