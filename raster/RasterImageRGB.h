// The colour raster: one RGBQUAD per pixel of a colour image.
#pragma once

#include "raster/RasterImage.h"

#include <opencv2/core/mat.hpp>

/// A detached copy of a colour image's pixels as one quad per pixel (blue, green, red,
/// reserved), pixels[width*y + x], top row first. Each quad is what FreeImage's pixel-colour
/// query gives for that pixel; quads the query does not deliver (depths below 16 bits,
/// non-standard types) are 0. Matrices handed out belong to the caller.
class KESTRO_API RasterImageRGB : public RasterImage {
    DECLARE_SERIAL(RasterImageRGB)

public:
    RGBQUAD* pixels; ///< owned, width * height quads, top row first; null when empty.
                     ///< Write through it freely, but never free or replace it.

    /// All fields 0, no pixel array.
    RasterImageRGB();
    /// bpp 24, maxPixelValue 16777215, all quads 0.
    RasterImageRGB(int width, int height);
    /// Width, height and depth of the image's bitmap; pixel (x, y) is FreeImage's pixel colour
    /// at column x of scan line height-1-y. A null image or one without bitmap gives an empty raster.
    explicit RasterImageRGB(DalvoImage* image);
    RasterImageRGB(const RasterImageRGB& other);
    RasterImageRGB& operator=(const RasterImageRGB& other);
    ~RasterImageRGB() override;

    /// Rasters are never stored: reads and writes nothing.
    void Serialize(CArchive& ar) override;

    /// The address of quad (x, y), unchecked.
    RGBQUAD* getPixel(int x, int y) { return &pixels[static_cast<size_t>(width) * y + x]; }
    /// Stores the quad, unchecked.
    void setPixel(int x, int y, RGBQUAD colour) { pixels[static_cast<size_t>(width) * y + x] = colour; }
    /// The quad at distance radius and angle (degrees) from the centre, found as the grayscale
    /// raster finds its pixel; null when the point lies outside the raster.
    RGBQUAD* getPolarPixel(CPoint centre, float radius, float angle);

    /// A new FIT_BITMAP image of this size and depth, owned by the caller, every quad written
    /// with FreeImage's pixel-colour setter, upright.
    DalvoImage* convert2DalvoImage() const;
    /// A new height x width matrix of blue, green, red per pixel, owned by the caller.
    cv::Mat_<cv::Vec<unsigned char, 3>>* getRGBCVMatrix() const;
    /// A new height x width CV_8UC1 matrix of one channel, owned by the caller.
    cv::Mat* getRedChannelCVMatrix() const;
    cv::Mat* getGreenChannelCVMatrix() const;
    cv::Mat* getBlueChannelCVMatrix() const;

private:
    /// Replaces the quads by a copy of source's over this raster's size (0 outside source).
    void copy(const RasterImageRGB& source);
    cv::Mat* channelMatrix(int channel) const;
};
