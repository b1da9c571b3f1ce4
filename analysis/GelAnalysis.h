// Gel analysis: lanes, bands, band volumes with background correction, saturation and size
// calibration from a ladder lane.
#pragma once

#include "framework/Export.h"

#include <algorithm>
#include <string>
#include <vector>

class DalvoImage;
class RasterImageGS16;

/// Everything here speaks plain C++: results are structs of std::vector and double, positions
/// are sub-pixel doubles in image coordinates (x the column from the left, y the row from the
/// top, pixel centres at integer positions), and bad arguments raise std::invalid_argument with
/// a one-line reason. Nothing is printed and the inputs are never changed.
///
/// How a gel is read:
/// - Grey values. 8-bit and 16-bit grayscale pixels are taken as they are; palette images are
///   looked up in their palette and colour images converted to grey by luma,
///   (299 R + 587 G + 114 B + 500) / 1000, so that a colour scan of a stained gel keeps its
///   contrast. The largest value of the depth (255 or 65535) is the saturation level.
/// - Polarity. The analysis works on bright bands: dark bands on a light gel are inverted
///   (v becomes maximum - v) first, so a saturated dark band is one that reached 0. Found
///   automatically by the skew of the histogram (bright bands are a bright tail above a dark
///   background), or forced by the caller.
/// - Lanes. The gel's background is estimated by the library's moving minimum
///   (ImageProcessing::generateBGViaMinFilter) and subtracted; lanes are the prominent peaks of
///   the column profile (mean of each column over the tier's rows). A lane's centre is the
///   middle of the profile's half-maximum crossings, its edges the crossings at 15% of its height
///   above the floor between it and its neighbours, no further than 0.7 half-maximum widths
///   from the centre. A lane's valleys must fall a third of its height (a bump at the edge of a
///   lane is no lane), and a lane narrower than 40% of the median lane (a sliver at the border
///   of the scan) is dropped. Without a lane count, an
///   empty well column is dropped too: a stripe whose peak in the profile is below 35% of the
///   tier's median lane's and whose signal along it (the highest stretch of rows above the
///   lane's usual level, in the median across the lane's middle half less the gel beside it,
///   which dust does not reach) is below a fifth of the median lane's. A smile that shifts each lane's bands down by its own offset needs
///   nothing more, as every lane is read on its own. Lanes that drift or bend sideways are
///   followed: the tier is cut into strips of rows, each strip's column profile is matched
///   against the tier's in each lane (the shift of best correlation, weighted by the strip's
///   signal in the lane), and a parabola fitted to the shifts of the strips with a fifth of the
///   strongest strip's signal gives the lane's centre row by row between them (beyond them the
///   offset holds: the faint rims of a well match anywhere); a path that strays less than a
///   pixel is taken as straight.
/// - Tiers. Gels with two or more rows of wells are read tier by tier. Tiers are parted at long
///   empty runs of the row profile (an eighth of the height below 5% of its range, with a fifth
///   of its signal on either side); where there are none, at a row of wells: the lanes found on
///   the whole region run darker than the gel between them along a short run of rows (the well
///   contrast, the median over lanes of the darker gap less the lane's middle, above five times
///   its noise and a tenth of the lanes' strongest brightness over the gel), with a fifth of
///   that brightness above and below. A tier then starts half the run's height above the wells.
/// - Bands. The lane profile is the mean of the middle half of the lane's columns, row by row,
///   smoothed by a short moving average. Bands are its peaks whose prominence (height above the
///   higher of the two valleys that separate it from higher ground) passes both five times the
///   profile's noise and a fraction of the gel's profile range. A band's box spans the lane
///   with a margin of a tenth of its width on each side (never past the middle of the gap to a
///   neighbour) and, along the lane, 3.1 half-widths at half prominence above and below the
///   peak, cut at the valley to a neighbouring band. A peak must also rise that far above the
///   lane's median (the bright rim of a dark well has prominence but no height), and a peak
///   more than four times as wide as the gel's median band is a smear, not a band. A peak with
///   a valley within three half-widths that sinks below the gel between the lanes (the darker
///   of the two gaps beside the lane, less the lane's usual offset from it, the noise and a
///   tenth of the peak's prominence) is the rim of a well, whose slot is darker than the gel.
///   A faint band on the flank of a bright one makes no peak, only a shoulder, but still bends
///   the profile down around its middle: away from the peaks (two band sigmas beyond their
///   half-prominence spans, the sigma from the gel's median peak width), minima of the second
///   difference of the profile smoothed by a Gaussian of half a band sigma are shoulder bands
///   when the height of a Gaussian band that bends it as much passes the same least prominence,
///   the bend stands five times above its noise, and the band's box holds a third of the volume
///   of a band of the least prominence. A shoulder parts from its neighbours where the profile
///   bends up most between them; bands that part so share one baseline (below). DNA runs down
///   from the wells, so nothing above them is a band (the bright edge of the gel or of its
///   tray, the rims of the slots): where a tier shows its row of wells (the strongest run of
///   rows in its top 40% along which the lanes run darker than the gel between them, by five
///   times the noise and a twentieth of the lanes' brightest rise over the gel), peaks above
///   the run's end plus its height again are dropped.
/// - Volumes. The raw volume is the sum of the (polarity-corrected) pixels in the box. The
///   corrected volume subtracts a background: by default a straight line, row by row, between
///   the box's row sums at its top and bottom rows (each the mean of three rows), which follows
///   a tilted or curved background and does not sink into noise as a minimum does; bands that
///   part without a valley (a shoulder and its neighbours) share the line from the top of the
///   first box to the bottom of the last and are parted by drop lines; or, on request, the
///   moving-minimum background image summed over the box.
/// - Diffuse bands. A band keeps the straight sides of its well across the lane; DNA that spread
///   sideways (a primer-dimer cloud, a degraded sample) rises slowly at the lane's sides. Each
///   band's edge width is the number of columns over which its rows' column profile rises from
///   20% to 80% of the way from the floor beside the lane to the lane's middle; bands whose edge
///   is wider than 1.4 times the median of the gel's bands are flagged diffuse. They stay bands,
///   with their volumes, so that a caller counting sharp bands can leave them out.
/// - Saturation. A band's box is checked for pixels at the saturation level; a band with any is
///   flagged, and its volume is then only a lower bound.
/// - Size calibration. log10(size) against the migration distance (the peak row below the top
///   of the lane's tier), through the ladder bands. By default a monotone cubic (Fritsch and
///   Carlson: Hermite tangents from the mean of the neighbouring secants, cut back where they
///   would overshoot), which follows the ladder's curvature and never makes a size rise with
///   distance; on request piecewise linear between consecutive bands. Either way, bands above
///   the first or below the last ladder band are extrapolated along the end segment's secant and
///   marked. Ladder bands and sizes are paired one to one when their counts agree. When they
///   differ, the shorter list is paired in order with the part of the longer one along which
///   the logarithm of the slope of log10(size) against distance runs smoothest (least sum of
///   squared second differences: migration is smooth in log size, and a band paired with the
///   wrong size makes the slope jump), leaving out the bottom of the longer list where the
///   spacing cannot tell; a warning names what was left out. A slope 2.5 times steeper or
///   flatter than the one before is warned of as a band missed or extra there.
namespace kestro::gel {

enum class Polarity {
    Auto,        ///< decided from the histogram
    BrightBands, ///< fluorescence, chemiluminescence: bright bands on a dark gel
    DarkBands,   ///< Coomassie, silver, autoradiographs: dark bands on a light gel
};

enum class SizeFit {
    MonotoneSpline,  ///< monotone cubic of log10(size) (default)
    PiecewiseLinear, ///< straight segments of log10(size) between ladder bands
};

enum class VolumeBackground {
    LaneValleys,   ///< straight line between the band box's top and bottom rows (default)
    MovingMinimum, ///< the moving-minimum background image under the box
};

/// A rectangle of the image: columns x .. x + width - 1, rows y .. y + height - 1.
struct Region {
    int x = 0;
    int y = 0;
    int width = 0; ///< 0: the whole image (and then height is ignored too)
    int height = 0;
};

struct Options {
    int laneCount = 0;       ///< lanes per tier; 0 finds how many
    Polarity polarity = Polarity::Auto;
    int tiers = 0;           ///< rows of wells; 0 finds them (empty runs of rows, wells), n splits
                             ///< the region at the emptiest row near each of n equal shares
    Region region;           ///< the part of the image to analyse
    double minProminence = 0.03; ///< least band prominence, as a fraction of the gel's profile range
    double minLaneProminence = 0.12; ///< least lane prominence, as a fraction of the strongest lane's
    double diffuseEdge = 1.4; ///< bands whose sides spread over more than this many times the gel's
                              ///< median band edge are flagged diffuse; 0 flags none
    VolumeBackground background = VolumeBackground::LaneValleys;
    int backgroundHalfWidth = 0;  ///< moving-minimum window half sizes; 0: a 16th of the region
    int backgroundHalfHeight = 0;
    int ladderLane = -1;     ///< index into the result's lanes (0-based), -1 for no calibration
    std::vector<double> ladderSizes; ///< sizes of the ladder's bands, largest (top) first
    SizeFit sizeFit = SizeFit::MonotoneSpline;
    bool shoulders = true;   ///< also find faint bands that are only shoulders on a brighter band's flank
};

struct Band {
    int lane = 0;            ///< index into the result's lanes
    int index = 0;           ///< 0 for the band nearest the top of its lane
    double x = 0;            ///< lane centre, column
    double peakY = 0;        ///< row of the peak, sub-pixel
    int top = 0;             ///< first row of the band's box
    int bottom = 0;          ///< last row of the band's box (included)
    int left = 0;            ///< first column of the band's box
    int right = 0;           ///< last column of the band's box (included)
    double prominence = 0;   ///< in lane-profile units (mean pixel value)
    double width = 0;        ///< rows between the half-prominence crossings
    double rawVolume = 0;    ///< sum of the box's pixels
    double backgroundVolume = 0;  ///< the background under the box
    double correctedVolume = 0;   ///< raw minus background
    double relativeVolume = 0;    ///< corrected volume / the sum of the lane's positive corrected volumes
    int saturatedPixels = 0; ///< pixels of the box at the saturation level
    bool saturated = false;  ///< then the volumes are lower bounds
    double size = 0;         ///< estimated size (the ladder's unit); 0 without a calibration
    bool extrapolated = false; ///< the size lies outside the ladder's range
    double edgeWidth = 0;    ///< columns over which its sides rise from 20% to 80% across the lane
    bool diffuse = false;    ///< its sides spread far wider than the gel's bands: a cloud (primer
                             ///< dimers, degraded DNA) rather than a sharp band
    bool shoulder = false;   ///< a shoulder on a brighter band's flank, not a peak of its own: its
                             ///< place and volume are less certain
};

struct Lane {
    int index = 0;
    int tier = 0;
    double centre = 0;       ///< column, sub-pixel
    double left = 0;         ///< left edge, column, sub-pixel
    double right = 0;        ///< right edge
    int boxLeft = 0;         ///< first column of its band boxes
    int boxRight = 0;        ///< last column of its band boxes (included)
    int top = 0;             ///< first row of the lane's tier
    int bottom = 0;          ///< last row of the lane's tier (included)
    double prominence = 0;   ///< of its peak in the column profile
    double middle = 0;       ///< the row at which centre, left and right hold (the tier's middle)
    double tilt = 0;         ///< sideways drift of the centre at the middle row, columns per row
    double bow = 0;          ///< change of the drift, columns per row squared
    double pathTop = 0;      ///< rows between which the path was measured; beyond them it
    double pathBottom = 0;   ///< keeps the offset of the nearer end
    std::vector<Band> bands; ///< top to bottom

    /// The lane's centre column at a row: lanes bend along a parabola (straight lanes have
    /// tilt and bow 0); the edges move with the centre.
    double centreAt(double row) const
    {
        const double u = (pathBottom > pathTop ? std::clamp(row, pathTop, pathBottom) : row) - middle;
        return centre + (tilt + bow * u) * u;
    }
};

struct KESTRO_API SizeCalibration {
    int ladderLane = -1;
    SizeFit fit = SizeFit::MonotoneSpline;
    std::vector<double> positions; ///< migration distances of the ladder bands used, rising
    std::vector<double> sizes;     ///< their sizes, falling
    bool valid() const { return positions.size() >= 2; }
    /// The size at a migration distance; extrapolated set when it lies outside the ladder's
    /// bands. 0 when the calibration is not valid.
    double sizeAt(double distance, bool* extrapolated = nullptr) const;
    /// For each ladder band, the size the same fit gives it from the other bands alone (the end
    /// bands extrapolated): the leave-one-out check of the calibration. Empty below 3 bands.
    std::vector<double> leaveOneOut() const;
};

struct KESTRO_API Analysis {
    int width = 0;           ///< of the image
    int height = 0;
    int maxValue = 0;        ///< saturation level (255 or 65535)
    Polarity polarity = Polarity::BrightBands; ///< as used: never Auto
    bool polarityDetected = false; ///< found from the histogram rather than given
    std::string greyConversion;    ///< how the pixels became grey values
    std::vector<Lane> lanes;       ///< tier by tier, left to right
    SizeCalibration calibration;
    std::vector<std::string> warnings;

    /// All bands of all lanes, lane by lane.
    std::vector<Band> bands() const;
};

/// Analyses a grayscale raster (8-bit or 16-bit values; saturation at its maxPixelValue).
KESTRO_API Analysis analyse(const RasterImageGS16& raster, const Options& options = Options());
/// Analyses an image of any depth FreeImage can hold as grey or colour (see the grey values
/// above). Raises std::invalid_argument for an empty image or a type without a grey form.
KESTRO_API Analysis analyse(const DalvoImage& image, const Options& options = Options());

/// Fits sizes to a ladder lane of an analysis and gives every band its size estimate.
/// Raises std::invalid_argument when the lane does not exist, the sizes are not positive and
/// falling, or fewer than two ladder bands can be paired with sizes.
KESTRO_API void calibrate(Analysis& analysis, int ladderLane, const std::vector<double>& sizes,
                          SizeFit fit = SizeFit::MonotoneSpline);

/// The grey values the analysis reads from an image, top row first, and their saturation
/// level; what analyse(DalvoImage) works on.
struct GreyImage {
    int width = 0;
    int height = 0;
    int maxValue = 0;
    std::vector<int> pixels;
    std::string conversion;
};
KESTRO_API GreyImage greyImage(const DalvoImage& image);

/// The polarity the histogram suggests for grey values of the given saturation level.
KESTRO_API Polarity detectPolarity(const int* pixels, size_t count, int maxValue);

/// "bright bands", "dark bands" or "auto".
KESTRO_API const char* polarityName(Polarity polarity);

} // namespace kestro::gel
