// Gel analysis: tiers, lanes, bands, band volumes with background correction, saturation and
// size calibration from a ladder lane.
#pragma once

#include "platform/wintypes/Export.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

class DalvoImage;
class RasterImageGS16;

/// Everything here speaks plain C++: results are structs of std::vector and double, positions
/// are sub-pixel doubles in image coordinates (x the column from the left, y the row from the
/// top, pixel centres at integer positions), boxes are half-open (right and bottom excluded) as
/// everywhere in the library, and bad arguments raise ArgumentError (a std::invalid_argument)
/// with a one-line reason. Nothing is printed and the inputs are never changed.
///
/// The analysis runs in stages, each a function a caller can run alone and feed with inputs of
/// its own (lanes a user moved, band boxes a user drew):
///
///     GreyView ──► PreparedGel ──► findTiers ──► findLanes ──► findBands ──► calibrate
///     (pixels,      (region in      (tiers and    (centres,     (profiles, peaks,
///      no copy)      bright-band     their rows    edges,        boxes, volumes,
///                    polarity and    of wells)     paths)        flags)
///                    its background)
///
/// placeLanes stands in for findLanes with lanes the caller gives, measureBand for a band box
/// the caller gives; analyse() runs every stage, analyseLanes() every stage after the lanes.
///
/// How a gel is read:
/// - Grey values. 8-bit and 16-bit grayscale pixels are taken as they are; palette images are
///   looked up in their palette and colour images converted to grey by luma,
///   (299 R + 587 G + 114 B + 500) / 1000, so that a colour scan of a stained gel keeps its
///   contrast. The largest value of the depth (255 or 65535) is the saturation level.
/// - Polarity. The analysis works on bright bands: dark bands on a light gel are inverted
///   (v becomes maximum - v) first, so a saturated dark band is one that reached 0. Found
///   automatically from the narrow features down the columns (a band stands out of the gel
///   just above and below it on its own side, while edges, a frame and shading rise as far as
///   they fall), or forced by the caller.
/// - Lanes. The gel's background is estimated by the library's moving minimum
///   (ImageProcessing::generateBGViaMinFilter) and subtracted; lanes are the prominent peaks of
///   the column profile (mean of each column over the tier's rows). A lane's centre is the
///   middle of the profile's half-maximum crossings, its edges the crossings at 15% of its height
///   above the floor between it and its neighbours, no further than 0.7 half-maximum widths
///   from the centre. A lane's valleys must fall a third of its height (a bump at the edge of a
///   lane is no lane), and a lane narrower than 40% of the median lane (a sliver at the border
///   of the scan) is dropped. An
///   empty well column is dropped too: a stripe whose peak in the profile is below 35% of the
///   tier's median lane's and whose signal along it (the highest stretch of rows above the
///   lane's usual level, in the median across the lane's middle half less the gel beside it,
///   which dust does not reach) is below a fifth of the median lane's. A lane count given is
///   then met exactly: the lanes with the least such signal go, or lanes are added on a grid at
///   the found lanes' pitch (gaps first, then past the end with more signal), each moved to the
///   profile's highest point within a quarter pitch. A smile that shifts each lane's bands down by its own
///   offset needs nothing more, as every lane is read on its own. Lanes that drift or bend sideways are
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
///   A row of wells runs straight across the gel and slants in a turned scan or photograph:
///   where the comb's stripe shows along a slope of up to 3 degrees in as many columns as a
///   comb's must, and in a tenth more than along any level row, the tiers and their lanes are
///   found in a copy of the region whose columns are moved by that slope (each pixel kept, the
///   end rows standing for those beyond), and each lane's box and path are moved back down its
///   own column; the tier's rows then hold at its middle column (Tier::rowAt).
/// - Bands. The lane profile is the mean of the middle half of the lane's columns, row by row,
///   smoothed by a short moving average. Bands are its peaks whose prominence (height above the
///   higher of the two valleys that separate it from higher ground) passes both five times the
///   profile's noise and a fraction of the gel's profile range. A band's box spans the lane
///   with a margin of a tenth of its width on each side (never past the middle of the gap to a
///   neighbour) and, along the lane, 3.1 half-widths at half prominence above and below the
///   peak, cut at the valley to a neighbouring band. A peak must also rise that far above the
///   lane's median (the bright rim of a dark well has prominence but no height), and a peak
///   more than four times as wide as the gel's median band is a smear, not a band, unless it is
///   saturated (a clipped top and its glow are wide). A peak or shoulder whose rows rise in the
///   gel between the lanes on both sides by 85% of its rise in the lane (or of its height, if
///   more) is a line across the gel (a dye front, an edge), not a band. A peak with
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
///   the run's end plus its height again are dropped. The next tier's upper rims lie within a
///   slot's height (a sixtieth of the region's) above its top: peaks there are dropped where a
///   third of the tier's lanes, two at least, show one.
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

/// A bad argument to any call of the gel analysis: the one exception its calls raise for what
/// the caller gave them.
class KESTRO_API ArgumentError : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};

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

/// A half-open box: columns left .. right - 1, rows top .. bottom - 1.
struct Box {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    int width() const { return right - left; }
    int height() const { return bottom - top; }
};

/// The columns of one row of a band's box, half-open: left .. right - 1.
struct RowSpan {
    int left = 0;
    int right = 0;
};

struct Options {
    int laneCount = 0; ///< lanes per tier, exactly; 0 finds how many
    Polarity polarity = Polarity::Auto;
    int tiers = 0;                   ///< rows of wells; 0 finds them (empty runs of rows, wells), n splits
                                     ///< the region at the emptiest row near each of n equal shares
    Region region;                   ///< the part of the image to analyse; empty: all of it but a
                                     ///< black or white margin along its edges
    double minProminence = 0.03;     ///< least band prominence, as a fraction of the gel's profile range
    double minLaneProminence = 0.12; ///< least lane prominence, as a fraction of the strongest lane's
    double diffuseEdge = 1.4;        ///< bands whose sides spread over more than this many times the gel's
                                     ///< median band edge are flagged diffuse; 0 flags none
    VolumeBackground background = VolumeBackground::LaneValleys;
    int backgroundHalfWidth = 0; ///< moving-minimum window half sizes; 0: a 16th of the region
    int backgroundHalfHeight = 0;
    int ladderLane = -1;             ///< index into the result's lanes (0-based), -1 for no calibration
    std::vector<double> ladderSizes; ///< sizes of the ladder's bands, largest (top) first
    /// Lanes (indices, as ladderLane) that hold the ladder of ladderSizes; with ladderLane, their
    /// sizes the band search missed between two bands it paired are sought where those bands'
    /// calibration puts them (Band::fromLadder)
    std::vector<int> ladderLanes;
    SizeFit sizeFit = SizeFit::MonotoneSpline;
    bool shoulders = true; ///< also find faint bands that are only shoulders on a brighter band's flank
};

struct Band {
    int lane = 0;                ///< index into the result's lanes
    int index = 0;               ///< 0 for the band nearest the top of its lane
    double x = 0;                ///< lane centre at the peak row, column
    double peakY = 0;            ///< row of the peak, sub-pixel
    Box box;                     ///< the box at the peak row, as drawn; the lane's columns, valley to valley
    std::vector<RowSpan> rows;   ///< the columns summed in each row of the box, top first: on a lane
                                 ///< that bends they follow its path, so rawVolume is the sum of the
                                 ///< (polarity-corrected) pixels of these spans
    double prominence = 0;       ///< in lane-profile units (mean pixel value)
    double width = 0;            ///< rows between the half-prominence crossings
    double rawVolume = 0;        ///< sum of the box's pixels
    double backgroundVolume = 0; ///< the background under the box
    double correctedVolume = 0;  ///< raw minus background
    double relativeVolume = 0;   ///< corrected volume / the sum of the lane's positive corrected volumes
    int saturatedPixels = 0;     ///< pixels of the box at the saturation level
    bool saturated = false;      ///< then the volumes are lower bounds
    double size = 0;             ///< estimated size (the ladder's unit); 0 without a calibration
    bool extrapolated = false;   ///< the size lies outside the ladder's range
    double edgeWidth = 0;        ///< columns over which its sides rise from 20% to 80% across the lane
    bool diffuse = false;        ///< its sides spread far wider than the gel's bands: a cloud (primer
                                 ///< dimers, degraded DNA) rather than a sharp band
    bool shoulder = false;       ///< a shoulder on a brighter band's flank, not a peak of its own: its
                                 ///< place and volume are less certain
    bool fromLadder = false;     ///< not found by the search but sought where the ladder's sizes put a
                                 ///< band it missed (Options::ladderLanes)
    double mass = 0;             ///< estimated mass (the ladder masses' unit) from its tier's mass curve;
                                 ///< 0 without one
};

/// A row of wells and the lanes below it, down to the next tier.
struct Tier {
    int index = 0;
    int top = 0;          ///< first row
    int bottom = 0;       ///< one past the last row
    int firstBandRow = 0; ///< the row below the tier's wells (top when they cannot be seen):
                          ///< DNA runs down from the wells, so no band lies above it
    int wellsTop = 0;     ///< rows of the wells' slots, from wellsTop to one before wellsBottom;
    int wellsBottom = 0;  ///< none when equal (the slots cannot be seen)
    double slope = 0;     ///< rows its rows fall per column to the right, in a turned scan or
                          ///< photograph: the rows above hold at `column`
    double column = 0;
    double drift = 0; ///< columns its lanes run to the right per row down, in a turned scan:
                      ///< they hold at `driftRow` (the lanes' own tilt includes it)
    double driftRow = 0;
    /// Where a row of the tier lies at column x.
    double rowAt(double row, double x) const { return row + slope * (x - column); }
};

struct Lane {
    int index = 0; ///< in the result's lanes, tier by tier, left to right
    int tier = 0;
    double centre = 0;       ///< column, sub-pixel
    double left = 0;         ///< left edge, column, sub-pixel
    double right = 0;        ///< right edge
    Box box;                 ///< columns of its band boxes (at its middle row), rows of its tier
    double prominence = 0;   ///< of its peak in the column profile; 0 for a lane the caller placed
                             ///< or one found under its well alone
    double middle = 0;       ///< the row at which centre, left and right hold (the tier's middle)
    double tilt = 0;         ///< sideways drift of the centre at the middle row, columns per row
    double bow = 0;          ///< change of the drift, columns per row squared
    double pathTop = 0;      ///< rows between which the path was measured; beyond them it
    double pathBottom = 0;   ///< keeps the offset of the nearer end
    std::vector<Band> bands; ///< top to bottom

    /// The lane's centre column at a row: lanes bend along a parabola (straight lanes have
    /// tilt and bow 0); the edges move with the centre.
    double centreAt(double row) const {
        const double u = (pathBottom > pathTop ? std::clamp(row, pathTop, pathBottom) : row) - middle;
        return centre + (tilt + bow * u) * u;
    }
};

/// Where the caller puts a lane: its tier and its edges (columns, sub-pixel, right > left), and
/// optionally the path of a lane found before (a lane's `centre`, `tilt`, `bow`, `pathTop` and
/// `pathBottom`), so that a lane given back as it was found measures as it did.
struct LanePlacement {
    int tier = 0;
    double left = 0;
    double right = 0;
    double centre =
        std::numeric_limits<double>::quiet_NaN(); ///< at the tier's middle row; NaN: between the edges
    double tilt = 0, bow = 0;                     ///< 0 and 0: a straight lane
    double pathTop = 0, pathBottom = 0;           ///< image rows
    static LanePlacement centred(int tier, double centre, double width) {
        return {tier, centre - 0.5 * width, centre + 0.5 * width};
    }
    static LanePlacement of(const Lane& l) {
        return {l.tier, l.left, l.right, l.centre, l.tilt, l.bow, l.pathTop, l.pathBottom};
    }
};

/// Something the caller should know about a result: a code a program can test (such as
/// "saturated-bands", "no-lanes", "ladder-count", "ladder-spacing") and a sentence for people.
struct Warning {
    std::string code;
    std::string text;
};

struct KESTRO_API SizeCalibration {
    int ladderLane = -1;
    int tier = 0;                 ///< the ladder lane's tier: it sizes the bands of this tier only
    double centre = 0;            ///< the ladder lane's centre column
    std::vector<int> bands;       ///< the ladder bands used (indices in its lane), paired with sizes
    std::vector<int> sizeIndices; ///< for each, the index of its size in the sizes given
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

/// The amounts of a tier's bands from its ladder bands of known mass: mass = slope × corrected
/// volume, the least-squares line through the origin and the ladder bands that are not saturated.
struct MassCurve {
    int tier = 0;
    double slope = 0;         ///< mass per unit of corrected volume; 0 when nothing could be fitted
    int points = 0;           ///< ladder bands fitted
    int saturatedLeftOut = 0; ///< saturated ladder bands left out of the fit
    double rSquared = 0;      ///< 1 - residual / total sum of squares about the mean mass
};

struct KESTRO_API Analysis {
    int width = 0; ///< of the image
    int height = 0;
    int maxValue = 0;                          ///< saturation level (255 or 65535)
    Polarity polarity = Polarity::BrightBands; ///< as used: never Auto
    bool polarityDetected = false;             ///< found from the histogram rather than given
    std::string greyConversion;                ///< how the pixels became grey values
    std::vector<Tier> tiers;
    std::vector<Lane> lanes;                   ///< tier by tier, left to right
    SizeCalibration calibration;               ///< the first of calibrations
    std::vector<SizeCalibration> calibrations; ///< one per ladder lane, tier by tier, left to right
    std::vector<MassCurve> massCurves;         ///< one per tier with ladder masses
    std::vector<Warning> warnings;             ///< sorted by text, each once

    /// All bands of all lanes, lane by lane.
    std::vector<Band> bands() const;
};

/// Grey values the analysis reads without copying them: a pointer to the top row, rows
/// `stride` bytes apart, samples of one type, and the level at which a sample is saturated.
/// The caller keeps the pixels alive while the view and a PreparedGel made from it are used.
struct GreyView {
    enum class Sample { UInt8, UInt16, Int32 };
    const void* pixels = nullptr;
    Sample sample = Sample::UInt16;
    int width = 0;
    int height = 0;
    std::ptrdiff_t stride = 0; ///< bytes from one row to the next
    int maxValue = 0;          ///< the saturation level; samples are clamped to 0 .. maxValue

    static GreyView of(const std::uint8_t* p, int width, int height, std::ptrdiff_t stride,
                       int maxValue = 255) {
        return {p, Sample::UInt8, width, height, stride, maxValue};
    }
    static GreyView of(const std::uint16_t* p, int width, int height, std::ptrdiff_t stride,
                       int maxValue = 65535) {
        return {p, Sample::UInt16, width, height, stride, maxValue};
    }
    static GreyView of(const int* p, int width, int height, std::ptrdiff_t stride, int maxValue) {
        return {p, Sample::Int32, width, height, stride, maxValue};
    }
};

/// The grey values the analysis reads from an image, top row first, and their saturation
/// level; what analyse(DalvoImage) works on.
struct GreyImage {
    int width = 0;
    int height = 0;
    int maxValue = 0;
    std::vector<int> pixels;
    std::string conversion;
    GreyView view() const {
        return GreyView::of(pixels.data(), width, height, width * static_cast<std::ptrdiff_t>(sizeof(int)),
                            maxValue);
    }
};
KESTRO_API GreyImage greyImage(const DalvoImage& image);
/// A view of a raster's values (no copy); the raster must outlive it.
KESTRO_API GreyView greyView(const RasterImageGS16& raster);

/// The region of a gel ready for the stages: its grey values in bright-band polarity and their
/// moving-minimum background (a copy of the region, made once). Cheap to copy: copies share it.
class KESTRO_API PreparedGel {
public:
    /// Raises ArgumentError for an empty view, a region outside the image or too small for a
    /// gel (16 × 16 pixels per tier), or negative counts.
    explicit PreparedGel(const GreyView& grey, const Options& options = Options());

    int imageWidth() const;
    int imageHeight() const;
    const Region& region() const;
    int maxValue() const;
    Polarity polarity() const; ///< as used: never Auto
    bool polarityDetected() const;
    /// The grey value at a pixel of the region (image coordinates), in bright-band polarity.
    int value(int x, int y) const;
    /// The moving-minimum background at a pixel of the region.
    int background(int x, int y) const;

    struct Work;
    const Work& work() const { return *m_work; }

private:
    std::shared_ptr<const Work> m_work;
};

/// Stage: the tiers of the region (rows of wells, each with the lanes below it), top to bottom.
KESTRO_API std::vector<Tier> findTiers(const PreparedGel& gel, const Options& options = Options());
/// Tiers the caller places: the first starts at the region's top, and one more at each given
/// row (rising, 16 rows apart at least and from the region's ends); each ends where the next
/// starts. Their rows of wells are sought as findTiers seeks them.
KESTRO_API std::vector<Tier> tiersAt(const PreparedGel& gel, const std::vector<int>& startRows,
                                     const Options& options = Options());

/// Stage: the lanes of each tier, tier by tier, left to right (Lane::index counts across tiers).
KESTRO_API std::vector<Lane> findLanes(const PreparedGel& gel, const std::vector<Tier>& tiers,
                                       const Options& options = Options());
/// Stage: the tiers and, found with them, their lanes: what findTiers and then findLanes give,
/// without seeking the lanes a second time.
struct Layout {
    std::vector<Tier> tiers;
    std::vector<Lane> lanes;
};
KESTRO_API Layout findLayout(const PreparedGel& gel, const Options& options = Options());
/// Lanes where the caller puts them: straight, their band boxes a tenth of their width wider on
/// each side (to the middle of the gap to a neighbour at most), as findLanes gives them.
KESTRO_API std::vector<Lane> placeLanes(const PreparedGel& gel, const std::vector<Tier>& tiers,
                                        const std::vector<LanePlacement>& placements);

/// A lane's profile: row by row over its tier, the mean of the middle half of its columns
/// (following its path), in bright-band polarity.
struct LaneProfile {
    int top = 0; ///< the row of values[0]
    std::vector<double> values;
};
KESTRO_API LaneProfile laneProfile(const PreparedGel& gel, const Lane& lane);

/// A peak of a profile: the middle of a local maximum (plateaus count once), sub-pixel, with
/// its prominence (height above the higher of the lowest points between it and higher ground
/// on either side) and its half-widths at half prominence.
struct ProfilePeak {
    double position = 0;
    double prominence = 0;
    double halfWidthBefore = 0;
    double halfWidthAfter = 0;
};
/// The peaks of a profile with at least the given prominence, in order.
KESTRO_API std::vector<ProfilePeak> profilePeaks(const std::vector<double>& profile, double leastProminence);

/// Stage: each lane's bands (peaks and shoulders of its profile, boxes, volumes, saturation,
/// diffuse flags), replacing what the lanes held. Band thresholds are the gel's: they weigh
/// all the lanes given together.
KESTRO_API void findBands(const PreparedGel& gel, const std::vector<Tier>& tiers, std::vector<Lane>& lanes,
                          const Options& options = Options());
/// A band the caller draws: rows top .. bottom - 1 of a lane (inside its tier), its columns
/// the lane's box following its path. Volumes as findBands measures them, the background line
/// between the box's own top and bottom rows; the peak is the profile's highest row in the
/// box. Its edge width is measured; whether it is diffuse needs the gel's other bands, so it
/// is not flagged. Raises ArgumentError for rows outside the lane's tier or an empty box.
KESTRO_API Band measureBand(const PreparedGel& gel, const Lane& lane, int top, int bottom,
                            const Options& options = Options());
/// Band numbers and relative volumes of a lane, after its bands were changed.
KESTRO_API void numberBands(Lane& lane);

/// The analysis of lanes whose bands are measured already (found, drawn with measureBand, or
/// some of each): each lane's bands put top to bottom and numbered, the gel's facts, warnings,
/// and the calibration the options ask for.
KESTRO_API Analysis finishAnalysis(const PreparedGel& gel, const std::vector<Tier>& tiers,
                                   std::vector<Lane> lanes, const Options& options = Options());
/// Every stage after the lanes, on the lanes given: bands, warnings, and the calibration the
/// options ask for.
KESTRO_API Analysis analyseLanes(const PreparedGel& gel, const std::vector<Tier>& tiers,
                                 std::vector<Lane> lanes, const Options& options = Options());
/// Every stage.
KESTRO_API Analysis analyse(const GreyView& grey, const Options& options = Options());
/// Analyses a grayscale raster (8-bit or 16-bit values; saturation at its maxPixelValue).
KESTRO_API Analysis analyse(const RasterImageGS16& raster, const Options& options = Options());
/// Analyses an image of any depth FreeImage can hold as grey or colour (see the grey values
/// above). Raises ArgumentError for an empty image or a type without a grey form.
KESTRO_API Analysis analyse(const DalvoImage& image, const Options& options = Options());

/// Stage: fits sizes to a ladder lane of an analysis and gives every band its size estimate.
/// Raises ArgumentError when the lane does not exist, the sizes are not positive and falling,
/// or fewer than two ladder bands can be paired with sizes.
KESTRO_API void calibrate(Analysis& analysis, int ladderLane, const std::vector<double>& sizes,
                          SizeFit fit = SizeFit::MonotoneSpline);

/// Stage: sizes (and, given the ladder bands' masses, amounts) for every tier from its own
/// ladder lanes, which are indices into the analysis's lanes. A tier is never sized by another
/// tier's ladder: a tier without one keeps sizes of 0 (warned of). With two ladders in a tier, a
/// band's log size is interpolated between their calibrations by its lane's centre at the band's
/// row (held at the nearer ladder's beyond them), which corrects a smile. Each ladder band's
/// leave-one-out error is checked: a warning when the worst passes 10%. Masses pair with sizes
/// one to one. Raises ArgumentError for a lane that does not exist, more than two ladders in a
/// tier, sizes that are not positive and falling, masses that are not positive or not one per
/// size, or a ladder with fewer than two bands that pair with sizes.
KESTRO_API void calibrateTiers(Analysis& analysis, const std::vector<int>& ladderLanes,
                               const std::vector<double>& sizes, SizeFit fit = SizeFit::MonotoneSpline,
                               const std::vector<double>& masses = {});

/// The polarity the bands suggest for width x height grey values (rows one after another) of the
/// given saturation level: whether narrow features stand out brighter or darker than the gel just
/// above and below them. Bright bands for an image too short to tell (under five rows).
/// Raises ArgumentError for a saturation level outside 1 .. 65535 or no pixels.
KESTRO_API Polarity detectPolarity(const int* pixels, int width, int height, int maxValue);

/// "bright bands", "dark bands" or "auto".
KESTRO_API const char* polarityName(Polarity polarity);

} // namespace kestro::gel
