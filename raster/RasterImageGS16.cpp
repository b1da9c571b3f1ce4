#include "raster/RasterImageGS16.h"

IMPLEMENT_SERIAL(RasterImageGS16, RasterImage, VERSIONABLE_SCHEMA | 0)

RasterImageGS16::RasterImageGS16()
    : mean(0), extraStatistic(0), minValue(-2147483647 - 1), maxValue(2147483647), pixels(nullptr) {}
RasterImageGS16::RasterImageGS16(int, int) : RasterImageGS16() {}
RasterImageGS16::RasterImageGS16(DalvoImage*) : RasterImageGS16() {}
RasterImageGS16::RasterImageGS16(RasterImageGS16*) : RasterImageGS16() {}
RasterImageGS16::RasterImageGS16(const RasterImageGS16&) : RasterImageGS16() {}
RasterImageGS16::RasterImageGS16(cv::Mat*) : RasterImageGS16() {}
RasterImageGS16& RasterImageGS16::operator=(const RasterImageGS16&) { return *this; }
RasterImageGS16::~RasterImageGS16() { freePixels(); }
void RasterImageGS16::Serialize(CArchive&) {}
void RasterImageGS16::copy(const RasterImageGS16&) {}
int RasterImageGS16::getPolarPixel(CPoint, float, float) const { return 0; }
void RasterImageGS16::copyTo(CIntDataArray*) const {}
void RasterImageGS16::getPixelsFor(CPointArray*, CIntDataArray*) const {}
void RasterImageGS16::getPixelsFor(CRect, CIntDataArray*) const {}
void RasterImageGS16::getHorizontalPixels(CIntDataArray*, int, int, int) const {}
void RasterImageGS16::getVerticalPixels(CIntDataArray*, int, int, int) const {}
void RasterImageGS16::getxAveregedVertricalBeamProfile(CIntDataArray*, int, int) const {}
void RasterImageGS16::getHistogram(CIntDataArray*) const {}
void RasterImageGS16::subtractImage(RasterImageGS16*) {}
void RasterImageGS16::calculateStatistics() {}
DalvoImage* RasterImageGS16::convert2DalvoImage() const { return nullptr; }
void RasterImageGS16::allocatePixels(size_t, bool) {}
void RasterImageGS16::freePixels() {}
