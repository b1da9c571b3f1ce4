// The grayscale raster.
#include "raster/RasterImageGS16.h"

#include "image/DalvoImage.h"
#include "raster/detail/Kernels.h"
#include "raster/detail/Parallel.h"

#include <opencv2/core/mat.hpp>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>

IMPLEMENT_SERIAL(RasterImageGS16, RasterImage, VERSIONABLE_SCHEMA | 0)

namespace {

using kestro::detail::PixelStats;

/// dst[i] = max(0, dst[i]), for pixels the other raster of a subtraction does not reach.
void clampRow(int* dst, size_t n, PixelStats& stats) {
    for (size_t i = 0; i < n; ++i)
        dst[i] = dst[i] > 0 ? dst[i] : 0;
    kestro::detail::gatherStats(dst, n, stats);
}

/// The mean as the serial double sum would give it. Every partial sum lies within
/// count * max(|min|, |max|); while that bound is at most 2^53 each partial sum is an exact
/// double, so the integer sum gives the identical quotient. Beyond it, the double sum is redone.
double meanOf(const PixelStats& stats, const int* pixels, size_t count) {
    if (count == 0) return std::numeric_limits<double>::quiet_NaN(); // 0 / 0
    const std::uint64_t largest = std::max(std::abs(static_cast<std::int64_t>(stats.min)),
                                           std::abs(static_cast<std::int64_t>(stats.max)));
    const std::uint64_t exactLimit = std::uint64_t(1) << 53;
    if (count <= (std::uint64_t(1) << 32) && count * largest <= exactLimit)
        return static_cast<double>(stats.sum) / static_cast<double>(count);
    double sum = 0;
    for (size_t i = 0; i < count; ++i)
        sum += pixels[i];
    return sum / static_cast<double>(count);
}

/// The figures of rows [0, height) of `width` pixels, each row done by work(y, stats) on the
/// band of threads it falls in; the bands' figures are merged afterwards (min, max and an
/// integer sum, so the order of merging does not matter).
template <class RowWork> PixelStats statsOverRows(int height, size_t width, const RowWork& work) {
    const int bands = kestro::detail::bandCount(height, width);
    std::vector<PixelStats> parts(static_cast<size_t>(bands));
    kestro::detail::runBands(bands, [&](int band) {
        PixelStats stats;
        const long end = kestro::detail::bandBegin(height, bands, band + 1);
        for (long y = kestro::detail::bandBegin(height, bands, band); y < end; ++y)
            work(static_cast<int>(y), stats);
        parts[static_cast<size_t>(band)] = stats;
    });
    PixelStats total;
    for (const PixelStats& part : parts)
        total.merge(part.min, part.max, part.sum);
    return total;
}

/// Grows the array by n elements and returns the first new one (null when n is 0).
int* appendSlots(CIntDataArray* values, size_t n) {
    if (n == 0) return nullptr;
    const INT_PTR old = values->GetSize();
    values->SetSize(old + static_cast<INT_PTR>(n));
    return values->GetData() + old;
}

/// Length of the run of a readout from a towards b: rising a..b-1, falling a down to b+2.
size_t runLength(int a, int b) {
    const long long span = static_cast<long long>(b) - a;
    if (span > 0) return static_cast<size_t>(span);
    if (span < -1) return static_cast<size_t>(-span - 1);
    return 0;
}

// Histogram counting goes in groups of four pixels whose range is checked with one comparison
// of their largest value (negative values turn into large unsigned ones, so that also catches
// them). Each stops before the first group holding a value outside 0..maxValue and returns
// where it stopped; the caller counts the rest one by one.

/// Split false: one table; measured on 16-bit gels slightly faster than the plain one-by-one
/// loop. Split true: four tables of `stride` bins, pixel i into table i % 4, so that where
/// neighbours repeat (8-bit scans, flat backgrounds) the increments of one bin no longer wait for
/// each other: about twice as fast for 256 bins, but for 65536 bins the tables fall out of cache.
template <bool Split>
size_t countGroups(const int* __restrict p, size_t n, unsigned maxValue, int* __restrict bins,
                   size_t stride) {
    const size_t table = Split ? stride : 0;
    size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        const unsigned a = static_cast<unsigned>(p[i]), b = static_cast<unsigned>(p[i + 1]);
        const unsigned c = static_cast<unsigned>(p[i + 2]), d = static_cast<unsigned>(p[i + 3]);
        if (std::max(std::max(a, b), std::max(c, d)) > maxValue) break;
        ++bins[a];
        ++bins[table + b];
        ++bins[2 * table + c];
        ++bins[3 * table + d];
    }
    return i;
}

DalvoImage* newImage(FREE_IMAGE_TYPE type, int width, int height, int bpp) {
    return AfxGuardAllocation([&] {
        return new DalvoImage(type, static_cast<unsigned>(width), static_cast<unsigned>(height),
                              static_cast<unsigned>(bpp));
    });
}

} // namespace

RasterImageGS16::RasterImageGS16()
    : mean(0), extraStatistic(0), minValue(INT_MIN), maxValue(INT_MAX), pixels(nullptr) {}

RasterImageGS16::RasterImageGS16(int w, int h) : RasterImageGS16() {
    width = std::max(w, 0);
    height = std::max(h, 0);
    bpp = 16;
    maxPixelValue = 65535;
    allocatePixels(pixelCount(), true);
}

RasterImageGS16::RasterImageGS16(DalvoImage* image) : RasterImageGS16() {
    RasterImage::operator=(RasterImage(image));
    const size_t count = pixelCount();
    allocatePixels(count, false);
    FIBITMAP* dib = image ? static_cast<FIBITMAP*>(*image) : nullptr;
    const FREE_IMAGE_TYPE type = dib ? FreeImage_GetImageType(dib) : FIT_UNKNOWN;
    PixelStats stats;
    const size_t w = static_cast<size_t>(width);
    if (type == FIT_UINT16) {
        stats = statsOverRows(height, w, [&](int y, PixelStats& band) {
            const WORD* line = reinterpret_cast<const WORD*>(FreeImage_GetScanLine(dib, height - 1 - y));
            kestro::detail::widenRow(line, pixels + w * y, w, band);
        });
    } else if (type == FIT_BITMAP && bpp == 8) {
        stats = statsOverRows(height, w, [&](int y, PixelStats& band) {
            kestro::detail::widenRow(FreeImage_GetScanLine(dib, height - 1 - y), pixels + w * y, w, band);
        });
    } else if (count > 0) {
        std::memset(pixels, 0, count * sizeof(int));
        stats.merge(0, 0, 0);
    }
    minValue = stats.min;
    maxValue = stats.max;
    mean = meanOf(stats, pixels, count);
    extraStatistic = 0;
}

RasterImageGS16::RasterImageGS16(RasterImageGS16* other) : RasterImageGS16() {
    if (!other) return;
    RasterImage::operator=(*other);
    copy(*other);
    calculateStatistics();
}

RasterImageGS16::RasterImageGS16(const RasterImageGS16& other) : RasterImageGS16() {
    RasterImage::operator=(other);
    copy(other);
}

RasterImageGS16::RasterImageGS16(cv::Mat* matrix) : RasterImageGS16() {
    RasterImage::operator=(RasterImage(matrix));
    const int depth = matrix ? matrix->type() : -1;
    bpp = depth == CV_8UC1 ? 8 : depth == CV_16UC1 ? 16 : 1;
    maxPixelValue = maxPixelValueForDepth(bpp);
    allocatePixels(pixelCount(), bpp == 1);
    const size_t w = static_cast<size_t>(width);
    for (int y = 0; y < height && bpp != 1; ++y) {
        int* dst = pixels + w * y;
        if (bpp == 8) {
            const unsigned char* src = matrix->ptr<unsigned char>(y);
            for (size_t x = 0; x < w; ++x)
                dst[x] = src[x];
        } else {
            const unsigned short* src = matrix->ptr<unsigned short>(y);
            for (size_t x = 0; x < w; ++x)
                dst[x] = src[x];
        }
    }
}

RasterImageGS16& RasterImageGS16::operator=(const RasterImageGS16& other) {
    if (this != &other) {
        RasterImage::operator=(other);
        copy(other);
    }
    return *this;
}

RasterImageGS16::~RasterImageGS16() {
    freePixels();
}

void RasterImageGS16::Serialize(CArchive&) {}

void RasterImageGS16::copy(const RasterImageGS16& source) {
    if (&source != this) {
        int* fresh = static_cast<int*>(allocateBlock(pixelCount(), sizeof(int)));
        copyOverlap(fresh, source.pixels, source.width, source.height, sizeof(int));
        freePixels();
        pixels = fresh;
    }
    minValue = source.minValue;
    maxValue = source.maxValue;
    mean = source.mean;
    extraStatistic = source.extraStatistic;
}

int RasterImageGS16::getPolarPixel(CPoint centre, float radius, float angle) const {
    int x = 0, y = 0;
    return polarPoint(centre, radius, angle, x, y) ? getPixel(x, y) : 0;
}

void RasterImageGS16::copyTo(CIntDataArray* values) const {
    if (!values) return;
    values->SetSize(0); // keeps a reused array's storage (see getHistogram)
    if (int* dst = appendSlots(values, pixelCount())) std::memcpy(dst, pixels, pixelCount() * sizeof(int));
}

void RasterImageGS16::getPixelsFor(CPointArray* points, CIntDataArray* values) const {
    if (!values) return;
    values->RemoveAll();
    if (!points) return;
    const INT_PTR n = points->GetSize();
    int* dst = appendSlots(values, static_cast<size_t>(n));
    for (INT_PTR i = 0; i < n; ++i)
        dst[i] = getPixel(points->GetAt(i));
}

void RasterImageGS16::getPixelsFor(CRect rect, CIntDataArray* values) const {
    if (!values) return;
    values->RemoveAll();
    const long long cols = static_cast<long long>(rect.right) - rect.left;
    const long long rows = static_cast<long long>(rect.bottom) - rect.top;
    if (cols <= 0 || rows <= 0) return;
    int* dst = appendSlots(values, static_cast<size_t>(cols * rows));
    for (int x = rect.left; x < rect.right; ++x)
        for (int y = rect.top; y < rect.bottom; ++y)
            *dst++ = getPixel(x, y);
}

void RasterImageGS16::getHorizontalPixels(CIntDataArray* values, int x1, int x2, int y) const {
    if (!values) return;
    const size_t n = runLength(x1, x2);
    int* dst = appendSlots(values, n);
    const int* row = pixels + static_cast<size_t>(width) * y;
    const int step = x2 > x1 ? 1 : -1;
    for (size_t i = 0; i < n; ++i)
        dst[i] = row[x1 + step * static_cast<long long>(i)];
}

void RasterImageGS16::getVerticalPixels(CIntDataArray* values, int y1, int y2, int x) const {
    if (!values) return;
    const size_t n = runLength(y1, y2);
    int* dst = appendSlots(values, n);
    const int step = y2 > y1 ? 1 : -1;
    for (size_t i = 0; i < n; ++i)
        dst[i] = getPixel(x, static_cast<int>(y1 + step * static_cast<long long>(i)));
}

void RasterImageGS16::getxAveregedVertricalBeamProfile(CIntDataArray* values, int x1, int x2) const {
    if (!values) return;
    const int first = std::max(x1, 0);
    const int end = std::min(x2, width);
    if (end <= first) {
        values->Add(0);
        return;
    }
    double sum = 0;
    for (int y = 0; y < height; ++y)
        for (int x = first; x < end; ++x)
            sum += getPixel(x, y);
    const double rounded = std::floor(sum / (static_cast<double>(end) - first + 1) + 0.5);
    values->Add(static_cast<int>(std::clamp(rounded, double(INT_MIN), double(INT_MAX))));
}

void RasterImageGS16::getHistogram(CIntDataArray* histogram) const {
    if (!histogram) return;
    // SetSize(0) rather than RemoveAll: a reused array keeps its storage, whose pages are
    // already touched, and the content is the same.
    histogram->SetSize(0);
    const long long bins = std::max(static_cast<long long>(maxPixelValue) + 1, 0LL);
    const size_t count = pixelCount();
    size_t done = 0;
    const unsigned top = static_cast<unsigned>(maxPixelValue);
    if (bins > 0 && bins <= 4096) {
        // The extra tables live in the array behind the bins until they are folded in.
        const size_t stride = static_cast<size_t>(bins);
        int* counts = appendSlots(histogram, 4 * stride);
        done = countGroups<true>(pixels, count, top, counts, stride);
        for (size_t i = 0; i < stride; ++i)
            counts[i] += counts[stride + i] + counts[2 * stride + i] + counts[3 * stride + i];
        histogram->SetSize(static_cast<INT_PTR>(bins));
    } else {
        int* counts = appendSlots(histogram, static_cast<size_t>(bins));
        if (counts) done = countGroups<false>(pixels, count, top, counts, 0);
    }
    // The rest one by one, checked as the loop is written: the exception leaves exactly the
    // counts of the pixels before the bad one.
    int* counts = histogram->GetData();
    for (size_t i = done; i < count; ++i) {
        if (pixels[i] < 0 || pixels[i] > maxPixelValue) AfxThrowInvalidArgException();
        ++counts[pixels[i]];
    }
}

void RasterImageGS16::subtractImage(RasterImageGS16* other) {
    const size_t w = static_cast<size_t>(width);
    const bool hasOther = other && other->pixels;
    const size_t ow = hasOther ? static_cast<size_t>(std::max(other->width, 0)) : 0;
    const size_t cols = std::min(w, ow);
    const int rows = hasOther ? std::min(height, other->height) : 0;
    // Rows of the other raster are only read, so its being this very raster changes nothing.
    const PixelStats stats = statsOverRows(height, w, [&](int y, PixelStats& band) {
        int* row = pixels + w * y;
        const size_t covered = y < rows ? cols : 0;
        if (covered) kestro::detail::subtractRow(row, other->pixels + ow * y, covered, band);
        // Where the other raster does not reach, it counts as 0.
        if (covered < w) clampRow(row + covered, w - covered, band);
    });
    minValue = stats.min;
    maxValue = stats.max;
    mean = meanOf(stats, pixels, pixelCount());
    extraStatistic = 0;
}

void RasterImageGS16::calculateStatistics() {
    const size_t count = pixelCount();
    const size_t w = static_cast<size_t>(std::max(width, 0));
    const PixelStats stats = statsOverRows(count ? height : 0, w, [&](int y, PixelStats& band) {
        kestro::detail::gatherStats(pixels + w * y, w, band);
    });
    minValue = stats.min;
    maxValue = stats.max;
    mean = meanOf(stats, pixels, count);
    extraStatistic = 0;
}

DalvoImage* RasterImageGS16::convert2DalvoImage() const {
    const bool eightBit = bpp == 8;
    DalvoImage* image = newImage(eightBit ? FIT_BITMAP : FIT_UINT16, width, height, eightBit ? 8 : 16);
    FIBITMAP* dib = static_cast<FIBITMAP*>(*image);
    if (!dib) return image; // no pixels, or FreeImage could not allocate them
    const size_t w = static_cast<size_t>(width);
    // Each band writes its own scan lines.
    kestro::detail::parallelRows(height, w, [&](long first, long end) {
        for (long y = first; y < end; ++y) {
            const int* src = pixels + w * y;
            BYTE* line = FreeImage_GetScanLine(dib, static_cast<int>(height - 1 - y));
            // Only the low bits are kept: unsigned conversion is modular.
            if (eightBit) {
                for (size_t x = 0; x < w; ++x)
                    line[x] = static_cast<BYTE>(src[x]);
            } else {
                WORD* words = reinterpret_cast<WORD*>(line);
                for (size_t x = 0; x < w; ++x)
                    words[x] = static_cast<WORD>(src[x]);
            }
        }
    });
    return image;
}

void RasterImageGS16::allocatePixels(size_t count, bool zeroed) {
    int* fresh = static_cast<int*>(allocateBlock(count, sizeof(int), zeroed));
    freePixels();
    pixels = fresh;
}

void RasterImageGS16::freePixels() {
    freeBlock(pixels);
    pixels = nullptr;
}
