#include "raster/RasterImageRGB.h"

IMPLEMENT_SERIAL(RasterImageRGB, RasterImage, VERSIONABLE_SCHEMA | 0)

RasterImageRGB::RasterImageRGB() : pixels(nullptr) {}
RasterImageRGB::RasterImageRGB(int, int) : RasterImageRGB() {}
RasterImageRGB::RasterImageRGB(DalvoImage*) : RasterImageRGB() {}
RasterImageRGB::RasterImageRGB(const RasterImageRGB&) : RasterImage(), pixels(nullptr) {}
RasterImageRGB& RasterImageRGB::operator=(const RasterImageRGB&) { return *this; }
RasterImageRGB::~RasterImageRGB() {}
void RasterImageRGB::Serialize(CArchive&) {}
RGBQUAD* RasterImageRGB::getPolarPixel(CPoint, float, float) { return nullptr; }
DalvoImage* RasterImageRGB::convert2DalvoImage() const { return nullptr; }
cv::Mat_<cv::Vec<unsigned char, 3>>* RasterImageRGB::getRGBCVMatrix() const { return nullptr; }
cv::Mat* RasterImageRGB::getRedChannelCVMatrix() const { return nullptr; }
cv::Mat* RasterImageRGB::getGreenChannelCVMatrix() const { return nullptr; }
cv::Mat* RasterImageRGB::getBlueChannelCVMatrix() const { return nullptr; }
void RasterImageRGB::copy(const RasterImageRGB&) {}
cv::Mat* RasterImageRGB::channelMatrix(int) const { return nullptr; }
