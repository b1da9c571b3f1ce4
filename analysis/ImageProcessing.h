// Analysis algorithms on grayscale rasters: background, smoothing, centre of mass, spot outlines.
#pragma once

#include "platform/data/DataArray.h"
#include "platform/framework/afx.h"
#include "raster/RasterImageGS16.h"

/// The analysis operations on grayscale rasters. They keep no state between calls and report
/// nothing: the rasters and arrays passed in stay the caller's, results go into them, and a
/// null raster or array makes an operation do nothing. Where a documented precondition is
/// broken (a rectangle outside the raster, a centre outside its rectangle), the operations
/// below say what they do instead of reading outside the raster. Running out of memory for
/// working buffers raises CMemoryException, with the rasters as they were.
///
/// Coordinates: x is the column from the left, y the row from the top; angles in degrees,
/// 0 along +x and 90 along +y (downwards on screen). Windows and rectangles are half-open: the
/// first column and row are inside, the end column and row outside.
///
/// Rounding rule R, used for every threshold and offset of the boundary searches: the value as
/// a float, plus 0.5 in float, floored in double, converted to int (saturated to the int range).
class KESTRO_API ImageProcessing : public CObject {
public:
    ImageProcessing();
    ~ImageProcessing() override;

    /// Lowers minimum to the smallest pixel in columns x1..x2-1 and rows y1..y2-1; never raises
    /// it, so the caller sets the start value. An empty rectangle leaves it as it was, and so
    /// do the parts of a rectangle outside the raster.
    void getMinValue(RasterImageGS16* raster, int x1, int y1, int x2, int y2, int& minimum);

    /// Background estimate by a moving minimum. Background pixel (x, y), for x and y inside the
    /// source (indexed with the background's own width), becomes the smallest of the
    /// background's maxPixelValue and the source pixels in columns
    /// max(0, x - halfWidth) .. min(x + halfWidth, width - 1) - 1 and rows
    /// max(0, y - halfHeight) .. min(y + halfHeight, height - 1) - 1: a window of
    /// 2 halfWidth x 2 halfHeight reaching halfWidth - 1 to the right of x and halfHeight - 1
    /// below y, clamped so that the source's last column and row never enter it. An empty
    /// window (a half size below 1, a source one pixel wide or high) leaves the start value.
    /// The background's other pixels and its statistics are not touched (run
    /// calculateStatistics). The background may be the source itself: the estimate is made
    /// from the source as it was. A background narrower or lower than the source is left as it
    /// is. Cost per pixel does not depend on the half sizes.
    void generateBGViaMinFilter(RasterImageGS16* source, RasterImageGS16* background, int halfWidth,
                                int halfHeight);

    /// Smooths the interior in place by a moving average: pixel (x, y) with
    /// radius <= x < width - radius and radius <= y < height - radius becomes the mean of the
    /// original pixels in columns x - radius .. x + radius - 1 and rows y - radius .. y + radius - 1
    /// (2 radius x 2 radius pixels), the sum taken in double and the quotient truncated toward
    /// zero. Other pixels and the statistics are not touched. If 2 radius is not below the width
    /// or the height nothing changes, and a radius below 1 changes nothing either. Window sums
    /// that could pass 2^53 (values far beyond 16 bits in huge windows) are added in the order
    /// rows top to bottom, each left to right. Cost per pixel does not depend on the radius.
    void smoothenViaAverageFilter(RasterImageGS16* raster, int radius);

    /// The intensity-weighted centre of the rectangle, rounded half up: the rectangle is clamped
    /// to the raster (left, top at least 0, right at most width - 1, bottom at most height - 1),
    /// reversed sides are swapped, and columns left..right-1 of rows top..bottom-1 are summed.
    /// Pixels outside the raster are not summed. When those pixels sum to 0 (or there are none)
    /// the result is the middle of the rectangle, ((left + right) / 2, (top + bottom) / 2).
    CPoint findCenterOfMass3D(RasterImageGS16* raster, CRect rect);

    /// Appends 360 boundary points, one per degree from 0, to points (kept as they were).
    /// With the rectangle clamped as above (no swapping), each ray walks
    /// n = R((right - left) * 0.75) steps out of centre and ends at the first point outside the
    /// rectangle or the raster, or whose pixel is below the threshold
    /// t = max(0, R((centre pixel - b) * fraction) + b), b the smallest corner pixel of the
    /// clamped rectangle (its right column and bottom row are read there); otherwise it ends at
    /// step n - 1. n <= 0 gives 360 points (0, 0). A centre outside the clamped rectangle
    /// stops every ray at once: 360 copies of the centre.
    void findBroundryPoints(RasterImageGS16* raster, CRect rect, CPoint centre, float fraction,
                            CPointArray* points);

    /// Appends a closed clockwise outline to points (kept as they were): (leftX, cy), the upper
    /// points from left to right, (rightX, cy), the lower points from right to left:
    /// 2 + 2 (rightX - leftX) points. The rectangle is clamped as above (no swapping); leftX and
    /// rightX end the runs of row cy from the centre towards left (down to left + 2) and towards
    /// right (up to right - 1) at the first value below R((row max - row min) * fraction) +
    /// row min over columns left..right-1, or at the run's end. Each column from leftX to
    /// rightX - 1 then gives an upper and a lower point the same way, up to top + 2 and down to
    /// bottom - 1, with the threshold R((v - up min) * fraction) + up min, v its pixel on row cy.
    /// An empty run ends at the centre. When the up run is empty (cy <= top + 1) its base is
    /// the smallest value of the down run. A centre outside the clamped rectangle (whose right
    /// column and bottom row count as inside here) gives two points, both the centre.
    void findBroundryPointsUpDown(RasterImageGS16* raster, CRect rect, CPoint centre, float fraction,
                                  CPointArray* points);
};
