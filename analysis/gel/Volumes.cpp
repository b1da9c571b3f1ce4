#include "analysis/gel/Internal.h"
#include "raster/detail/Parallel.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace kestro::gel {
namespace detail {

namespace {

// The sum of row r's columns a..b moved by d and kept inside the row, and how many are saturated.
void sumColumns(const Work& wk, const int* r, int a, int b, int d, double& value, int& saturated) {
    const int xa = std::clamp(a + d, 0, wk.w - 1), xb = std::clamp(b + d, 0, wk.w - 1);
    long long sum = 0;
    int sat = 0;
    for (int x = xa; x <= xb; ++x) {
        sum += r[x];
        sat += r[x] >= wk.maxValue;
    }
    value = static_cast<double>(sum);
    saturated = sat;
}

} // namespace

void rowSums(const Work& wk, int a, int b, int y0, int y1, const std::vector<int>& shift, Profile& values,
             Profile* background, std::vector<int>& saturated) {
    const int n = y1 - y0 + 1;
    values.assign(n, 0.0);
    saturated.assign(n, 0);
    if (background) background->assign(n, 0.0);
    kestro::detail::parallelRows(n, static_cast<size_t>(std::max(1, b - a + 1)), [&](long i0, long i1) {
        for (int y = y0 + static_cast<int>(i0); y < y0 + i1; ++y) {
            const int d = shift.empty() ? 0 : shift[y - y0];
            sumColumns(wk, wk.row(y), a, b, d, values[y - y0], saturated[y - y0]);
            if (background) {
                const int xa = std::clamp(a + d, 0, wk.w - 1), xb = std::clamp(b + d, 0, wk.w - 1);
                const int* g = wk.bgRow(y);
                long long bs = 0;
                for (int x = xa; x <= xb; ++x)
                    bs += g[x];
                (*background)[y - y0] = static_cast<double>(bs);
            }
        }
    });
}

void rowSums(const Work& wk, std::vector<SpanSums>& spans) {
    int top = wk.h, bottom = -1;
    size_t across = 0;
    for (SpanSums& s : spans) {
        const int n = std::max(0, s.y1 - s.y0 + 1);
        s.values.assign(static_cast<size_t>(n), 0.0);
        s.saturated.assign(static_cast<size_t>(n), 0);
        if (n == 0) continue;
        top = std::min(top, s.y0);
        bottom = std::max(bottom, s.y1);
        across += static_cast<size_t>(std::max(1, s.b - s.a + 1));
    }
    if (bottom < top) return;
    kestro::detail::parallelRows(bottom - top + 1, across, [&](long i0, long i1) {
        for (int y = top + static_cast<int>(i0); y < top + i1; ++y) {
            const int* r = wk.row(y);
            for (SpanSums& s : spans) {
                if (y < s.y0 || y > s.y1) continue;
                const int d = s.shift && !s.shift->empty() ? (*s.shift)[static_cast<size_t>(y - s.y0)] : 0;
                sumColumns(wk, r, s.a, s.b, d, s.values[static_cast<size_t>(y - s.y0)],
                           s.saturated[static_cast<size_t>(y - s.y0)]);
            }
        }
    });
}

LaneSums laneSums(const Lane& lane, const Work& wk, const Options& o) {
    LaneSums ls;
    ls.shift = laneShifts(lane);
    rowSums(wk, lane.box.left - wk.x0, lane.box.right - 1 - wk.x0, lane.box.top - wk.y0,
            lane.box.bottom - 1 - wk.y0, ls.shift, ls.sums,
            o.background == VolumeBackground::MovingMinimum ? &ls.background : nullptr, ls.saturated);
    return ls;
}

void measureVolumes(Band& b, const Lane& lane, const Work& wk, const LaneSums& rows, int top, int bottom,
                    int lineTop, int lineBottom, const Options& o) {
    const Profile& sums = rows.sums;
    const bool minimum = o.background == VolumeBackground::MovingMinimum;
    // The box at the peak row, and row by row the columns the sums took: the lane's box moved
    // with its path, inside the region.
    const int boxLeft = lane.box.left - wk.x0, boxRight = lane.box.right - 1 - wk.x0;
    const int shift = static_cast<int>(std::lround(b.x - lane.centre));
    b.box = {std::max(0, boxLeft + shift) + wk.x0, lane.box.top + top,
             std::min(wk.w - 1, boxRight + shift) + 1 + wk.x0, lane.box.top + bottom + 1};
    b.rows.clear();
    for (int y = top; y <= bottom; ++y) {
        const int d = rows.shift.empty() ? 0 : rows.shift[static_cast<size_t>(y)];
        b.rows.push_back({std::clamp(boxLeft + d, 0, wk.w - 1) + wk.x0,
                          std::clamp(boxRight + d, 0, wk.w - 1) + 1 + wk.x0});
        b.rawVolume += sums[static_cast<size_t>(y)];
        b.saturatedPixels += rows.saturated[static_cast<size_t>(y)];
        if (minimum) b.backgroundVolume += rows.background[static_cast<size_t>(y)];
    }
    if (!minimum) {
        const double st = meanOf(sums, lineTop - 1, lineTop + 1),
                     sb = meanOf(sums, lineBottom - 1, lineBottom + 1);
        const double middle = 0.5 * (top + bottom);
        const double line = lineBottom > lineTop
                                ? st + (sb - st) * (middle - lineTop) / (lineBottom - lineTop)
                                : 0.5 * (st + sb);
        b.backgroundVolume = line * (bottom - top + 1);
    }
    b.correctedVolume = b.rawVolume - b.backgroundVolume;
    b.saturated = b.saturatedPixels > 0;
}

// How sharply a band's sides rise across the lane: on the column profile of its rows (the
// half-prominence rows around the peak, over the lane and most of the gel beside it), the
// columns from 20% to 80% of the way from the floor beside the lane up to the lane's middle
// (the median of its middle half), walked in from the floor, averaged over the sides that rise.
// A band keeps the straight sides of its well; DNA that spread sideways (primer dimers,
// degraded samples) rises over twice as many columns.
double edgeWidthOf(const Lane& lane, const Band& band, const Work& wk) {
    const double hw = std::max(1.0, 0.5 * band.width);
    const int y0 =
        std::max({0, band.box.top - wk.y0, static_cast<int>(std::lround(band.peakY - hw)) - wk.y0});
    const int y1 = std::min(
        {wk.h - 1, band.box.bottom - 1 - wk.y0, static_cast<int>(std::lround(band.peakY + hw)) - wk.y0});
    const double c = lane.centreAt(band.peakY) - wk.x0, half = 0.5 * (lane.right - lane.left);
    const int xa = std::max(0, static_cast<int>(std::floor(c - 1.6 * half)));
    const int xb = std::min(wk.w - 1, static_cast<int>(std::ceil(c + 1.6 * half)));
    const int ci = static_cast<int>(std::lround(c)) - xa;
    const int qa = static_cast<int>(std::lround(c - 0.5 * half)) - xa,
              qb = static_cast<int>(std::lround(c + 0.5 * half)) - xa;
    if (y1 < y0 || half < 2 || qa < 0 || qb >= xb - xa + 1 || qb < qa) return 0;
    Profile p(static_cast<size_t>(xb - xa + 1), 0.0);
    for (int y = y0; y <= y1; ++y) {
        const int* r = wk.row(y);
        for (int x = xa; x <= xb; ++x)
            p[static_cast<size_t>(x - xa)] += r[x];
    }
    Profile middle(p.begin() + qa, p.begin() + qb + 1);
    std::nth_element(middle.begin(), middle.begin() + middle.size() / 2, middle.end());
    const double top = middle[middle.size() / 2];
    double total = 0;
    int sides = 0;
    for (int dir : {-1, 1}) {
        int fi = ci;
        for (int k = ci; k >= 0 && k < static_cast<int>(p.size()); k += dir)
            if (p[static_cast<size_t>(k)] < p[static_cast<size_t>(fi)]) fi = k;
        const double floor = p[static_cast<size_t>(fi)];
        if (!(top > floor) || fi == ci) continue;
        const auto inward = [&](double level) {
            for (int k = fi; k != ci; k -= dir) {
                const double a = p[static_cast<size_t>(k)], b = p[static_cast<size_t>(k - dir)];
                if (b >= level) return k - dir * (level - a) / (b - a);
            }
            return static_cast<double>(ci);
        };
        total += std::fabs(inward(floor + 0.8 * (top - floor)) - inward(floor + 0.2 * (top - floor)));
        ++sides;
    }
    return sides > 0 ? total / sides : 0.0;
}

// A speck of dust in a lane makes a peak in its profile as a band does. Both are read on the
// columns' rise on the band's half-prominence rows above the box's first and last rows. A band
// spans its lane: its median column in the lane's middle half rises as their mean does. A speck
// narrower than half the middle leaves the median at the gel's level, so more than half of the
// band's prominence is the mean's lead over the median; and it is about round, where a band runs
// across its lane several times wider than it is thick. A band off the middle of a lane placed
// beside it also leads the median, but keeps its width, read as far as a lane's width either side.
bool isSpeck(const Lane& lane, const Band& band, const Work& wk) {
    const double hw = std::max(1.0, 0.5 * band.width);
    const int y0 = std::max(0, static_cast<int>(std::lround(band.peakY - hw)) - wk.y0);
    const int y1 = std::min(wk.h - 1, static_cast<int>(std::lround(band.peakY + hw)) - wk.y0);
    const int f0 = std::max(0, band.box.top - wk.y0), f1 = std::min(wk.h - 1, band.box.bottom - 1 - wk.y0);
    const double c = lane.centreAt(band.peakY) - wk.x0, half = 0.5 * (lane.right - lane.left);
    if (!(c >= 0 && c < wk.w && half >= 1)) return false;
    const int xa = static_cast<int>(std::max(0.0, std::floor(c - 2 * half)));
    const int xb = static_cast<int>(std::min(wk.w - 1.0, std::ceil(c + 2 * half)));
    const auto at = [&](double x) { return std::clamp(static_cast<int>(std::lround(x)) - xa, 0, xb - xa); };
    const int qa = at(c - 0.5 * half), qb = at(c + 0.5 * half);
    if (qb - qa < 2 || y1 < y0 || f1 < f0 || !(band.prominence > 0)) return false;
    Profile rise;
    for (int x = xa; x <= xb; ++x) {
        double s = 0;
        for (int y = y0; y <= y1; ++y)
            s += wk.row(y)[x];
        rise.push_back(s / (y1 - y0 + 1) - 0.5 * (wk.row(f0)[x] + wk.row(f1)[x]));
    }
    const Profile middle(rise.begin() + qa, rise.begin() + qb + 1);
    double mean = 0;
    for (double v : middle)
        mean += v;
    mean /= static_cast<double>(middle.size());
    if (mean - medianOf(middle) <= 0.5 * band.prominence) return false;
    // Its width across: at half the highest column's rise within the lane, lightly smoothed.
    const Profile s = boxSmooth(rise, 1);
    const int la = at(c - half), lb = at(c + half);
    const int top = static_cast<int>(std::max_element(s.begin() + la, s.begin() + lb + 1) - s.begin());
    const double level = 0.5 * s[static_cast<size_t>(top)];
    const double across =
        crossing(s, top, +1, level, static_cast<int>(s.size()) - 1) - crossing(s, top, -1, level, 0);
    return across < 3 * std::max(1.0, band.width);
}

} // namespace detail

using namespace detail;

// Band numbers and relative volumes, once the lane's bands are final.
void numberBands(Lane& lane) {
    double total = 0;
    for (const Band& b : lane.bands)
        total += std::max(0.0, b.correctedVolume);
    for (size_t k = 0; k < lane.bands.size(); ++k) {
        lane.bands[k].index = static_cast<int>(k);
        lane.bands[k].relativeVolume = total > 0 ? lane.bands[k].correctedVolume / total : 0.0;
    }
}

Band measureBand(const PreparedGel& gel, const Lane& lane, int top, int bottom, const Options& o) {
    const Work& wk = gel.work();
    if (top >= bottom || top < lane.box.top || bottom > lane.box.bottom)
        throw ArgumentError("the band's rows " + std::to_string(top) + " .. " + std::to_string(bottom) +
                            " (half-open) are empty or leave the rows of lane " +
                            std::to_string(lane.index + 1) + "'s tier");
    const LaneProfile profile = laneProfile(gel, lane);
    if (lane.box.left < wk.x0 || lane.box.right > wk.x0 + wk.w || lane.box.right <= lane.box.left)
        throw ArgumentError("lane " + std::to_string(lane.index + 1) +
                            "'s box does not lie inside the region");
    // The peak as the band search places it: on the lightly smoothed profile, the middle of the
    // highest run of rows (a saturated top is flat), refined by a parabola where it is one row.
    const Profile p = boxSmooth(profile.values, std::max(1, static_cast<int>(profile.values.size()) / 600));
    const int a = top - lane.box.top, b = bottom - 1 - lane.box.top;
    Band band;
    band.lane = lane.index;
    const int i = static_cast<int>(std::max_element(p.begin() + a, p.begin() + b + 1) - p.begin());
    int j = i;
    while (j < b && p[static_cast<size_t>(j) + 1] == p[static_cast<size_t>(i)])
        ++j;
    double at = 0.5 * (i + j);
    if (i == j && i > a && i < b) {
        const double l = p[static_cast<size_t>(i) - 1], c = p[static_cast<size_t>(i)],
                     r = p[static_cast<size_t>(i) + 1];
        if (l - 2 * c + r < 0) at = i + std::clamp(0.5 * (l - r) / (l - 2 * c + r), -0.5, 0.5);
    }
    const int peak = (i + j) / 2;
    band.peakY = lane.box.top + at;
    band.x = lane.centreAt(band.peakY);
    band.prominence =
        p[static_cast<size_t>(peak)] - std::max(p[static_cast<size_t>(a)], p[static_cast<size_t>(b)]);
    const double half = p[static_cast<size_t>(peak)] - 0.5 * band.prominence;
    band.width = crossing(p, peak, +1, half, b) - crossing(p, peak, -1, half, a);
    measureVolumes(band, lane, wk, laneSums(lane, wk, o), a, b, a, b, o);
    band.edgeWidth = edgeWidthOf(lane, band, wk);
    return band;
}

} // namespace kestro::gel
