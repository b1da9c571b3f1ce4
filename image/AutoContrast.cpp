// Auto contrast: display limits of a grayscale image from its histogram or its full range.
#include "image/DalvoImage.h"
#include "raster/RasterImageGS16.h"
#include "platform/winsys/WinGdi.h"

#include <cmath>

namespace {

// The image's grayscale raster, or null for colour images and images without one.
RasterImageGS16* grayscaleRaster(DalvoImage& image) {
    RasterImage* raster = image.getRasterImage();
    return raster && raster->IsKindOf(RUNTIME_CLASS(RasterImageGS16)) ? static_cast<RasterImageGS16*>(raster)
                                                                      : nullptr;
}

// Pixels to count up to the given fraction of total, in single precision as the limits have
// always been computed (the float product decides the last pixel of large images).
int percentileTarget(int total, float fraction) {
    const float target = static_cast<float>(total) * fraction + 0.5f;
    return static_cast<int>(std::floor(static_cast<double>(target)));
}

// The index one past the bin at which the running count first reaches target (0 for target <= 0).
int percentileIndex(const CIntDataArray& histogram, int target) {
    long long count = 0;
    int index = 0;
    while (target > count)
        count += histogram.GetAt(index++);
    return index;
}

} // namespace

void DalvoImage::calcuateAutoContrastLimitsUsingHistogram() {
    RasterImageGS16* raster = grayscaleRaster(*this);
    if (!raster) return;
    const int bins = raster->getMaxPixelValue() + 1;
    CIntDataArray histogram;
    try {
        raster->getHistogram(&histogram);
    } catch (const CInvalidArgException&) {
        // Analysis code wrote values beyond the depth into the raster: no histogram, no limits.
        return;
    }
    const int total = histogram.GetSum();
    autoContrastLow = MulDiv(percentileIndex(histogram, percentileTarget(total, 0.001f)), 256, bins);
    autoContrastHigh = MulDiv(percentileIndex(histogram, percentileTarget(total, 0.999f)), 256, bins);
}

void DalvoImage::autoContrastMaxRange(int enable) {
    const CString entry(L"autoContrastMaxRange");
    if (enable) {
        if (RasterImageGS16* raster = grayscaleRaster(*this)) {
            const int maximum = raster->getMaxPixelValue();
            // Signed 32-bit products (wrapping as they always did), quotients truncated.
            const auto scaled = [maximum](int value) {
                return static_cast<int>(static_cast<unsigned>(value) * 255u) / maximum;
            };
            if (maximum > 0) {
                autoContrastHigh = scaled(raster->maxValue);
                autoContrastLow = scaled(raster->minValue);
            }
        }
    }
    AddPreprocessStr(entry);
}
