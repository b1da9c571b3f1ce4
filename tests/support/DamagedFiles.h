// Image files broken the way copies and scanners break them, made from the library's own output.
#pragma once

#include "image/ImageTestKit.h"

#include <vector>

namespace damaged {

/// A 64 x 64 16-bit TIFF of noise with 2000 bytes of its pixels cut out and its directory moved
/// up to follow: the file ends before the pixels its directory names do. Empty if the encoder
/// laid the file out otherwise.
inline std::vector<BYTE> cutTiff() {
    fipImage gel(FIT_UINT16, 64, 64, 16);
    unsigned noise = 12345; // incompressible, so that cutting the file cuts the pixels
    for (unsigned y = 0; y < 64; ++y)
        for (unsigned x = 0; x < 64; ++x)
            reinterpret_cast<WORD*>(gel.getScanLine(y))[x] =
                static_cast<WORD>((noise = noise * 1103515245u + 12345u) >> 16);
    std::vector<BYTE> cut = imagetest::encoded(gel, FIF_TIFF);
    if (cut.empty()) return {};
    const unsigned directory = cut[4] | cut[5] << 8 | cut[6] << 16 | cut[7] << 24;
    if (directory <= 6000) return {};
    cut.erase(cut.begin() + 4000, cut.begin() + 6000);
    for (int i = 0; i < 4; ++i)
        cut[4 + i] = static_cast<BYTE>((directory - 2000) >> (8 * i));
    return cut;
}

} // namespace damaged
