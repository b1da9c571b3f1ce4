// Small helpers shared by the image tests: scratch files, real scans, synthetic bitmaps, and a
// minimal TIFF writer for files that FreeImage's own writer cannot produce.
#pragma once

#include "image/DalvoImage.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

namespace imagetest {

inline std::string scratch(const std::string& name) { return std::string(KESTRO_TEST_TMP) + "/" + name; }

inline CString wide(const std::string& utf8) { return CString::FromUtf8(utf8); }

inline bool exists(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return in.good();
}

inline std::vector<BYTE> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<BYTE>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeBytes(const std::string& path, const std::vector<BYTE>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::string gelsDir() { return std::string(KESTRO_SHARED_DIR) + "/gels"; }
inline bool gelsPresent() { return exists(gelsDir() + "/SOURCES.md"); }
inline std::string gel(const std::string& name) { return gelsDir() + "/" + name; }

/// Deterministic value of pixel (x, y) for a depth: distinct neighbours, every bit exercised.
inline unsigned pattern(unsigned x, unsigned y, unsigned salt = 0) { return x * 37u + y * 101u + salt * 13u + x * y; }

/// Fills a bitmap of any standard type with pattern(); palettised depths use indices within range.
inline void fill(fipImage& image) {
    const unsigned w = image.getWidth(), h = image.getHeight(), bpp = image.getBitsPerPixel();
    for (unsigned y = 0; y < h; ++y) {
        BYTE* line = image.getScanLine(y);
        switch (image.getImageType()) {
        case FIT_UINT16:
            for (unsigned x = 0; x < w; ++x) reinterpret_cast<WORD*>(line)[x] = static_cast<WORD>(pattern(x, y) * 251u);
            break;
        case FIT_FLOAT:
            for (unsigned x = 0; x < w; ++x) reinterpret_cast<float*>(line)[x] = static_cast<float>(pattern(x, y) % 1000) / 1000.0f;
            break;
        default:
            if (bpp <= 8) {
                const unsigned colors = 1u << bpp;
                for (unsigned x = 0; x < w; ++x) {
                    BYTE index = static_cast<BYTE>(pattern(x, y) % colors);
                    image.setPixelIndex(x, y, &index);
                }
            } else {
                for (unsigned i = 0; i < image.getLine(); ++i) line[i] = static_cast<BYTE>(pattern(i, y));
            }
        }
    }
}

/// A new bitmap of the given type and depth filled with pattern(). Palettised depths keep the
/// index ramp of setSize but spread over 0..255 so that every index has its own colour.
inline void makePatterned(fipImage& image, FREE_IMAGE_TYPE type, unsigned bpp, unsigned w = 13, unsigned h = 7) {
    ASSERT_TRUE(image.setSize(type, w, h, bpp));
    if (type == FIT_BITMAP && bpp <= 8) {
        RGBQUAD* palette = image.getPalette();
        const unsigned colors = image.getColorsUsed();
        for (unsigned i = 0; i < colors; ++i) {
            const BYTE v = static_cast<BYTE>(colors > 1 ? i * 255u / (colors - 1) : 0);
            palette[i].rgbRed = palette[i].rgbGreen = palette[i].rgbBlue = v;
        }
    }
    fill(image);
}

/// The colour that pixel (x, y) shows, whatever the depth: palettes resolved, 16-bit RGB expanded.
inline RGBQUAD shownColor(fipImage& image, unsigned x, unsigned y) {
    RGBQUAD c{};
    if (image.getBitsPerPixel() <= 8) {
        BYTE index = 0;
        image.getPixelIndex(x, y, &index);
        c = image.getPalette()[index];
        c.rgbReserved = 0;
    } else {
        image.getPixelColor(x, y, &c);
        if (image.getBitsPerPixel() != 32) c.rgbReserved = 0;
    }
    return c;
}

/// Same size and, pixel for pixel, the same shown colour (standard bitmaps) or the same raw
/// sample bytes (all other types).
inline ::testing::AssertionResult samePixels(fipImage& a, fipImage& b) {
    if (a.getWidth() != b.getWidth() || a.getHeight() != b.getHeight()) {
        return ::testing::AssertionFailure() << "size " << a.getWidth() << "x" << a.getHeight() << " vs "
                                             << b.getWidth() << "x" << b.getHeight();
    }
    if (a.getImageType() != b.getImageType()) {
        return ::testing::AssertionFailure() << "type " << a.getImageType() << " vs " << b.getImageType();
    }
    for (unsigned y = 0; y < a.getHeight(); ++y) {
        for (unsigned x = 0; x < a.getWidth(); ++x) {
            if (a.getImageType() == FIT_BITMAP) {
                const RGBQUAD ca = shownColor(a, x, y), cb = shownColor(b, x, y);
                if (ca.rgbRed != cb.rgbRed || ca.rgbGreen != cb.rgbGreen || ca.rgbBlue != cb.rgbBlue ||
                    (a.getBitsPerPixel() == 32 && b.getBitsPerPixel() == 32 && ca.rgbReserved != cb.rgbReserved)) {
                    return ::testing::AssertionFailure() << "pixel (" << x << "," << y << ") differs";
                }
            }
        }
        if (a.getImageType() != FIT_BITMAP &&
            std::memcmp(a.getScanLine(y), b.getScanLine(y), a.getLine()) != 0) {
            return ::testing::AssertionFailure() << "scan line " << y << " differs";
        }
    }
    return ::testing::AssertionSuccess();
}

/// One image directory of a hand-written little-endian TIFF: uncompressed, one strip.
struct TiffDirectory {
    unsigned width;
    unsigned height;
    unsigned samples; // 1 gray, 3 RGB
    unsigned bits;    // per sample
    std::string make; // empty: no Make tag
};

/// Writes a little-endian TIFF with the given directories chained in order. FreeImage's writer
/// cannot add a Make tag to the main directory, which is what makes its camera-raw plugin claim
/// a TIFF, so the test files are written by hand.
inline std::vector<BYTE> handWrittenTiff(const std::vector<TiffDirectory>& dirs) {
    std::vector<BYTE> out = {'I', 'I', 0x2A, 0x00, 8, 0, 0, 0};
    auto put16 = [&out](size_t at, unsigned v) {
        out[at] = static_cast<BYTE>(v), out[at + 1] = static_cast<BYTE>(v >> 8);
    };
    auto put32 = [&](size_t at, unsigned v) { put16(at, v & 0xFFFF), put16(at + 2, v >> 16); };
    size_t nextLink = 4;
    for (const TiffDirectory& d : dirs) {
        while (out.size() % 2) out.push_back(0);
        put32(nextLink, static_cast<unsigned>(out.size()));
        const unsigned count = d.make.empty() ? 11 : 12;
        const size_t ifd = out.size();
        const size_t blobs = ifd + 2 + count * 12 + 4;
        std::vector<BYTE> extra;
        auto blob = [&](const std::vector<BYTE>& bytes) {
            const unsigned at = static_cast<unsigned>(blobs + extra.size());
            extra.insert(extra.end(), bytes.begin(), bytes.end());
            if (extra.size() % 2) extra.push_back(0);
            return at;
        };
        const unsigned bpsAt = d.samples == 1 ? d.bits
                                              : blob({static_cast<BYTE>(d.bits), 0, static_cast<BYTE>(d.bits), 0,
                                                      static_cast<BYTE>(d.bits), 0});
        const unsigned resAt = blob({72, 0, 0, 0, 1, 0, 0, 0});
        std::vector<BYTE> makeText(d.make.begin(), d.make.end());
        makeText.push_back(0);
        const unsigned makeAt = d.make.empty() ? 0 : blob(makeText);
        const unsigned pixelBytes = d.width * d.height * d.samples * d.bits / 8;
        std::vector<std::vector<unsigned>> tags = {{256, 3, 1, d.width},
                                                   {257, 3, 1, d.height},
                                                   {258, 3, d.samples, bpsAt},
                                                   {259, 3, 1, 1},
                                                   {262, 3, 1, d.samples == 1 ? 1u : 2u},
                                                   {273, 4, 1, 0},
                                                   {277, 3, 1, d.samples},
                                                   {278, 3, 1, d.height},
                                                   {279, 4, 1, pixelBytes},
                                                   {282, 5, 1, resAt},
                                                   {283, 5, 1, resAt}};
        if (!d.make.empty()) tags.insert(tags.begin() + 5, {271, 2, static_cast<unsigned>(d.make.size() + 1), makeAt});
        out.resize(blobs);
        put16(ifd, count);
        const unsigned pixelsAt = static_cast<unsigned>(blobs + extra.size());
        for (size_t i = 0; i < tags.size(); ++i) {
            const size_t at = ifd + 2 + i * 12;
            put16(at, tags[i][0]), put16(at + 2, tags[i][1]), put32(at + 4, tags[i][2]);
            const unsigned value = tags[i][0] == 273 ? pixelsAt : tags[i][3];
            if (tags[i][1] == 3 && tags[i][2] == 1) put16(at + 8, value), put16(at + 10, 0);
            else put32(at + 8, value);
        }
        nextLink = ifd + 2 + count * 12;
        put32(nextLink, 0);
        out.insert(out.end(), extra.begin(), extra.end());
        for (unsigned i = 0; i < pixelBytes; ++i) out.push_back(static_cast<BYTE>(i * 7));
    }
    return out;
}

/// Exposes the display state of a fipWinImage or a class derived from it to the tests.
template <class Image>
class DisplayProbe : public Image {
public:
    using Image::Image;
    DisplayProbe() = default;
    DisplayProbe(const DisplayProbe&) = default;
    DisplayProbe& operator=(const DisplayProbe&) = default;

    FIBITMAP* display() const { return this->displayBitmap; }
    BOOL ownsDisplay() const { return this->ownsDisplayBitmap; }
    /// Gives the image a private display bitmap, as a draw would.
    void makePrivateDisplay() {
        this->releaseDisplayBitmap();
        this->displayBitmap = FreeImage_Clone(this->m_dib);
        this->ownsDisplayBitmap = TRUE;
    }
    /// Shows the image bitmap itself, as a draw of a standard bitmap would.
    void makeSharedDisplay() {
        this->releaseDisplayBitmap();
        this->displayBitmap = this->m_dib;
    }
    void setLimits(int low, int high) { this->autoContrastLow = low, this->autoContrastHigh = high; }
    void setPaletteTypeRaw(enPalette type) { this->paletteType = type; }
    FREE_IMAGE_FORMAT fileFormatField() const { return this->m_fif; }
};

/// Exposes the protected state of DalvoImage to the tests.
class ImageProbe : public DisplayProbe<DalvoImage> {
public:
    using DisplayProbe<DalvoImage>::DisplayProbe;
    ImageProbe() = default;
    ImageProbe(const ImageProbe&) = default;
    ImageProbe& operator=(const ImageProbe&) = default;

    RasterImage* cache() const { return rasterImage; }
    void plantCache(RasterImage* raster) {
        dropRasterCache();
        rasterImage = raster;
    }
    BOOL loadByName(const CString& path) { return CreateFromFileName(path); }
    void copyFields(const DalvoImage& src) { copy(src); }
};

} // namespace imagetest
