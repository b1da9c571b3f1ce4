#include "raster/RasterImage.h"

#include <cmath>

IMPLEMENT_SERIAL(RasterImage, CObject, VERSIONABLE_SCHEMA | 0)

RasterImage::RasterImage() : width(0), height(0), maxPixelValue(0), bpp(0) {}
RasterImage::RasterImage(DalvoImage*) : RasterImage() {}
RasterImage::RasterImage(int w, int h, int depth)
    : width(w), height(h), maxPixelValue(maxPixelValueForDepth(depth)), bpp(depth) {}
RasterImage::RasterImage(const RasterImage& other) = default;
RasterImage::RasterImage(RasterImage* other) : RasterImage() {
    if (other) *this = *other;
}
RasterImage::RasterImage(cv::Mat*) : RasterImage() {}
RasterImage& RasterImage::operator=(const RasterImage& other) = default;
RasterImage::~RasterImage() = default;

int RasterImage::maxPixelValueForDepth(int depth) {
    if (depth >= 31) return 2147483647;
    return static_cast<int>(std::pow(2.0, depth)) - 1;
}

bool RasterImage::polarPoint(CPoint, float, float, int&, int&) const { return false; }
