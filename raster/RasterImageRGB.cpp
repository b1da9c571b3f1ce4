// The colour raster.
#include "raster/RasterImageRGB.h"

#include "image/DalvoImage.h"
#include "raster/detail/Kernels.h"

#include <opencv2/core.hpp>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

#if KESTRO_AVX2_BUILDS
#include <immintrin.h>
#endif

IMPLEMENT_SERIAL(RasterImageRGB, RasterImage, VERSIONABLE_SCHEMA | 0)

// Each quad is what FreeImage_GetPixelColor gives for its pixel. Asking for every pixel is slow,
// so standard bitmaps of 24 and 32 bits are read by scan line, and 16-bit ones through a table of
// the query's answers for all 65536 words under the image's masks; the tests hold every reader
// to the query. Everything else is read pixel by pixel through the query.

namespace {

using RowReader = void (*)(const BYTE* line, RGBQUAD* dst, size_t width, const RGBQUAD* table);

void readRow24Portable(const BYTE* line, RGBQUAD* dst, size_t width, const RGBQUAD*) {
    if (width == 0) return;
    // Four bytes at a time, the fourth (the next pixel's first byte) masked away; the last
    // pixel is read bytewise so that nothing past the scan line is touched.
    for (size_t x = 0; x + 1 < width; ++x) {
        std::uint32_t v;
        std::memcpy(&v, line + 3 * x, 4);
        v &= 0x00FFFFFFu;
        std::memcpy(dst + x, &v, 4);
    }
    const BYTE* last = line + 3 * (width - 1);
    dst[width - 1] = RGBQUAD{last[0], last[1], last[2], 0};
}

#if KESTRO_AVX2_BUILDS
// Eight pixels per byte shuffle: 24 bytes in (two 12-byte halves), 32 out, the reserved byte
// zeroed. The second 16-byte load stays inside the scan line while two more pixels follow; the
// rest goes bytewise.
KESTRO_AVX2 void readRow24Shuffle(const BYTE* line, RGBQUAD* dst, size_t width, const RGBQUAD*) {
    const __m256i spread = _mm256_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1, //
                                            0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
    size_t x = 0;
    for (; x + 10 <= width; x += 8) {
        const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(line + 3 * x));
        const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(line + 3 * x + 12));
        const __m256i bytes = _mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + x), _mm256_shuffle_epi8(bytes, spread));
    }
    for (; x < width; ++x)
        dst[x] = RGBQUAD{line[3 * x], line[3 * x + 1], line[3 * x + 2], 0};
}
#endif

RowReader reader24() {
#if KESTRO_AVX2_BUILDS
    if (kestro::detail::wideVectors()) return readRow24Shuffle;
#endif
    return readRow24Portable;
}

void readRow32(const BYTE* line, RGBQUAD* dst, size_t width, const RGBQUAD*) {
    std::memcpy(dst, line, width * sizeof(RGBQUAD));
}

void readRow16(const BYTE* line, RGBQUAD* dst, size_t width, const RGBQUAD* table) {
    for (size_t x = 0; x < width; ++x) {
        WORD w;
        std::memcpy(&w, line + 2 * x, 2);
        dst[x] = table[w];
    }
}

/// The query's quad, 0 where it delivers nothing.
RGBQUAD queried(FIBITMAP* dib, unsigned x, unsigned line) {
    RGBQUAD q{0, 0, 0, 0};
    if (!FreeImage_GetPixelColor(dib, x, line, &q)) q = RGBQUAD{0, 0, 0, 0};
    return q;
}

/// The query's quad for every 16-bit word under the masks of dib; empty when no bitmap for
/// asking could be made.
std::vector<RGBQUAD> wordTable(FIBITMAP* dib) {
    std::vector<RGBQUAD> table;
    FIBITMAP* words = FreeImage_AllocateT(FIT_BITMAP, 256, 256, 16, FreeImage_GetRedMask(dib),
                                          FreeImage_GetGreenMask(dib), FreeImage_GetBlueMask(dib));
    if (!words) return table;
    AfxGuardAllocation([&] { table.resize(65536); });
    for (unsigned line = 0; line < 256; ++line) {
        WORD* row = reinterpret_cast<WORD*>(FreeImage_GetScanLine(words, static_cast<int>(line)));
        for (unsigned x = 0; x < 256; ++x)
            row[x] = static_cast<WORD>(line * 256 + x);
        for (unsigned x = 0; x < 256; ++x)
            table[line * 256 + x] = queried(words, x, line);
    }
    FreeImage_Unload(words);
    return table;
}

/// A new object for the caller; OpenCV reports a failed allocation as its own exception.
template <class T, class... Args> T* newOwned(Args&&... args) {
    return AfxGuardAllocation([&]() -> T* {
        try {
            return new T(std::forward<Args>(args)...);
        } catch (const cv::Exception&) {
            throw std::bad_alloc();
        }
    });
}

} // namespace

RasterImageRGB::RasterImageRGB() : pixels(nullptr) {}

RasterImageRGB::RasterImageRGB(int w, int h)
    : RasterImage(std::max(w, 0), std::max(h, 0), 24), pixels(nullptr) {
    pixels = static_cast<RGBQUAD*>(allocateBlock(pixelCount(), sizeof(RGBQUAD), true));
}

RasterImageRGB::RasterImageRGB(DalvoImage* image) : RasterImage(image), pixels(nullptr) {
    const size_t count = pixelCount();
    pixels = static_cast<RGBQUAD*>(allocateBlock(count, sizeof(RGBQUAD)));
    FIBITMAP* dib = image ? static_cast<FIBITMAP*>(*image) : nullptr;
    if (!dib || count == 0) return;
    const size_t w = static_cast<size_t>(width);

    RowReader read = nullptr;
    std::vector<RGBQUAD> table;
    if (FreeImage_GetImageType(dib) == FIT_BITMAP) {
        if (bpp == 24) read = reader24();
        if (bpp == 32) read = readRow32;
        // The table costs 65536 queries: worth it from that many pixels on.
        if (bpp == 16 && count >= 65536) {
            table = wordTable(dib);
            if (!table.empty()) read = readRow16;
        }
    }
    for (int y = 0; y < height; ++y) {
        const unsigned line = static_cast<unsigned>(height - 1 - y);
        RGBQUAD* dst = pixels + w * y;
        if (read) {
            read(FreeImage_GetScanLine(dib, static_cast<int>(line)), dst, w, table.data());
        } else {
            for (size_t x = 0; x < w; ++x)
                dst[x] = queried(dib, static_cast<unsigned>(x), line);
        }
    }
}

RasterImageRGB::RasterImageRGB(const RasterImageRGB& other) : RasterImage(other), pixels(nullptr) {
    copy(other);
}

RasterImageRGB& RasterImageRGB::operator=(const RasterImageRGB& other) {
    if (this != &other) {
        RasterImage::operator=(other);
        copy(other);
    }
    return *this;
}

RasterImageRGB::~RasterImageRGB() {
    freeBlock(pixels);
}

void RasterImageRGB::Serialize(CArchive&) {}

RGBQUAD* RasterImageRGB::getPolarPixel(CPoint centre, float radius, float angle) {
    int x = 0, y = 0;
    return polarPoint(centre, radius, angle, x, y) ? getPixel(x, y) : nullptr;
}

DalvoImage* RasterImageRGB::convert2DalvoImage() const {
    DalvoImage* image = newOwned<DalvoImage>(FIT_BITMAP, static_cast<unsigned>(std::max(width, 0)),
                                             static_cast<unsigned>(std::max(height, 0)),
                                             static_cast<unsigned>(std::max(bpp, 0)));
    if (!image->isValid()) return image; // no pixels, or FreeImage could not allocate them
    const size_t w = static_cast<size_t>(width);
    for (int y = 0; y < height; ++y) {
        const unsigned line = static_cast<unsigned>(height - 1 - y);
        for (size_t x = 0; x < w; ++x) {
            RGBQUAD q = pixels[w * y + x];
            image->setPixelColor(static_cast<unsigned>(x), line, &q);
        }
    }
    return image;
}

cv::Mat_<cv::Vec<unsigned char, 3>>* RasterImageRGB::getRGBCVMatrix() const {
    auto* matrix = newOwned<cv::Mat_<cv::Vec<unsigned char, 3>>>(std::max(height, 0), std::max(width, 0));
    const size_t w = static_cast<size_t>(std::max(width, 0));
    for (int y = 0; y < height; ++y) {
        cv::Vec<unsigned char, 3>* dst = (*matrix)[y];
        const RGBQUAD* src = pixels + w * y;
        for (size_t x = 0; x < w; ++x)
            dst[x] = cv::Vec<unsigned char, 3>(src[x].rgbBlue, src[x].rgbGreen, src[x].rgbRed);
    }
    return matrix;
}

cv::Mat* RasterImageRGB::getRedChannelCVMatrix() const {
    return channelMatrix(offsetof(RGBQUAD, rgbRed));
}
cv::Mat* RasterImageRGB::getGreenChannelCVMatrix() const {
    return channelMatrix(offsetof(RGBQUAD, rgbGreen));
}
cv::Mat* RasterImageRGB::getBlueChannelCVMatrix() const {
    return channelMatrix(offsetof(RGBQUAD, rgbBlue));
}

cv::Mat* RasterImageRGB::channelMatrix(int channel) const {
    cv::Mat* matrix = newOwned<cv::Mat>(std::max(height, 0), std::max(width, 0), CV_8UC1);
    const size_t w = static_cast<size_t>(std::max(width, 0));
    for (int y = 0; y < height; ++y) {
        unsigned char* dst = matrix->ptr<unsigned char>(y);
        const unsigned char* src = reinterpret_cast<const unsigned char*>(pixels + w * y) + channel;
        for (size_t x = 0; x < w; ++x)
            dst[x] = src[x * sizeof(RGBQUAD)];
    }
    return matrix;
}

void RasterImageRGB::copy(const RasterImageRGB& source) {
    if (&source == this) return;
    auto* fresh = static_cast<RGBQUAD*>(allocateBlock(pixelCount(), sizeof(RGBQUAD)));
    copyOverlap(fresh, source.pixels, source.width, source.height, sizeof(RGBQUAD));
    freeBlock(pixels);
    pixels = fresh;
}
