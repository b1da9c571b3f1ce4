#include "analysis/gel/Internal.h"

#include "raster/detail/Parallel.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <utility>

namespace kestro::gel {

using namespace detail;

namespace {

// A band in a lane profile: a peak of its own, or a shoulder on the flank of a brighter one.
struct BandPeak {
    Peak peak;
    double hwL = 0, hwR = 0; // half-widths at half prominence, rows
    bool shoulder = false;
    bool fromLadder = false;
    bool seen = false; // sought on a peak of the profile too weak to pass as a band alone
};

// What the search for a lane's bands keeps for the second pass, which adds the shoulders once
// the gel's band width is known, and for the boxes.
// A peak whose rows rise between the lanes by this share of their rise in the lane runs across
// the gel.
constexpr double kAcrossShare = 0.85;
// A band that ran onto the gel's far edge rises above it by its own height: a peak there rising
// no more than this many times as far as the edge does in the tier's lanes is the edge's glow.
constexpr double kEdgeBandRise = 2.0;
// Gel beside a lane that reads under half the usual light is more likely the tray or the frame
// than a dim corner: such a lane keeps the gel's bar.
constexpr double kLeastLightShare = 0.5;

struct LaneSearch {
    Profile s;   // the profile, lightly smoothed
    Profile rim; // lane minus the gel beside it, smoothed; empty without neighbours
    double rimUsual = 0, rimNoise = 0;
    double least = 0;            // least prominence of a band
    double typical = 0;          // the lane's median
    double noise = 0;            // of the unsmoothed profile
    double noiseLeast = 0;       // the least prominence the noise allows
    std::vector<BandPeak> bands; // by position
    Profile curvature;           // second difference at the band scale, once shoulders were sought
    Profile between;             // the gel between the lanes, smoothed; empty without neighbours
};

// A line straight across the gel (a dye front, the gel's or a tray's edge, a stacking-gel
// boundary) rises between the lanes as well as in them; a band stays inside its lane. Both
// rises are read alike, above the higher of the lows within three half-widths either side; the
// lane's is the band's height where that is more (a valley beyond a neighbour, a shoulder's bend).
bool acrossGel(const LaneSearch& ls, int pos, double hwL, double hwR, double height) {
    if (ls.between.empty()) return false;
    const int n = static_cast<int>(ls.between.size());
    const int a = std::max(0, static_cast<int>(std::floor(pos - 3 * std::max(hwL, 1.0))));
    const int b = std::min(n - 1, static_cast<int>(std::ceil(pos + 3 * std::max(hwR, 1.0))));
    const auto rise = [&](const Profile& g) {
        return g[static_cast<size_t>(pos)] - std::max(*std::min_element(g.begin() + a, g.begin() + pos + 1),
                                                      *std::min_element(g.begin() + pos, g.begin() + b + 1));
    };
    return rise(ls.between) >= kAcrossShare * std::max(height, rise(ls.s));
}

// The rims of a well stand beside its slot, which is darker than the gel between the lanes at
// the same rows; no band's valley falls below that. The lane's usual offset from the gaps where
// it is blank (a lane may run a little darker or brighter than the gel beside it) is allowed
// for, and the noise, and a tenth of the band's prominence.
bool isWellRim(const LaneSearch& ls, int pos, double hwL, double hwR, double prominence) {
    if (ls.rim.empty()) return false;
    const int n = static_cast<int>(ls.rim.size());
    const int a = std::max(0, static_cast<int>(pos - 3 * std::max(hwL, 1.0)));
    const int b = std::min(n - 1, static_cast<int>(pos + 3 * std::max(hwR, 1.0)));
    return *std::min_element(ls.rim.begin() + a, ls.rim.begin() + b + 1) <
           std::min(ls.rimUsual, 0.0) - std::max(ls.rimNoise, 0.1 * prominence);
}

// The peaks of one lane's profile that are bands (rows relative to the lane's top), with their
// half-widths between the neighbouring peaks.
LaneSearch findPeakBands(const Profile& profile, const Profile& gap, const Profile& between, double range,
                         const Options& o) {
    LaneSearch ls;
    const int n = static_cast<int>(profile.size());
    const int radius = std::max(1, n / 600);
    ls.s = boxSmooth(profile, radius);
    const Profile& s = ls.s;
    ls.noise = noiseOf(profile);
    ls.noiseLeast = 5.0 * ls.noise / std::sqrt(2.0 * radius + 1);
    ls.least = std::max(ls.noiseLeast, o.minProminence * range);
    // A band stands out of its valleys and also above the lane's typical level (its median):
    // the bright rim of a dark well has prominence but no height.
    Profile sorted(s);
    std::nth_element(sorted.begin(), sorted.begin() + n / 2, sorted.end());
    ls.typical = sorted[static_cast<size_t>(n / 2)];
    std::vector<Peak> peaks;
    for (const Peak& p : findPeaks(s))
        if (p.prominence >= ls.least && p.prominence > 0 && s[p.pos] - ls.typical >= ls.least)
            peaks.push_back(p);
    if (!gap.empty()) {
        Profile diff(static_cast<size_t>(n));
        for (int i = 0; i < n; ++i)
            diff[static_cast<size_t>(i)] = profile[static_cast<size_t>(i)] - gap[static_cast<size_t>(i)];
        ls.rim = boxSmooth(diff, radius);
        // The lane's usual offset from the gaps where it is blank: its dimmest quarter of rows
        // (a ladder's valleys lie at the gel's level, far below its usual offset).
        Profile dim(s);
        std::nth_element(dim.begin(), dim.begin() + n / 4, dim.end());
        const double blank = dim[static_cast<size_t>(n / 4)];
        Profile order;
        for (int i = 0; i < n; ++i)
            if (s[static_cast<size_t>(i)] <= blank) order.push_back(ls.rim[static_cast<size_t>(i)]);
        ls.rimUsual = medianOf(order);
        ls.rimNoise = 5.0 * noiseOf(diff) / std::sqrt(2.0 * radius + 1);
    }
    if (!between.empty()) ls.between = boxSmooth(between, radius);
    // Neither the rim of a well nor a line across the gel is a band; both tests look past the
    // neighbouring peaks, as far as three half-widths reach.
    peaks.erase(std::remove_if(peaks.begin(), peaks.end(),
                               [&](const Peak& p) {
                                   const double half = s[p.pos] - 0.5 * p.prominence;
                                   const double hwL = p.pos - crossing(s, p.pos, -1, half, 0);
                                   const double hwR = crossing(s, p.pos, +1, half, n - 1) - p.pos;
                                   return isWellRim(ls, p.pos, hwL, hwR, p.prominence) ||
                                          acrossGel(ls, p.pos, hwL, hwR, p.prominence);
                               }),
                peaks.end());
    for (size_t k = 0; k < peaks.size(); ++k) {
        const int p = peaks[k].pos;
        const int lo = k > 0 ? peaks[k - 1].pos : 0;
        const int hi = k + 1 < peaks.size() ? peaks[k + 1].pos : n - 1;
        // Half height above the higher of the valleys to its neighbours: the tallest band of a
        // dense ladder stands far above the lane's ends, but only this high above its valleys.
        const double valley = std::max(*std::min_element(s.begin() + lo, s.begin() + p + 1),
                                       *std::min_element(s.begin() + p, s.begin() + hi + 1));
        const double half = s[p] - 0.5 * std::min(peaks[k].prominence, s[p] - valley);
        BandPeak b;
        b.peak = peaks[k];
        b.hwL = p - crossing(s, p, -1, half, lo);
        b.hwR = crossing(s, p, +1, half, hi) - p;
        ls.bands.push_back(b);
    }
    return ls;
}

// Faint bands on the flank of a bright one make no peak of their own, only a shoulder, but a
// band still bends the profile down around its middle: minima of the second difference of the
// profile smoothed at half the band scale (sigma, the standard deviation of the gel's usual
// band) away from every peak are shoulder bands when that bend is strong enough. A Gaussian band
// of height A and standard deviation sigma, smoothed by a Gaussian of sigma / 2, has a
// second difference of -A sigma / sigma'^3 at its middle (sigma'^2 = 1.25 sigma^2), so the bend
// gives a height estimate that must pass the same least prominence as a peak; the flank of the
// brighter band bends the other way and only lowers it. The bend must also stand five times
// above the noise of the second difference: the larger of white noise's through the same
// filter and the spread of the lane's own second difference away from its peaks (median
// absolute value over 0.6745), which holds what JPEG blocks and uneven staining do at the band
// scale.
void addShoulders(LaneSearch& ls, const Profile& profile, double sigma) {
    const int n = static_cast<int>(profile.size());
    if (!(sigma > 0.5) || n < 8) return;
    const double ss = 0.5 * sigma, sp = std::sqrt(sigma * sigma + ss * ss);
    const Profile g = gaussSmooth(profile, ss);
    Profile& c = ls.curvature;
    c.assign(static_cast<size_t>(n), 0.0);
    for (int i = 1; i + 1 < n; ++i)
        c[static_cast<size_t>(i)] =
            g[static_cast<size_t>(i - 1)] - 2 * g[static_cast<size_t>(i)] + g[static_cast<size_t>(i + 1)];
    // White noise through the filter: the norm of the filter's response to one sample.
    Profile impulse(static_cast<size_t>(2 * static_cast<int>(std::ceil(3 * ss)) + 7), 0.0);
    const int mid = static_cast<int>(impulse.size()) / 2;
    impulse[static_cast<size_t>(mid)] = 1;
    const Profile gi = gaussSmooth(impulse, ss);
    double norm = 0;
    for (size_t i = 1; i + 1 < gi.size(); ++i)
        norm += std::pow(gi[i - 1] - 2 * gi[i] + gi[i + 1], 2);
    // The lane's own second difference away from its peaks (two sigma beyond their
    // half-prominence spans, as below).
    Profile spread;
    for (int i = 1; i + 1 < n; ++i) {
        bool clear = true;
        for (const BandPeak& b : ls.bands)
            clear = clear && (i < b.peak.at - b.hwL - 2 * sigma || i > b.peak.at + b.hwR + 2 * sigma);
        if (clear) spread.push_back(std::fabs(c[static_cast<size_t>(i)]));
    }
    double noise = ls.noise * std::sqrt(norm);
    if (spread.size() >= 16) {
        std::nth_element(spread.begin(), spread.begin() + spread.size() / 2, spread.end());
        noise = std::max(noise, spread[spread.size() / 2] / 0.6745);
    }
    const double gain = sp * sp * sp / sigma;
    const double reach = 1.5 * sigma;

    std::vector<BandPeak> found;
    for (int i = 2; i + 2 < n; ++i) {
        const double ci = c[static_cast<size_t>(i)];
        if (!(ci < c[static_cast<size_t>(i - 1)] && ci <= c[static_cast<size_t>(i + 1)]) || -ci < 5 * noise)
            continue;
        const double height = -ci * gain;
        if (height < ls.least || ls.s[static_cast<size_t>(i)] - ls.typical < ls.least) continue;
        // Away from the peaks: two sigma beyond their half-prominence span, where the corners
        // of a flat top no longer bend the profile.
        bool clear = true;
        for (const BandPeak& b : ls.bands)
            clear = clear && (i < b.peak.at - b.hwL - 2 * sigma || i > b.peak.at + b.hwR + 2 * sigma);
        if (!clear) continue;
        // Its width: where the bend changes sign lies sigma' from a Gaussian band's middle.
        int za = i, zb = i;
        while (za > 1 && c[static_cast<size_t>(za - 1)] < 0)
            --za;
        while (zb + 2 < n && c[static_cast<size_t>(zb + 1)] < 0)
            ++zb;
        const double spanSigma = std::clamp(0.5 * (zb - za + 1), 0.5 * sp, 2 * sp);
        const double own = std::sqrt(std::max(spanSigma * spanSigma - ss * ss, 0.25 * sigma * sigma));
        BandPeak b;
        b.shoulder = true;
        b.peak.pos = i;
        const double ca = c[static_cast<size_t>(i - 1)], cc = c[static_cast<size_t>(i + 1)];
        const double den = ca - 2 * ci + cc;
        b.peak.at = i + (den > 0 ? std::clamp(0.5 * (ca - cc) / den, -0.5, 0.5) : 0.0);
        b.peak.prominence = height;
        b.hwL = b.hwR = 1.1774 * own; // half the width at half height of a Gaussian
        if (!isWellRim(ls, i, b.hwL, b.hwR, height) && !acrossGel(ls, i, b.hwL, b.hwR, height))
            found.push_back(b);
    }
    // Of shoulders closer than 1.5 sigma, the stronger one.
    std::sort(found.begin(), found.end(),
              [](const BandPeak& a, const BandPeak& b) { return a.peak.prominence > b.peak.prominence; });
    std::vector<BandPeak> kept;
    for (const BandPeak& b : found) {
        bool clear = true;
        for (const BandPeak& k : kept)
            clear = clear && std::fabs(b.peak.at - k.peak.at) >= reach;
        if (clear) kept.push_back(b);
    }
    ls.bands.insert(ls.bands.end(), kept.begin(), kept.end());
    std::sort(ls.bands.begin(), ls.bands.end(),
              [](const BandPeak& a, const BandPeak& b) { return a.peak.at < b.peak.at; });
}

// Boxes and volumes of one lane's bands. Two peaks part at the lowest row between them; a
// shoulder parts from its neighbours where the profile bends up most (the largest second
// difference between them), as a valley would. Each row belongs to one band's box at most.
void measureBands(Lane& lane, const Work& wk, const LaneSearch& ls, const LaneSums& rows, const Options& o) {
    const Profile& s = ls.s;
    const int n = static_cast<int>(s.size());

    const std::vector<BandPeak>& bands = ls.bands;
    const size_t count = bands.size();
    std::vector<int> cuts;    // cuts[k]: the last row of band k's share, before band k + 1
    std::vector<bool> joined; // joined[k]: bands k and k + 1 part without a valley
    for (size_t k = 0; k + 1 < count; ++k) {
        const int a = bands[k].peak.pos, b = bands[k + 1].peak.pos;
        int cut = argMin(s, a, b);
        const bool shoulder =
            (bands[k].shoulder || bands[k + 1].shoulder) && b - a >= 2 && !ls.curvature.empty();
        if (shoulder) {
            cut = a + 1;
            for (int i = a + 1; i < b; ++i)
                if (ls.curvature[static_cast<size_t>(i)] > ls.curvature[static_cast<size_t>(cut)]) cut = i;
        }
        cuts.push_back(cut);
        joined.push_back(shoulder);
    }
    std::vector<int> tops(count), bottoms(count);
    for (size_t k = 0; k < count; ++k) {
        const int p = bands[k].peak.pos;
        // 3.1 half-widths reach 3.65 sigma of a Gaussian band: what a straight baseline under
        // its tails leaves out is below half a percent.
        const int top = std::max(static_cast<int>(std::floor(p - 3.1 * std::max(bands[k].hwL, 0.5))),
                                 k > 0 ? cuts[k - 1] + 1 : argMin(s, 0, p));
        const int bottom = std::min(static_cast<int>(std::ceil(p + 3.1 * std::max(bands[k].hwR, 0.5))),
                                    k + 1 < count ? cuts[k] : argMin(s, p, n - 1));
        tops[k] = std::min(top, p);
        bottoms[k] = std::max(bottom, p);
    }
    for (size_t k = 0; k < count; ++k) {
        const BandPeak& bp = bands[k];
        Band b;
        b.peakY = lane.box.top + bp.peak.at;
        b.x = lane.centreAt(b.peakY);
        b.prominence = bp.peak.prominence;
        b.width = bp.hwL + bp.hwR;
        b.shoulder = bp.shoulder;
        b.fromLadder = bp.fromLadder;
        // The line between the mean row sums around the top and the bottom row; bands that part
        // without a valley (a shoulder and its neighbours) share one line from the top of the
        // first to the bottom of the last, and each takes what lies above it in its own rows, as
        // a drop line parts overlapping peaks.
        size_t first = k, last = k;
        while (first > 0 && joined[first - 1])
            --first;
        while (last + 1 < count && joined[last])
            ++last;
        measureVolumes(b, lane, wk, rows, tops[k], bottoms[k], tops[first], bottoms[last], o);
        lane.bands.push_back(b);
    }
}

// Measures a lane's bands, leaving out shoulders that hold less than `least`, and shoulders
// beside a saturated peak: its top is clipped flat and its glow spreads, bending its flanks
// where no band lies. The search's bands then change, as do the boxes of their neighbours.
void measureKept(Lane& l, LaneSearch& ls, const Work& wk, const LaneSums& sums, double least,
                 const Options& o) {
    for (;;) {
        l.bands.clear();
        measureBands(l, wk, ls, sums, o);
        std::vector<BandPeak> kept;
        const size_t n = ls.bands.size();
        for (size_t i = 0; i < n; ++i) {
            // On the flank of a saturated peak: the profile climbs from the shoulder to it, with no
            // valley between that a band could stand out of.
            const auto onSaturatedFlank = [&](size_t k) {
                const int a = ls.bands[i].peak.pos, b = ls.bands[k].peak.pos;
                return !ls.bands[k].shoulder && l.bands[k].saturated &&
                       *std::min_element(ls.s.begin() + std::min(a, b), ls.s.begin() + std::max(a, b) + 1) >=
                           ls.s[static_cast<size_t>(a)] - ls.least;
            };
            const bool glow = !ls.bands[i].fromLadder &&
                              ((i > 0 && onSaturatedFlank(i - 1)) || (i + 1 < n && onSaturatedFlank(i + 1)));
            if (!ls.bands[i].shoulder || (!glow && (l.bands[i].correctedVolume >= least ||
                                                    (ls.bands[i].seen && l.bands[i].correctedVolume > 0))))
                kept.push_back(ls.bands[i]);
        }
        if (kept.size() == ls.bands.size()) break;
        ls.bands = std::move(kept);
    }
}

// A dense ladder hides faint bands in the flanks of bright ones, where they make neither a peak
// nor a bend the search can tell from noise; the user's list of sizes says they are there. Each
// size the pairing left out between two paired bands is sought where their calibration puts it,
// as a shoulder: it parts from its neighbours where the profile bends up most and shares their
// baseline. A band found within 1.5 sigma of that row is taken to be it. Where the profile has
// a peak of its own within that reach, too weak to pass as a band alone, the sizes confirm it:
// the band is put on that peak and kept if it holds anything above its baseline; elsewhere it
// must hold what a found shoulder holds.
void completeLadder(Lane& l, LaneSearch& ls, const Work& wk, double sigma, double least, const Options& o) {
    if (!(sigma > 0.5) || l.bands.size() < 3) return;
    // The search's bands that the later tests dropped (above the wells, too wide) stay dropped.
    std::vector<BandPeak> kept;
    for (const BandPeak& bp : ls.bands)
        for (const Band& b : l.bands)
            if (b.peakY == l.box.top + bp.peak.at) kept.push_back(bp);
    std::vector<double> distances;
    for (const Band& b : l.bands)
        distances.push_back(b.peakY - l.box.top);
    const int n = static_cast<int>(ls.s.size());
    const std::vector<Peak> peaks = findPeaks(ls.s);
    bool added = false;
    for (double at : missingLadderRows(distances, o.ladderSizes)) {
        bool clear = at >= 1 && at <= n - 2;
        for (const BandPeak& bp : kept)
            clear = clear && std::fabs(bp.peak.at - at) >= 1.5 * sigma;
        if (!clear) continue;
        BandPeak b;
        b.shoulder = b.fromLadder = true;
        b.peak.pos = static_cast<int>(std::lround(at));
        b.peak.at = at;
        // A peak counts when it stands out of the noise and above the lane's usual level, as a
        // found band must, though not by a band's least prominence.
        for (const Peak& p : peaks) {
            bool fits = std::fabs(p.at - at) <= 1.5 * sigma && p.prominence >= ls.noiseLeast &&
                        ls.s[static_cast<size_t>(p.pos)] - ls.typical >= ls.least;
            for (const BandPeak& bp : kept)
                fits = fits && std::fabs(bp.peak.at - p.at) >= sigma; // not a found band's own top
            if (fits && (!b.seen || p.prominence > b.peak.prominence)) {
                b.seen = true;
                b.peak = p;
            }
        }
        if (!b.seen) {
            if (ls.s[static_cast<size_t>(b.peak.pos)] - ls.typical < ls.least) continue;
            b.peak.prominence = ls.s[static_cast<size_t>(b.peak.pos)] - ls.typical;
        }
        b.hwL = b.hwR = 1.1774 * sigma;
        kept.push_back(b);
        added = true;
    }
    if (!added) return;
    std::sort(kept.begin(), kept.end(),
              [](const BandPeak& a, const BandPeak& b) { return a.peak.at < b.peak.at; });
    ls.bands = std::move(kept);
    measureKept(l, ls, wk, laneSums(l, wk, o), least, o);
}

// A line across the gel need not lie along its rows: a photograph slants it, and a cut edge is
// jagged, so the gaps beside a lane miss it at the band's own row. The line is followed instead
// from strip to strip across the tier, lane, gap, lane, each searched for the highest row within
// reach of the last: a band's half-width from the band itself (the line runs through it), twice
// that further on as the line wanders, and the rows a comb's greatest slope adds over the step.
// A line rises in every strip: in each lane by at least the lane's least prominence, and in each
// gap nearly as far as in the lanes either side (beside the band, as far as the band). A band's
// glow spills only into the gaps beside it, and one product loaded in every lane rises little in
// any gap, so neither makes such a chain. Tiers of fewer than three lanes are left to the test
// of the gaps beside each band.
// The lowest such line through all of a tier's lanes, when it lies in the far half of the rows
// its bands can hold, is the gel's far edge or a front that nothing outran: the tray's lines
// and rims beyond it are no bands either. Nearer the wells lie the stacking gel's boundary and
// the comb's own rims, with the bands below them. Product run off into that edge makes it glow
// in some lanes more than in the gaps, and the chain through them breaks: a peak on the edge's
// row is compared with the edge's median rise in the tier's lanes instead.
void dropLinesAcross(std::vector<Lane>& lanes, const std::vector<LaneSearch>& searches,
                     const std::vector<Profile>& rightGaps, const std::vector<Tier>& tiers) {
    // The highest row of a strip's profile (its first row `top`) within `reach` of `row`, put in
    // `at`, and its rise above the higher of the lows within three half-widths either side; none
    // where the highest lies at the reach's end, on a slope rather than a ridge.
    const auto ridge = [](const Profile& p, int top, double row, double reach, double hw, double& at) {
        const int n = static_cast<int>(p.size());
        const int a = std::max(0, static_cast<int>(std::floor(row - reach)) - top);
        const int b = std::min(n - 1, static_cast<int>(std::ceil(row + reach)) - top);
        if (b - a < 2) return 0.0;
        const int i = static_cast<int>(std::max_element(p.begin() + a, p.begin() + b + 1) - p.begin());
        if ((i == a && a > 0) || (i == b && b < n - 1)) return 0.0;
        const int lo = std::max(0, static_cast<int>(std::floor(i - 3 * hw)));
        const int hi = std::min(n - 1, static_cast<int>(std::ceil(i + 3 * hw)));
        at = top + i;
        return p[static_cast<size_t>(i)] - std::max(*std::min_element(p.begin() + lo, p.begin() + i + 1),
                                                    *std::min_element(p.begin() + i, p.begin() + hi + 1));
    };
    // The row a line followed last met in each lane, and its rise there.
    std::vector<double> path(lanes.size()), pathRise(lanes.size());
    const auto onLine = [&](size_t k, size_t first, size_t last, const Band& band) {
        const double hw = std::max(1.0, 0.5 * band.width);
        path[k] = band.peakY;
        for (int dir = -1; dir <= 1; dir += 2) {
            double row = band.peakY, x = lanes[k].centre, at = row;
            // A shoulder makes no ridge of its own: its gaps must then rise as far as it does.
            double laneRise = ridge(searches[k].s, lanes[k].box.top, row, hw, hw, at);
            if (!(laneRise > 0)) laneRise = band.prominence;
            pathRise[k] = laneRise;
            for (size_t j = k; dir < 0 ? j > first : j < last; j = dir < 0 ? j - 1 : j + 1) {
                const size_t left = dir < 0 ? j - 1 : j, next = dir < 0 ? j - 1 : j + 1;
                const Lane &gl = lanes[left], &nl = lanes[next];
                const double gx = 0.5 * (gl.box.right + lanes[left + 1].box.left);
                const double gapRise = ridge(rightGaps[left], gl.box.top, row,
                                             (j == k ? hw : 2 * hw) + kMostSlope * std::fabs(gx - x), hw, at);
                row = at;
                const double nextRise = ridge(searches[next].s, nl.box.top, row,
                                              2 * hw + kMostSlope * std::fabs(nl.centre - gx), hw, at);
                row = at;
                if (nextRise < searches[next].least ||
                    gapRise < kAcrossShare * (j == k ? laneRise : std::min(laneRise, nextRise)))
                    return false;
                laneRise = nextRise;
                x = nl.centre;
                path[next] = row;
                pathRise[next] = nextRise;
            }
        }
        return true;
    };
    std::vector<std::vector<char>> across(lanes.size());
    // Per tier, the mean row of its lowest line through all its lanes, and that line's row and
    // rise in each.
    std::vector<double> edgeMean(tiers.size(), -1.0), edge(lanes.size(), -1.0), edgeRise(lanes.size());
    for (size_t k = 0; k < lanes.size(); ++k) {
        across[k].assign(lanes[k].bands.size(), 0);
        // The tier's lanes, each but the last with the gap to its right.
        size_t first = k, last = k;
        while (first > 0 && lanes[first - 1].tier == lanes[k].tier && !rightGaps[first - 1].empty())
            --first;
        while (last + 1 < lanes.size() && lanes[last + 1].tier == lanes[k].tier && !rightGaps[last].empty())
            ++last;
        if (last - first < 2) continue;
        const bool whole = (first == 0 || lanes[first - 1].tier != lanes[k].tier) &&
                           (last + 1 == lanes.size() || lanes[last + 1].tier != lanes[k].tier);
        const size_t t = static_cast<size_t>(lanes[k].tier);
        for (size_t i = 0; i < lanes[k].bands.size(); ++i) {
            across[k][i] = onLine(k, first, last, lanes[k].bands[i]);
            if (!across[k][i] || !whole) continue;
            double mean = 0, middle = 0;
            for (size_t j = first; j <= last; ++j) {
                mean += path[j];
                middle +=
                    0.5 * (tiers[t].rowAt(tiers[t].firstBandRow, lanes[j].centre) + lanes[j].box.bottom);
            }
            if (mean > middle && mean > edgeMean[t] * static_cast<double>(last - first + 1)) {
                edgeMean[t] = mean / static_cast<double>(last - first + 1);
                std::copy(path.begin() + static_cast<std::ptrdiff_t>(first),
                          path.begin() + static_cast<std::ptrdiff_t>(last) + 1,
                          edge.begin() + static_cast<std::ptrdiff_t>(first));
                std::copy(pathRise.begin() + static_cast<std::ptrdiff_t>(first),
                          pathRise.begin() + static_cast<std::ptrdiff_t>(last) + 1,
                          edgeRise.begin() + static_cast<std::ptrdiff_t>(first));
            }
        }
    }
    std::vector<double> usualRise(tiers.size());
    for (size_t t = 0; t < tiers.size(); ++t) {
        Profile rises;
        for (size_t k = 0; k < lanes.size(); ++k)
            if (lanes[k].tier == static_cast<int>(t) && edge[k] >= 0) rises.push_back(edgeRise[k]);
        if (!rises.empty()) usualRise[t] = medianOf(rises);
    }
    for (size_t k = 0; k < lanes.size(); ++k) {
        if (edge[k] < 0) continue;
        const double most = kEdgeBandRise * usualRise[static_cast<size_t>(lanes[k].tier)];
        for (size_t i = 0; i < lanes[k].bands.size(); ++i) {
            const Band& b = lanes[k].bands[i];
            const double hw = std::max(1.0, 0.5 * b.width);
            if (b.peakY > edge[k] + hw || (b.peakY >= edge[k] - hw && b.prominence <= most)) across[k][i] = 1;
        }
    }
    // Judged all before any goes: a band's line is followed through the other lanes' bands.
    for (size_t k = 0; k < lanes.size(); ++k) {
        size_t i = 0;
        lanes[k].bands.erase(std::remove_if(lanes[k].bands.begin(), lanes[k].bands.end(),
                                            [&](const Band&) { return across[k][i++] != 0; }),
                             lanes[k].bands.end());
    }
}

} // namespace

void findBands(const PreparedGel& gel, const std::vector<Tier>& tiers, std::vector<Lane>& lanes,
               const Options& o) {
    const Work& wk = gel.work();
    for (const Lane& l : lanes)
        if (l.tier < 0 || l.tier >= static_cast<int>(tiers.size()))
            throw ArgumentError("lane " + std::to_string(l.index + 1) + " lies in tier " +
                                std::to_string(static_cast<long long>(l.tier) + 1) + " of " +
                                std::to_string(tiers.size()));
    // Each lane is searched and measured on a thread of its own, between the steps that need every
    // lane's figures (the gel's range, its usual band width); those are gathered in lane order, so
    // the result does not depend on the threads.
    const int count = static_cast<int>(lanes.size());
    // The lanes' profiles (the mean of each middle half) and the gel between each lane's box and
    // its neighbours' in the same tier, row by row along the lane's path (none at the tier's
    // ends), all summed in one pass down the rows.
    std::vector<std::vector<int>> shifts(lanes.size());
    std::vector<SpanSums> spans(3 * lanes.size());
    for (size_t k = 0; k < lanes.size(); ++k) {
        const Lane& l = lanes[k];
        const auto [c0, c1] = profileColumns(wk, l);
        shifts[k] = laneShifts(l);
        for (int side = 0; side < 3; ++side) {
            SpanSums& sp = spans[3 * k + static_cast<size_t>(side)];
            if (side == 0) {
                sp = SpanSums{c0, c1, l.box.top - wk.y0, l.box.bottom - 1 - wk.y0, &shifts[k], {}, {}};
                continue;
            }
            const int dir = side == 1 ? -1 : 1;
            const size_t m = dir < 0 ? k - 1 : k + 1;
            if ((dir < 0 && k == 0) || m >= lanes.size() || lanes[m].tier != l.tier) continue;
            const int g0 = (dir < 0 ? lanes[m].box.right : l.box.right) - wk.x0;
            const int g1 = (dir < 0 ? l.box.left - 1 : lanes[m].box.left - 1) - wk.x0;
            if (g1 >= g0)
                sp = SpanSums{g0, g1, l.box.top - wk.y0, l.box.bottom - 1 - wk.y0, &shifts[k], {}, {}};
        }
    }
    rowSums(wk, spans);
    std::vector<Profile> profiles(lanes.size());
    for (size_t k = 0; k < lanes.size(); ++k) {
        SpanSums& sp = spans[3 * k];
        for (double& v : sp.values)
            v /= sp.b - sp.a + 1;
        profiles[k] = std::move(sp.values);
    }
    double lowest = 0, highest = 0;
    for (size_t k = 0; k < profiles.size(); ++k) {
        const auto [mn, mx] = std::minmax_element(profiles[k].begin(), profiles[k].end());
        if (k == 0 || *mn < lowest) lowest = *mn;
        if (k == 0 || *mx > highest) highest = *mx;
    }
    std::vector<double> widths;
    std::vector<LaneSearch> searches(lanes.size());
    std::vector<Profile> betweens(lanes.size());
    std::vector<double> light(lanes.size(), -1.0);
    std::vector<Profile> rightGaps(lanes.size());
    kestro::detail::runBands(count, [&](int lane) {
        const size_t k = static_cast<size_t>(lane);
        // Between the lanes: the darker of the two gaps (a bright band's glow spills into one).
        Profile between;
        int sides = 0;
        for (size_t side = 1; side < 3; ++side) {
            SpanSums& sp = spans[3 * k + side];
            if (sp.values.empty()) continue;
            for (double& v : sp.values)
                v /= sp.b - sp.a + 1;
            if (side == 2)
                rightGaps[k] = boxSmooth(sp.values, std::max(1, static_cast<int>(sp.values.size()) / 600));
            if (sides++ == 0)
                between = std::move(sp.values);
            else
                for (size_t i = 0; i < between.size(); ++i)
                    between[i] = std::min(between[i], sp.values[i]);
        }
        // The light the lane lies in, read from the gel beside it above the scan's black (in
        // dark-band polarity the black is the saturation level): a band's rise scales with it.
        if (sides > 0) {
            const double level = medianOf(between);
            light[k] = std::max(0.0, wk.polarity == Polarity::BrightBands ? level - wk.darkest
                                                                          : wk.maxValue - level);
        }
        if (sides < 2) between.clear();
        betweens[k] = std::move(between);
    });
    spans.clear();
    // A band in a lane lit at three quarters of the usual light rises three quarters as far, so
    // the least prominence follows each lane's light against the median lane's: the scan's range
    // is set by its brightest lanes. Lanes lit more keep the gel's bar.
    std::vector<double> lit;
    for (double v : light)
        if (v > 0) lit.push_back(v);
    const double usualLight = lit.empty() ? 0.0 : medianOf(lit);
    kestro::detail::runBands(count, [&](int lane) {
        const size_t k = static_cast<size_t>(lane);
        const double share = usualLight > 0 && light[k] >= kLeastLightShare * usualLight
                                 ? std::min(light[k] / usualLight, 1.0)
                                 : 1.0;
        searches[k] = findPeakBands(profiles[k], betweens[k], betweens[k], share * (highest - lowest), o);
    });
    betweens.clear();
    for (const LaneSearch& ls : searches)
        for (const BandPeak& b : ls.bands)
            widths.push_back(b.hwL + b.hwR);
    // Shoulders are sought at the scale of the gel's usual band: the median width at half
    // prominence of its peaks, 2.355 standard deviations of a Gaussian band.
    const double sigma = widths.size() >= 3 ? medianOf(widths) / 2.355 : 0.0;
    widths.clear();
    // Each band's width as its steeper side gives it (peak row, width), lane by lane.
    std::vector<std::vector<std::pair<double, double>>> steeper(lanes.size());
    std::vector<double> leastShoulder(lanes.size());
    kestro::detail::runBands(count, [&](int lane) {
        const size_t k = static_cast<size_t>(lane);
        LaneSearch& ls = searches[k];
        if (o.shoulders) addShoulders(ls, profiles[k], sigma);
        // A shoulder holds at least a third of the volume of a band of the least prominence and the
        // usual width across the lane: the corners of a flat, saturated top bend the profile as
        // a shoulder does, but the box between them and the top holds nothing.
        Lane& l = lanes[k];
        leastShoulder[k] = 0.35 * ls.least * sigma * std::sqrt(2 * 3.14159265358979) * l.box.width();
        measureKept(l, ls, wk, laneSums(l, wk, o), leastShoulder[k], o);
        for (size_t i = 0; i < l.bands.size(); ++i)
            steeper[k].emplace_back(l.bands[i].peakY, 2 * std::min(ls.bands[i].hwL, ls.bands[i].hwR));
    });
    for (const Lane& l : lanes)
        for (const Band& b : l.bands)
            widths.push_back(b.width);
    dropLinesAcross(lanes, searches, rightGaps, tiers);
    // Above the wells lie the edge of the gel or its tray and the wells' rims, never a band; nor
    // is the bright rim along the gel's cut edge, or anything beyond it. Where the scan cuts
    // through the wells or a front, what is left of them rises from the region's top or bottom
    // row without a valley and peaks within an edge's glow of it; a band so cut cannot be
    // measured either.
    const double darkest = wk.darkest;
    // An edge's blur and glow scale with the scan, not with the tier a lane lies in.
    const int edgeRows = std::max(4, wk.h / 64);
    for (size_t k = 0; k < lanes.size(); ++k) {
        Lane& l = lanes[k];
        const std::pair<int, int> span = onGel(profiles[k], darkest, edgeRows, 0.25);
        const int on = span.first, off = span.second;
        const Tier& tier = tiers[static_cast<size_t>(l.tier)];
        const double first = tier.rowAt(tier.firstBandRow, l.centre);
        const Profile& p = profiles[k];
        // The lower rims of wells the scan cuts through: a peak within two slots' height of the
        // top row, above whose valley towards that row the lane rises again at least half as high
        // (what is left of the wells, their slots aglow with the DNA held in them).
        const auto belowCutWells = [&](const Band& b) {
            const int at = static_cast<int>(std::lround(b.peakY)) - l.box.top;
            if (l.box.top > wk.y0 || at < 0 ||
                at >= std::min(2 * slotHeight(wk.h), static_cast<int>(p.size())))
                return false;
            const auto valley = std::min_element(p.begin(), p.begin() + at + 1);
            const double above = *std::max_element(p.begin(), valley + 1);
            return above - *valley >= 0.5 * (p[static_cast<size_t>(at)] - *valley) && above > *valley;
        };
        l.bands.erase(std::remove_if(l.bands.begin(), l.bands.end(),
                                     [&](const Band& b) {
                                         return b.peakY < first || b.peakY < l.box.top + on ||
                                                b.peakY >= l.box.top + off || belowCutWells(b) ||
                                                (b.box.top <= wk.y0 && b.peakY < wk.y0 + edgeRows) ||
                                                (b.box.bottom >= wk.y0 + wk.h &&
                                                 b.peakY >= wk.y0 + wk.h - edgeRows);
                                     }),
                      l.bands.end());
    }
    // The next tier's comb: the upper rims of its slots lie within a slot's height above the
    // tier's top and run across every lane, though a band close by hides them in some. Where a
    // third of the lanes above, two at least, show a band there, it is the rims (a band of one
    // sample may well lie there).
    const int slot = slotHeight(wk.h);
    for (size_t t = 0; t + 1 < tiers.size(); ++t) {
        const Tier& next = tiers[t + 1];
        const auto onRims = [&](const Lane& l, const Band& b) {
            const double top = next.rowAt(next.top, l.centre);
            return b.peakY >= top - slot && b.peakY < top;
        };
        int above = 0, withRims = 0;
        for (const Lane& l : lanes)
            if (l.tier == static_cast<int>(t)) {
                ++above;
                withRims +=
                    std::any_of(l.bands.begin(), l.bands.end(), [&](const Band& b) { return onRims(l, b); });
            }
        if (withRims < 2 || 3 * withRims < above) continue;
        for (Lane& l : lanes)
            if (l.tier == static_cast<int>(t))
                l.bands.erase(std::remove_if(l.bands.begin(), l.bands.end(),
                                             [&](const Band& b) { return onRims(l, b); }),
                              l.bands.end());
    }
    // A smear or a slow rise of the lane is far wider than the gel's bands on both sides: not a
    // band. A band that sits on a shelf of the lane (the end of a smear, a neighbour it merges
    // with) is wide only on the shelf's side. A saturated band is a band however wide: its top
    // is clipped flat and its glow spreads. The gel's own slow undulations (uneven staining, the
    // tails of smears) rise the higher the wider they are, so a peak wider than the gel's usual
    // band must stand out the more: its least prominence grows with its width.
    if (!widths.empty()) {
        const double usual = medianOf(widths), widest = 4 * usual;
        for (size_t k = 0; k < lanes.size(); ++k) {
            const auto widthOf = [&](const Band& b) {
                for (const auto& [row, width] : steeper[k])
                    if (row == b.peakY) return width;
                return b.width;
            };
            const auto wide = [&](const Band& b) {
                const double w = widthOf(b);
                return w > widest ||
                       (usual > 0 && !b.shoulder && b.prominence < searches[k].least * w / usual);
            };
            lanes[k].bands.erase(std::remove_if(lanes[k].bands.begin(), lanes[k].bands.end(),
                                                [&](const Band& b) { return wide(b) && !b.saturated; }),
                                 lanes[k].bands.end());
        }
    }
    kestro::detail::runBands(static_cast<int>(lanes.size()), [&](int k) {
        Lane& l = lanes[static_cast<size_t>(k)];
        l.bands.erase(
            std::remove_if(l.bands.begin(), l.bands.end(), [&](const Band& b) { return isSpeck(l, b, wk); }),
            l.bands.end());
    });
    if (!o.ladderSizes.empty()) {
        std::vector<int> ladders = o.ladderLanes;
        if (o.ladderLane >= 0) ladders.push_back(o.ladderLane);
        std::sort(ladders.begin(), ladders.end());
        ladders.erase(std::unique(ladders.begin(), ladders.end()), ladders.end());
        for (int k : ladders)
            if (k >= 0 && k < count)
                completeLadder(lanes[static_cast<size_t>(k)], searches[static_cast<size_t>(k)], wk, sigma,
                               leastShoulder[static_cast<size_t>(k)], o);
    }
    for (size_t k = 0; k < lanes.size(); ++k)
        for (Band& b : lanes[k].bands)
            b.lane = static_cast<int>(k);
    // Diffuse bands: sides that rise over more columns than the gel's bands usually do.
    kestro::detail::runBands(count, [&](int k) {
        Lane& l = lanes[static_cast<size_t>(k)];
        for (Band& b : l.bands)
            b.edgeWidth = edgeWidthOf(l, b, wk);
    });
    std::vector<double> edges;
    for (const Lane& l : lanes)
        for (const Band& b : l.bands)
            if (b.edgeWidth > 0) edges.push_back(b.edgeWidth);
    if (edges.size() >= 5 && o.diffuseEdge > 0) {
        const double widest = o.diffuseEdge * medianOf(edges);
        for (Lane& l : lanes)
            for (Band& b : l.bands)
                b.diffuse = b.edgeWidth > widest;
    }
    for (Lane& l : lanes)
        numberBands(l);
}

} // namespace kestro::gel
