// The common base of the rasters.
#include "raster/RasterImage.h"

#include "image/DalvoImage.h"
#include "raster/detail/Parallel.h"

#include <opencv2/core/mat.hpp>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <cstdlib>
#include <limits>

#include <sys/mman.h>

IMPLEMENT_SERIAL(RasterImage, CObject, VERSIONABLE_SCHEMA | 0)

RasterImage::RasterImage() : width(0), height(0), maxPixelValue(0), bpp(0) {}

RasterImage::RasterImage(DalvoImage* image) : RasterImage() {
    FIBITMAP* dib = image ? static_cast<FIBITMAP*>(*image) : nullptr;
    if (!dib) return;
    width = static_cast<int>(FreeImage_GetWidth(dib));
    height = static_cast<int>(FreeImage_GetHeight(dib));
    bpp = static_cast<int>(FreeImage_GetBPP(dib));
    maxPixelValue = maxPixelValueForDepth(bpp);
}

RasterImage::RasterImage(int w, int h, int depth)
    : width(w), height(h), maxPixelValue(maxPixelValueForDepth(depth)), bpp(depth) {}

RasterImage::RasterImage(const RasterImage& other) = default;

RasterImage::RasterImage(RasterImage* other) : RasterImage() {
    if (other) RasterImage::operator=(*other);
}

RasterImage::RasterImage(cv::Mat* matrix) : RasterImage() {
    // A matrix of more than two dimensions reports -1 rows and columns: that is no raster.
    if (!matrix || matrix->dims > 2) return;
    width = matrix->cols;
    height = matrix->rows;
}

RasterImage& RasterImage::operator=(const RasterImage& other) = default;

RasterImage::~RasterImage() = default;

int RasterImage::maxPixelValueForDepth(int depth) {
    // 2^31 and above do not fit an int; converting them would be undefined.
    if (depth >= 31) return std::numeric_limits<int>::max();
    return static_cast<int>(std::pow(2.0, depth)) - 1;
}

bool RasterImage::polarPoint(CPoint centre, float radius, float angle, int& x, int& y) const {
    const float a = static_cast<float>(angle * 3.14159265 / 180);
    const float fx = std::floor(static_cast<float>(std::cos(static_cast<double>(a)) * radius) + 0.5f);
    const float fy = std::floor(static_cast<float>(std::sin(static_cast<double>(a)) * radius) + 0.5f);
    // An offset beyond the int range (or NaN) cannot land inside the raster.
    const float limit = 2147483520.0f; // largest float below 2^31
    if (!(std::fabs(fx) <= limit) || !(std::fabs(fy) <= limit)) return false;
    const long long px = static_cast<long long>(centre.x) + static_cast<int>(fx);
    const long long py = static_cast<long long>(centre.y) + static_cast<int>(fy);
    if (px < 0 || py < 0 || px > width - 1LL || py > height - 1LL) return false;
    x = static_cast<int>(px);
    y = static_cast<int>(py);
    return true;
}

size_t RasterImage::pixelCount() const {
    return width > 0 && height > 0 ? static_cast<size_t>(width) * static_cast<size_t>(height) : 0;
}

void* RasterImage::allocateBlock(size_t count, size_t elementSize, bool zeroed) {
    if (count == 0) return nullptr;
    if (count > std::numeric_limits<size_t>::max() / elementSize) AfxThrowMemoryException();
    const size_t bytes = count * elementSize;
    constexpr size_t kHugePage = size_t(2) << 20;
    const size_t alignment = bytes >= kHugePage ? kHugePage : 64;
    void* block = nullptr;
    if (posix_memalign(&block, alignment, bytes) != 0) AfxThrowMemoryException();
#if defined(MADV_HUGEPAGE)
    // Only whole huge pages are advised; the tail stays in ordinary pages.
    if (alignment == kHugePage) madvise(block, bytes & ~(kHugePage - 1), MADV_HUGEPAGE);
#endif
    // Zeroed in bands on the library's threads, so that the first touch of a large block, which
    // faults its pages in, is shared out too.
    if (zeroed) {
        constexpr size_t kPage = 4096;
        kestro::detail::parallelRows(
            static_cast<long>((bytes + kPage - 1) / kPage), kPage / sizeof(int), [&](long first, long last) {
                const size_t begin = static_cast<size_t>(first) * kPage;
                const size_t end = std::min(bytes, static_cast<size_t>(last) * kPage);
                std::memset(static_cast<char*>(block) + begin, 0, end - begin);
            });
    }
    return block;
}

void RasterImage::freeBlock(void* block) {
    std::free(block);
}

void RasterImage::copyOverlap(void* dst, const void* src, int srcWidth, int srcHeight,
                              size_t elementSize) const {
    if (!dst || width <= 0 || height <= 0) return;
    const size_t w = static_cast<size_t>(width);
    const size_t sw = static_cast<size_t>(std::max(srcWidth, 0));
    const size_t cols = src ? std::min(w, sw) : 0;
    const int rows = src ? std::min(height, srcHeight) : 0;
    for (int y = 0; y < height; ++y) {
        char* row = static_cast<char*>(dst) + w * elementSize * y;
        const size_t copied = (y < rows ? cols : 0) * elementSize;
        if (copied) std::memcpy(row, static_cast<const char*>(src) + sw * elementSize * y, copied);
        std::memset(row + copied, 0, w * elementSize - copied);
    }
}
