// Integer raster views of an image: the common base of the grayscale and colour rasters.
#pragma once

#include "platform/framework/afx.h"

class DalvoImage;
namespace cv {
class Mat;
}

// Rasters own detached integer copies of an image's pixels. Pixel (x, y) is element
// width * y + x: x the column from the left, y the row from the top. FreeImage keeps scan
// lines bottom-up, so only where a bitmap is read or written are rows flipped:
//
//     raster row 0          <->  scan line height-1   (top of the picture)
//     raster row y          <->  scan line height-1-y
//     raster row height-1   <->  scan line 0          (bottom of the picture)
//
// Pixel accessors and readouts do not check coordinates: keeping them inside is the caller's
// duty. Allocation failures raise CMemoryException. Rasters are never stored in archives.

/// The common base of the rasters: size, depth and the largest value the depth can hold.
class KESTRO_API RasterImage : public CObject {
    DECLARE_SERIAL(RasterImage)

public:
    int width;         ///< number of columns
    int height;        ///< number of rows
    int maxPixelValue; ///< largest value of the depth: 2^bpp - 1, 2147483647 from 31 bits on
    int bpp;           ///< bits per pixel

    /// All four fields 0.
    RasterImage();
    /// Width, height and depth of the image's bitmap; all 0 for a null image or one without bitmap.
    explicit RasterImage(DalvoImage* image);
    RasterImage(int width, int height, int bpp);
    RasterImage(const RasterImage& other);
    /// Copies the four fields of the other raster (all 0 for a null pointer).
    explicit RasterImage(RasterImage* other);
    /// Width = the matrix's columns, height = its rows; bpp and maxPixelValue are left 0.
    explicit RasterImage(cv::Mat* matrix);
    RasterImage& operator=(const RasterImage& other);
    ~RasterImage() override;

    int getWidth() const { return width; }
    int getHeight() const { return height; }
    int getBPP() const { return bpp; }
    int getMaxPixelValue() const { return maxPixelValue; }

    /// 2^bpp computed in floating point, truncated to int, minus 1; 2147483647 for 31 bits and more.
    static int maxPixelValueForDepth(int bpp);

protected:
    /// width * height; 0 when either is not positive.
    size_t pixelCount() const;
    /// Pixel storage of the derived rasters, released with freeBlock: aligned, and large blocks
    /// advised onto transparent huge pages, since first touch of fresh memory costs far less in
    /// 2 MiB pages. Zero-filled when asked. A count of 0 gives null; failure raises CMemoryException.
    static void* allocateBlock(size_t count, size_t elementSize, bool zeroed = false);
    static void freeBlock(void* block);
    /// Fills dst, a block of this raster's size, from a source of srcWidth x srcHeight elements
    /// read with its own width: the overlap is copied, the rest set to 0, so that a source of
    /// another size never makes either block read or written past its end.
    void copyOverlap(void* dst, const void* src, int srcWidth, int srcHeight, size_t elementSize) const;

    /// The raster point at distance radius and angle (degrees, 0 along +x, 90 along +y = down)
    /// from the centre, each offset rounded in float as floor(v + 0.5). False when outside.
    bool polarPoint(CPoint centre, float radius, float angle, int& x, int& y) const;
};
