// Helpers for the raster tests: bitmaps filled through their raw bits, and literal references.
#pragma once

#include "image/DalvoImage.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <dirent.h>
#include <string>
#include <vector>

namespace rastertest {

/// Deterministic pseudo-random bytes (a 64-bit LCG), the same on every run.
struct Lcg {
    std::uint64_t state;
    explicit Lcg(std::uint64_t seed) : state(seed) {}
    std::uint32_t next() {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<std::uint32_t>(state >> 33);
    }
};

/// Start of picture row y (0 = top) in the bitmap's raw bits, found from the pitch rather than
/// through FreeImage_GetScanLine: scan lines run bottom-up.
inline BYTE* pictureRow(FIBITMAP* dib, int y) {
    const int h = static_cast<int>(FreeImage_GetHeight(dib));
    return FreeImage_GetBits(dib) + static_cast<size_t>(FreeImage_GetPitch(dib)) * (h - 1 - y);
}

/// A quadrant pattern that tells every pixel apart: the quadrant in the high digits, x and y below.
inline int quadrantValue(int x, int y, int w, int h) {
    const int quadrant = (x >= w / 2 ? 1 : 0) + (y >= h / 2 ? 2 : 0);
    return 10000 * (quadrant + 1) + 100 * y + x;
}

/// An image whose picture pixel (x, y) is f(x, y): FIT_UINT16 for 16-bit samples, an 8-bit
/// FIT_BITMAP (indices) for bytes. The scan-line fill is set to 0xAB so that a mis-pitched read shows.
template <class Sample, class F>
DalvoImage* grayImage(int w, int h, F f) {
    const bool wide = sizeof(Sample) == 2;
    auto* image = new DalvoImage(wide ? FIT_UINT16 : FIT_BITMAP, w, h, wide ? 16 : 8);
    FIBITMAP* dib = *image;
    std::memset(FreeImage_GetBits(dib), 0xAB, static_cast<size_t>(FreeImage_GetPitch(dib)) * h);
    for (int y = 0; y < h; ++y) {
        auto* row = reinterpret_cast<Sample*>(pictureRow(dib, y));
        for (int x = 0; x < w; ++x) row[x] = static_cast<Sample>(f(x, y));
    }
    return image;
}

template <class F>
DalvoImage* uint16Image(int w, int h, F f) {
    return grayImage<std::uint16_t>(w, h, f);
}

template <class F>
DalvoImage* uint8Image(int w, int h, F f) {
    return grayImage<std::uint8_t>(w, h, f);
}

/// The polar sampling point written out step by step: angle to radians in double rounded to
/// float, each offset cos/sin times radius in double rounded to float, plus 0.5 in float, floored.
/// False when the point is outside a w x h raster.
inline bool polarReference(int cx, int cy, float radius, float angle, int w, int h, int& x, int& y) {
    double radians = angle * 3.14159265 / 180;
    float a = (float)radians;
    float cosR = (float)(cos((double)a) * radius);
    float sinR = (float)(sin((double)a) * radius);
    float fx = floorf(cosR + 0.5f);
    float fy = floorf(sinR + 0.5f);
    x = cx + (int)fx;
    y = cy + (int)fy;
    return !(x < 0 || y < 0 || x > w - 1 || y > h - 1);
}

/// The gel scans beside the project ("" when the folder is absent).
inline std::string gelsDir() {
    std::string dir = std::string(KESTRO_SHARED_DIR) + "/gels";
    DIR* d = opendir(dir.c_str());
    if (!d) return "";
    closedir(d);
    return dir;
}

inline std::vector<std::string> gelFiles() {
    std::vector<std::string> files;
    const std::string dir = gelsDir();
    if (dir.empty()) return files;
    DIR* d = opendir(dir.c_str());
    while (dirent* e = readdir(d)) {
        std::string name = e->d_name;
        if (name.size() > 4 && name != "SOURCES.md" && name[0] != '.') files.push_back(dir + "/" + name);
    }
    closedir(d);
    return files;
}

} // namespace rastertest
