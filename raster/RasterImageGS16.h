// The grayscale raster: one int per pixel of an 8-bit or 16-bit grayscale image.
#pragma once

#include "platform/data/DataArray.h"
#include "raster/RasterImage.h"

/// A detached copy of a grayscale image's pixels as plain ints in one block (pixels[width*y + x]),
/// with minimum, maximum and mean. The statistics are valid after the constructors from an image
/// or a raster pointer, subtractImage and calculateStatistics, and copied by copy; setPixel,
/// writes through getPixelPntr or pixels, and the analysis algorithms leave them stale.
/// Readouts append to a CIntDataArray the caller owns.
class KESTRO_API RasterImageGS16 : public RasterImage {
    DECLARE_SERIAL(RasterImageGS16)

public:
    double mean;           ///< mean pixel value
    double extraStatistic; ///< set to 0 by every statistics pass, carried over by copies
    int minValue;          ///< smallest pixel value
    int maxValue;          ///< largest pixel value
    int* pixels;           ///< owned, width * height ints, top row first; null when empty.
                           ///< Write through it freely, but never free or replace it.

    /// Empty: no pixels, minValue -2147483648, maxValue 2147483647, mean 0.
    RasterImageGS16();
    /// bpp 16, all pixels 0, minValue -2147483648, maxValue 2147483647, mean 0.
    RasterImageGS16(int width, int height);
    /// The pixels of a FIT_UINT16 bitmap or of an 8-bit FIT_BITMAP (raw bytes, palette not
    /// looked up); zeros for any other type or depth. Statistics computed.
    /// A null image or one without bitmap gives an empty raster with the statistics of no pixels.
    explicit RasterImageGS16(DalvoImage* image);
    /// Size, depth and pixels copied; statistics recomputed from the pixels.
    explicit RasterImageGS16(RasterImageGS16* other);
    /// Size, depth, pixels and statistics copied.
    RasterImageGS16(const RasterImageGS16& other);
    /// 8-bit or 16-bit unsigned single-channel matrices give bpp 8 or 16 and their values, any
    /// other type bpp 1 and zeros; matrix row y is raster row y. Statistics are not computed:
    /// minValue -2147483648, maxValue 2147483647, mean 0 until calculateStatistics runs.
    explicit RasterImageGS16(cv::Mat* matrix);
    RasterImageGS16& operator=(const RasterImageGS16& other);
    ~RasterImageGS16() override;

    /// Rasters are never stored: reads and writes nothing.
    void Serialize(CArchive& ar) override;

    /// Replaces the pixel array by a copy of source's pixels (source read with its own width),
    /// then takes the statistics of source. Width, height and depth are not changed: pass a
    /// source of this size. A source of another size fills only the overlap and the rest is 0,
    /// so that neither array is read or written past its end.
    void copy(const RasterImageGS16& source);

    int getPixel(int x, int y) const { return pixels[static_cast<size_t>(width) * y + x]; }
    int getPixel(const CPoint& p) const { return getPixel(p.x, p.y); }
    int* getPixelPntr(int& x, int& y) { return &pixels[static_cast<size_t>(width) * y + x]; }
    /// Stores the value; the statistics are not updated.
    void setPixel(int x, int y, int value) { pixels[static_cast<size_t>(width) * y + x] = value; }

    /// The pixel at distance radius from centre in direction angle (degrees; 0 along +x,
    /// 90 along +y, downwards); 0 when that point lies outside the raster.
    int getPolarPixel(CPoint centre, float radius, float angle) const;

    /// Clears the array, then appends all pixels, top row first, each row left to right.
    void copyTo(CIntDataArray* values) const;
    /// Clears the array, then appends the pixel at each point, in the array's order (unchecked).
    void getPixelsFor(CPointArray* points, CIntDataArray* values) const;
    /// Clears the array, then appends the rectangle column by column (x from left to right-1,
    /// within each column y from top to bottom-1); nothing clamped.
    void getPixelsFor(CRect rect, CIntDataArray* values) const;
    /// Appends row y from x1 towards x2: x1..x2-1 when rising, x1 down to x2+2 when falling
    /// (one value fewer than a rising run of the same span), nothing when x1 == x2.
    void getHorizontalPixels(CIntDataArray* values, int x1, int x2, int y) const;
    /// Appends column x from y1 towards y2 with the rule of getHorizontalPixels.
    void getVerticalPixels(CIntDataArray* values, int y1, int y2, int x) const;
    /// Appends one value: the sum of the columns x1 (included) to x2 (excluded), clamped to the
    /// raster, over all rows, divided by x2 - x1 + 1 and rounded half up. An empty range
    /// (x2 <= x1 after clamping) appends 0; a result beyond the int range is saturated.
    void getxAveregedVertricalBeamProfile(CIntDataArray* values, int x1, int x2) const;
    /// Clears the array, appends maxPixelValue + 1 zero bins and counts every pixel value into
    /// them. A value below 0 or above maxPixelValue raises CInvalidArgException, leaving the
    /// counts of the pixels before it in the array.
    void getHistogram(CIntDataArray* histogram) const;

    /// pixel = max(0, pixel - other's pixel at (x, y)) over this raster's size (other indexed
    /// with its own width, so it must be at least as large); then calculateStatistics.
    void subtractImage(RasterImageGS16* other);
    /// Recomputes minValue, maxValue and mean; extraStatistic becomes 0. With no pixels minValue
    /// stays 2147483647, maxValue -2147483648 and mean is 0/0 (NaN).
    void calculateStatistics();

    /// A new image owned by the caller: 8-bit FIT_BITMAP for bpp 8, FIT_UINT16 otherwise, each
    /// value stored as its low 8 or 16 bits (no clamping: 300 -> 44, -1 -> 255 in 8 bits).
    DalvoImage* convert2DalvoImage() const;

private:
    void allocatePixels(size_t count, bool zeroed);
    void freePixels();
};
