// Analysis algorithms on grayscale rasters.
#include "analysis/ImageProcessing.h"

#include "analysis/detail/MovingFilters.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

namespace {

int saturateToInt(double value) {
    if (std::isnan(value)) return 0;
    if (value <= static_cast<double>(INT_MIN)) return INT_MIN;
    if (value >= static_cast<double>(INT_MAX)) return INT_MAX;
    return static_cast<int>(value);
}

int saturateToInt(std::int64_t value) {
    return static_cast<int>(std::min<std::int64_t>(INT_MAX, std::max<std::int64_t>(INT_MIN, value)));
}

/// Rounding rule R: the value as a float, plus 0.5 in float, floored in double.
int roundR(float value) {
    return saturateToInt(std::floor(static_cast<double>(value + 0.5f)));
}

/// R((high - low) * fraction) + low: a level the given fraction of the way from low to high,
/// the difference taken as an int (wrapping as the machine does) and scaled in float.
int levelBetween(int low, int high, float fraction) {
    const int difference =
        static_cast<int>(static_cast<std::uint32_t>(high) - static_cast<std::uint32_t>(low));
    return saturateToInt(static_cast<std::int64_t>(roundR(static_cast<float>(difference) * fraction)) + low);
}

bool hasPixels(const RasterImageGS16* raster) {
    return raster && raster->pixels && raster->width > 0 && raster->height > 0;
}

/// The rectangle clamping shared by the spot searches: left and top raised to 0, right and
/// bottom lowered to the last column and row (which still count as outside where walked).
CRect clampToRaster(const RasterImageGS16* raster, CRect rect) {
    rect.left = std::max<LONG>(rect.left, 0);
    rect.top = std::max<LONG>(rect.top, 0);
    rect.right = std::min<LONG>(rect.right, raster->width - 1);
    rect.bottom = std::min<LONG>(rect.bottom, raster->height - 1);
    return rect;
}

/// Index of the first value below the level, or the count when there is none.
int firstBelow(const CIntDataArray& run, int level) {
    const int count = static_cast<int>(run.GetSize());
    const int* values = run.GetData();
    for (int i = 0; i < count; ++i)
        if (values[i] < level) return i;
    return count;
}

void appendPoint(CPointArray* points, int x, int y) {
    CPoint p(x, y);
    points->Add(p);
}

} // namespace

ImageProcessing::ImageProcessing() {}

ImageProcessing::~ImageProcessing() {}

void ImageProcessing::getMinValue(RasterImageGS16* raster, int x1, int y1, int x2, int y2, int& minimum) {
    if (!hasPixels(raster)) return;
    const int left = std::max(x1, 0), right = std::min(x2, raster->width);
    const int top = std::max(y1, 0), bottom = std::min(y2, raster->height);
    int m = minimum;
    for (int y = top; y < bottom; ++y) {
        const int* row = raster->pixels + static_cast<size_t>(raster->width) * y;
        for (int x = left; x < right; ++x)
            m = row[x] < m ? row[x] : m;
    }
    minimum = m;
}

void ImageProcessing::generateBGViaMinFilter(RasterImageGS16* source, RasterImageGS16* background,
                                             int halfWidth, int halfHeight) {
    if (!hasPixels(source) || !hasPixels(background)) return;
    const int w = source->width, h = source->height;
    if (background->width < w || background->height < h) return;
    const int* src = source->pixels;
    std::vector<int> original;
    if (background->pixels == source->pixels) {
        // The estimate is made from the source as it was, not from pixels already replaced.
        AfxGuardAllocation(
            [&] { original.assign(src, src + static_cast<size_t>(w) * static_cast<size_t>(h)); });
        src = original.data();
    }
    kestro::detail::movingMinimum(src, w, h, background->pixels, static_cast<size_t>(background->width),
                                  halfWidth, halfHeight, background->maxPixelValue);
}

void ImageProcessing::smoothenViaAverageFilter(RasterImageGS16* raster, int radius) {
    if (!hasPixels(raster)) return;
    kestro::detail::movingAverage(raster->pixels, raster->width, raster->height, radius);
}

CPoint ImageProcessing::findCenterOfMass3D(RasterImageGS16* raster, CRect rect) {
    if (!hasPixels(raster)) return CPoint(0, 0);
    rect = clampToRaster(raster, rect);
    if (rect.right < rect.left) std::swap(rect.left, rect.right);
    if (rect.bottom < rect.top) std::swap(rect.top, rect.bottom);
    const int left = std::max<int>(rect.left, 0), right = std::min<int>(rect.right, raster->width);
    const int top = std::max<int>(rect.top, 0), bottom = std::min<int>(rect.bottom, raster->height);
    double sx = 0, sy = 0, s = 0;
    for (int y = top; y < bottom; ++y) {
        const int* row = raster->pixels + static_cast<size_t>(raster->width) * y;
        for (int x = left; x < right; ++x) {
            const double v = row[x];
            sx += v * x;
            sy += v * y;
            s += v;
        }
    }
    const double cx = std::floor(sx / s + 0.5), cy = std::floor(sy / s + 0.5);
    if (s == 0 || !std::isfinite(cx) || !std::isfinite(cy))
        return CPoint(static_cast<int>((static_cast<std::int64_t>(rect.left) + rect.right) / 2),
                      static_cast<int>((static_cast<std::int64_t>(rect.top) + rect.bottom) / 2));
    return CPoint(saturateToInt(cx), saturateToInt(cy));
}

void ImageProcessing::findBroundryPoints(RasterImageGS16* raster, CRect rect, CPoint centre, float fraction,
                                         CPointArray* points) {
    if (!hasPixels(raster) || !points) return;
    rect = clampToRaster(raster, rect);
    const int steps = saturateToInt(std::floor((static_cast<double>(rect.right) - rect.left) * 0.75 + 0.5));
    if (steps <= 0) {
        for (int a = 0; a < 360; ++a)
            appendPoint(points, 0, 0);
        return;
    }
    // Step 0 of every ray is the centre itself, so a centre outside the rectangle ends every
    // ray there; its pixel and the corners (which may lie outside the raster then) are not read.
    if (!rect.PtInRect(centre)) {
        for (int a = 0; a < 360; ++a)
            appendPoint(points, centre.x, centre.y);
        return;
    }
    const int base = std::min(
        std::min(raster->getPixel(rect.left, rect.top), raster->getPixel(rect.right, rect.top)),
        std::min(raster->getPixel(rect.left, rect.bottom), raster->getPixel(rect.right, rect.bottom)));
    const int threshold = std::max(0, levelBetween(base, raster->getPixel(centre), fraction));
    const int lastX = raster->width - 1, lastY = raster->height - 1;

    for (float angle = 0.0f; angle < 360.0f; angle += 1.0f) {
        const float radians = static_cast<float>(angle * 3.14159265 / 180);
        const double c = std::cos(static_cast<double>(radians)), s = std::sin(static_cast<double>(radians));
        CPoint p;
        for (int i = 0; i < steps; ++i) {
            p.x = centre.x + roundR(static_cast<float>(c * i));
            p.y = centre.y + roundR(static_cast<float>(s * i));
            if (!::PtInRect(&rect, p) || p.x < 0 || p.y < 0 || p.x > lastX || p.y > lastY) break;
            if (raster->getPixel(p) < threshold) break;
        }
        points->Add(p);
    }
}

void ImageProcessing::findBroundryPointsUpDown(RasterImageGS16* raster, CRect rect, CPoint centre,
                                               float fraction, CPointArray* points) {
    if (!hasPixels(raster) || !points) return;
    rect = clampToRaster(raster, rect);
    const int cx = centre.x, cy = centre.y;
    if (cx < rect.left || cx > rect.right || cy < rect.top || cy > rect.bottom) {
        appendPoint(points, cx, cy);
        appendPoint(points, cx, cy);
        return;
    }

    CIntDataArray row, leftRun, rightRun;
    raster->getHorizontalPixels(&row, rect.left, rect.right, cy);
    raster->getHorizontalPixels(&leftRun, cx, rect.left, cy);
    raster->getHorizontalPixels(&rightRun, cx, rect.right, cy);
    const int rowLevel = levelBetween(row.GetMin(), row.GetMax(), fraction);
    const int leftX = cx - firstBelow(leftRun, rowLevel);
    const int rightX = cx + firstBelow(rightRun, rowLevel);

    CPointArray upper, lower;
    CIntDataArray up, down;
    for (int x = leftX; x < rightX; ++x) {
        const int v = raster->getPixel(x, cy);
        up.RemoveAll();
        down.RemoveAll();
        raster->getVerticalPixels(&up, cy, rect.top, x);
        raster->getVerticalPixels(&down, cy, rect.bottom, x);
        const int base = up.GetSize() > 0 ? up.GetMin() : down.GetMin();
        const int level = levelBetween(base, v, fraction);
        appendPoint(&upper, x, cy - firstBelow(up, level));
        appendPoint(&lower, x, cy + firstBelow(down, level));
    }

    appendPoint(points, leftX, cy);
    points->Append(upper);
    appendPoint(points, rightX, cy);
    for (INT_PTR i = lower.GetSize() - 1; i >= 0; --i)
        points->Add(lower[i]);
}
