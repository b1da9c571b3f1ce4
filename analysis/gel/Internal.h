// What the stages of the gel analysis share and callers do not see: the prepared region, profile
// arithmetic, and the passes one stage hands the next.
#pragma once

#include "analysis/GelAnalysis.h"
#include "raster/RasterImageGS16.h"
#include "raster/detail/Parallel.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace kestro::gel {

// The region's pixels in bright-band polarity, and their background, as rasters the library's
// filters take; positions in it ("work coordinates") count from the region's corner.
struct PreparedGel::Work {
    // The rasters are made in place: assigning one copies its pixels into fresh pages, on one
    // thread.
    Work(int width, int height) : values(width, height), background(width, height) {}
    int imageWidth = 0, imageHeight = 0;
    Region region;
    int x0 = 0, y0 = 0, w = 0, h = 0;
    int maxValue = 0;
    Polarity polarity = Polarity::BrightBands;
    bool polarityDetected = false;
    double darkest = 0; ///< the scan's darkest level (its lowest percentile), in bright-band polarity
    RasterImageGS16 values;
    RasterImageGS16 background;
    const int* row(int y) const { return values.pixels + static_cast<size_t>(y) * w; }
    const int* bgRow(int y) const { return background.pixels + static_cast<size_t>(y) * w; }
};

namespace detail {

using Work = PreparedGel::Work;
using Profile = std::vector<double>;

// A comb's slots are about a sixtieth of a gel's height high: the scale of the comb search.
inline int slotHeight(int rows) {
    return std::max(4, rows / 60);
}

// Profiles.
Profile boxSmooth(const Profile& v, int r);
Profile gaussSmooth(const Profile& v, double sigma);
double noiseOf(const Profile& v);
double meanOf(const Profile& v, int a, int b);
double medianOf(Profile v);
// The value of the given rank (0 the smallest) in a long list of values of at least 0, selected
// on every thread; it may reorder the list (a long list's copy costs more than the selection).
double rankOfMany(Profile& v, size_t rank);
// The same value as medianOf, by rankOfMany.
double medianOfMany(Profile& v);
int argMin(const Profile& s, int a, int b);
// For each of a column's n values, the largest of the `reach` values before it (after it, when
// backwards); the first (last) value stands for those beyond the column's end.
inline void maxWithin(const float* c, int n, int reach, bool backwards, std::vector<float>& out,
                      std::vector<float>& scratch) {
    out.resize(static_cast<size_t>(std::max(n, 0)));
    if (n <= 0) return;
    const auto at = [&](int i) { return c[backwards ? n - 1 - i : i]; };
    const auto put = [&](int i, float v) { out[static_cast<size_t>(backwards ? n - 1 - i : i)] = v; };
    if (reach <= 0) {
        for (int i = 0; i < n; ++i)
            put(i, at(i));
        return;
    }
    // The values in blocks of `reach`, with the largest from each block's start up to every value
    // and from every value to its block's end: the `reach` values before a value meet at most two
    // blocks, so their largest is the larger of two of these, without a branch on the values.
    // Where they would start before the column's first value, they are its first values alone.
    const int k = reach;
    scratch.resize(2 * static_cast<size_t>(n));
    float* fromStart = scratch.data();
    float* toEnd = scratch.data() + n;
    for (int i = 0; i < n; ++i)
        fromStart[i] = i % k == 0 ? at(i) : std::max(fromStart[i - 1], at(i));
    for (int i = n - 1; i >= 0; --i)
        toEnd[i] = i == n - 1 || (i + 1) % k == 0 ? at(i) : std::max(toEnd[i + 1], at(i));
    put(0, at(0));
    for (int i = 1; i < n; ++i) {
        const int last = i - 1, first = last - k + 1;
        put(i, first <= 0 ? fromStart[last] : std::max(toEnd[first], fromStart[last]));
    }
}
double crossing(const Profile& s, int from, int dir, double level, int limit);

// The first and one past the last sample of a profile (a lane's rows, a tier's columns) that lie
// on the gel rather than on a frame around it, less `sharp` samples along each edge found; the
// gel's own level is the profile's `blankShare` quantile, or its level just inside an edge where
// that is lower.
std::pair<int, int> onGel(const Profile& profile, double darkest, int sharp, double blankShare);
// The scan's darkest level in the work raster (its lowest percentile); the prepared gel keeps it.
double darkestLevel(const PreparedGel::Work& wk);

// Column by column, the sum over rows y0, y0 + step, ... up to y1 of what addRow(y, sums) adds
// for row y. Threads take bands of whole rows, streaming them as one thread would, each into
// sums of its own; integer sums come out the same in any order.
template <class AddRow>
std::vector<long long> columnSums(int w, int y0, int y1, int step, const AddRow& addRow) {
    const long count = (y1 - y0) / step + 1;
    const int bands = kestro::detail::bandCount(count, static_cast<size_t>(w));
    std::vector<std::vector<long long>> partial(static_cast<size_t>(bands));
    kestro::detail::runBands(bands, [&](int band) {
        std::vector<long long>& sums = partial[static_cast<size_t>(band)];
        sums.assign(static_cast<size_t>(w), 0);
        for (long i = kestro::detail::bandBegin(count, bands, band);
             i < kestro::detail::bandBegin(count, bands, band + 1); ++i)
            addRow(y0 + static_cast<int>(i) * step, sums.data());
    });
    std::vector<long long> total = std::move(partial[0]);
    for (size_t b = 1; b < partial.size(); ++b)
        for (size_t x = 0; x < total.size(); ++x)
            total[x] += partial[b][x];
    return total;
}

// The columns of a lane's middle half, first and last, kept inside a raster w columns wide.
inline std::pair<int, int> middleHalf(const Lane& l, int w) {
    const double quarter = 0.25 * (l.right - l.left);
    const int a = std::clamp(static_cast<int>(std::lround(l.centre - quarter)), 0, w - 1);
    return {a, std::clamp(static_cast<int>(std::lround(l.centre + quarter)), a, w - 1)};
}

struct Peak {
    int pos = 0;   // the peak's sample (middle of a plateau)
    double at = 0; // sub-pixel position
    double prominence = 0;
};
std::vector<Peak> findPeaks(const Profile& s);

// Lanes (work coordinates until placed).
std::vector<Lane> tierLanes(const Work& wk, int y0, int y1, const Options& o);
// The columns of rows y0..y1 (every step-th) that lie on the gel (first, one past the last),
// less the glow along its side edges.
std::pair<int, int> gelColumns(const Work& wk, int y0, int y1, int step = 1);
// Lanes added, left to right among the found ones, under wells of the tier (rows y0..y1) that
// the column profile missed; slotTop..slotBottom are the rows of its wells' slots.
void addLanesUnderWells(const Work& wk, int y0, int y1, int slotTop, int slotBottom,
                        std::vector<Lane>& lanes);
// The columns of a comb's outer wells (work coordinates) and its pitch; none where last < first.
struct CombSpan {
    double first = 0, last = -1, pitch = 0;
    bool read() const { return last >= first; }
};
// Lanes under the wells of the tier (rows y0..y1; slotTop..slotBottom are its slots' rows) in
// place of found ones that each span several of them; whether it put them there, and then the
// comb whose wells it read.
bool lanesByWells(const Work& wk, int y0, int y1, int slotTop, int slotBottom, std::vector<Lane>& lanes,
                  CombSpan* comb = nullptr);
// Image coordinates, tier, index and band boxes for lanes of one tier found or placed in work
// coordinates, left to right; the index of the first is `first`.
void placeInTier(std::vector<Lane>& lanes, const Work& wk, const Tier& tier, int first);
std::vector<int> laneShifts(const Lane& lane);

// The greatest slope, in rows a column (5 degrees), of a line across the gel that the analysis
// allows for: a row of wells, or a front, in a turned scan or a photograph.
constexpr double kMostSlope = 0.0875;
// The work raster with each column moved up by `slope` rows a column right of `column` (down
// to its left), and each row moved left by `drift` columns a row below `row` (right above it;
// work coordinates), so that rows of wells which fall by that slope lie level and lanes which
// drift so run straight down; the raster's end rows and columns stand for those moved in from
// beyond it.
std::unique_ptr<Work> levelled(const Work& wk, double slope, double column, double drift = 0, double row = 0);
// How far the lanes drift to the right per row down (a turned scan), in columns a row: the
// drift, up to a tilt of 5 degrees, at which the column profile of the pixels is sharpest; 0
// where none sharpens it by a tenth.
double laneDrift(const Work& wk);
// A lane found or placed in a sloped tier's level rows, moved down its column by the tier's
// slope: its box (kept inside the region), the row its centre holds at, and with `path` the rows
// its path was measured between and the tier's drift added to its path.
void slopeLane(Lane& lane, const Tier& tier, const Work& wk, bool path);

// The lanes of the tiers, found where each tier's rows lie level and its lanes run straight down
// (a caller's tiers are checked first).
std::vector<Lane> lanesIn(const Work& wk, const std::vector<Tier>& tiers, const Options& options);

// Tiers: each with the lanes found while finding it.
struct TierLanes {
    Tier tier;
    std::vector<Lane> lanes;
    CombSpan comb; // where its lanes were put under its wells
};
// Samples are loaded into wells, and the combs of one gel span its width alike. Where one tier's
// lanes were put under its row of wells and another tier's wells could not be read, a lane of the
// other more than a pitch beyond the outer wells seen lies off the gel: on a tray's wall, or the
// frame beside it.
inline void keepUnderCombs(std::vector<TierLanes>& tiers) {
    for (TierLanes& t : tiers)
        for (const TierLanes& u : tiers) {
            const CombSpan& c = u.comb;
            if (t.comb.read() || !c.read()) continue;
            t.lanes.erase(std::remove_if(t.lanes.begin(), t.lanes.end(),
                                         [&](const Lane& l) {
                                             return l.centre < c.first - c.pitch ||
                                                    l.centre > c.last + c.pitch;
                                         }),
                          t.lanes.end());
        }
}

std::vector<TierLanes> layout(const Work& wk, const Options& o);

// Row sums over the columns a..b (work coordinates, included) of rows y0..y1 of the work raster,
// each row's columns moved by shift[row - y0] (no shift when empty) and kept inside the raster.
void rowSums(const Work& wk, int a, int b, int y0, int y1, const std::vector<int>& shift, Profile& values,
             Profile* background, std::vector<int>& saturated);
// The same sums for many spans, read in one pass down the rows: each row is read once for every
// span that crosses it, where span by span the rows would be read column strip by strip.
struct SpanSums {
    int a = 0, b = 0, y0 = 0, y1 = -1;
    const std::vector<int>* shift = nullptr; // none when null or empty
    Profile values;
    std::vector<int> saturated;
};
void rowSums(const Work& wk, std::vector<SpanSums>& spans);
// The columns of a lane's middle half that its profile averages (work coordinates, included);
// throws ArgumentError where the lane does not lie inside the region.
std::pair<int, int> profileColumns(const Work& wk, const Lane& l);

// The row sums over a lane's band box, for its bands' volumes.
struct LaneSums {
    Profile sums, background; // background only with the moving-minimum background
    std::vector<int> saturated;
    std::vector<int> shift; // the lane's path, whole columns per row
};
LaneSums laneSums(const Lane& lane, const Work& wk, const Options& o);

// Volumes of the band whose box holds rows top..bottom of the lane's sums (relative to the
// lane's top, included), its background line drawn from the mean sums around lineTop to those
// around lineBottom; also its spans and saturated pixels.
void measureVolumes(Band& b, const Lane& lane, const Work& wk, const LaneSums& rows, int top, int bottom,
                    int lineTop, int lineBottom, const Options& o);
double edgeWidthOf(const Lane& lane, const Band& band, const Work& wk);
// A speck of dust rather than a band: a few of the lane's columns carry it, and it is about round.
bool isSpeck(const Lane& lane, const Band& band, const Work& wk);

// Ladder bands paired with sizes, as (band, size) index pairs; searched is false when they were
// paired from the top.
std::vector<std::pair<size_t, size_t>> pairLadder(const std::vector<double>& positions,
                                                  const std::vector<double>& sizes, bool& searched);
// Where a ladder lane's missing sizes lie (distances from its top, rising): the sizes its
// pairing left out between two paired bands, placed by the monotone calibration of those bands.
std::vector<double> missingLadderRows(const std::vector<double>& distances, const std::vector<double>& sizes);

// Warnings of an analysis, sorted by text, each once.
void addWarning(Analysis& a, const char* code, std::string text);

} // namespace detail
} // namespace kestro::gel
