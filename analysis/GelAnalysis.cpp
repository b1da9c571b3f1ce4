#include "analysis/GelAnalysis.h"

#include "analysis/ImageProcessing.h"
#include "image/DalvoImage.h"
#include "raster/RasterImageGS16.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <stdexcept>
#include <string>
#include <utility>

namespace kestro::gel {

namespace {

using Profile = std::vector<double>;

// Moving average of radius r; the window shrinks at the ends instead of reading past them.
Profile boxSmooth(const Profile& v, int r)
{
    const int n = static_cast<int>(v.size());
    Profile prefix(n + 1, 0.0), out(n);
    for (int i = 0; i < n; ++i)
        prefix[i + 1] = prefix[i] + v[i];
    for (int i = 0; i < n; ++i) {
        const int a = std::max(0, i - r), b = std::min(n - 1, i + r);
        out[i] = (prefix[b + 1] - prefix[a]) / (b - a + 1);
    }
    return out;
}

// Standard deviation of a profile's noise, from the median of its absolute first differences,
// which smooth structure (bands, slopes) hardly moves.
double noiseOf(const Profile& v)
{
    if (v.size() < 3)
        return 0;
    std::vector<double> d(v.size() - 1);
    for (size_t i = 0; i + 1 < v.size(); ++i)
        d[i] = std::fabs(v[i + 1] - v[i]);
    std::nth_element(d.begin(), d.begin() + d.size() / 2, d.end());
    return d[d.size() / 2] / (0.6745 * std::sqrt(2.0));
}

struct Peak {
    int pos = 0;         // the peak's sample (middle of a plateau)
    double at = 0;       // sub-pixel position
    double prominence = 0;
};

// Local maxima (a plateau counts once, at its middle) with their prominence: the height above
// the higher of the lowest points between the peak and higher ground on either side (or the
// profile's end). Peaks on the first or last sample are not peaks.
std::vector<Peak> findPeaks(const Profile& s)
{
    std::vector<Peak> peaks;
    const int n = static_cast<int>(s.size());
    int i = 1;
    while (i < n - 1) {
        if (!(s[i] > s[i - 1])) {
            ++i;
            continue;
        }
        int j = i;
        while (j + 1 < n && s[j + 1] == s[i])
            ++j;
        if (j + 1 < n && s[j + 1] < s[i]) {
            Peak p;
            p.pos = (i + j) / 2;
            p.at = 0.5 * (i + j);
            if (i == j) {
                const double a = s[i - 1], b = s[i], c = s[i + 1];
                const double den = a - 2 * b + c;
                if (den < 0)
                    p.at = i + std::clamp(0.5 * (a - c) / den, -0.5, 0.5);
            }
            const double h = s[i];
            double leftMin = h, rightMin = h;
            // Of two equal peaks the left one counts as the higher ground.
            for (int k = i - 1; k >= 0 && s[k] < h; --k)
                leftMin = std::min(leftMin, s[k]);
            for (int k = j + 1; k < n && s[k] <= h; ++k)
                rightMin = std::min(rightMin, s[k]);
            p.prominence = h - std::max(leftMin, rightMin);
            peaks.push_back(p);
        }
        i = j + 1;
    }
    return peaks;
}

// Where the profile, walked from `from` in direction dir, first falls below level, interpolated
// between samples; `limit` when it never does before reaching it.
double crossing(const Profile& s, int from, int dir, double level, int limit)
{
    for (int k = from + dir; dir < 0 ? k >= limit : k <= limit; k += dir) {
        if (s[k] < level) {
            const double prev = s[k - dir];
            const double f = prev > s[k] ? (prev - level) / (prev - s[k]) : 0.0;
            return (k - dir) + dir * f;
        }
    }
    return limit;
}

int argMin(const Profile& s, int a, int b)
{
    int best = a;
    for (int k = a; k <= b; ++k)
        if (s[k] < s[best])
            best = k;
    return best;
}

// Rows at which a region is split into tiers. A given number of tiers splits at the emptiest
// row near each boundary between equal shares. Found tiers (tiers 0) are parted by long empty
// runs of the row profile: below 5% of its range above its floor for at least an eighth of the
// height, with a fifth of the profile's signal on either side (a lane's empty stretch between
// two bands is shorter, and an empty top or bottom of the scan has no signal beyond it).
std::vector<int> tierStarts(const Profile& rows, int tiers)
{
    const int n = static_cast<int>(rows.size());
    std::vector<int> starts{0};
    const Profile s = boxSmooth(rows, std::max(1, n / 100));
    if (tiers > 0) {
        for (int k = 1; k < tiers; ++k) {
            const int mid = k * n / tiers, reach = n / (4 * tiers);
            starts.push_back(argMin(s, std::max(starts.back() + 1, mid - reach), std::min(n - 1, mid + reach)));
        }
    } else {
        const auto [lo, hi] = std::minmax_element(s.begin(), s.end());
        const double low = *lo + 0.05 * (*hi - *lo);
        Profile cumulative(n + 1, 0.0);
        for (int i = 0; i < n; ++i)
            cumulative[i + 1] = cumulative[i] + (s[i] - *lo);
        const double total = cumulative[n];
        for (int i = 0; i < n && total > 0;) {
            if (s[i] >= low) {
                ++i;
                continue;
            }
            int j = i;
            while (j + 1 < n && s[j + 1] < low)
                ++j;
            if (8 * (j - i + 1) >= n && cumulative[i] >= 0.2 * total && total - cumulative[j + 1] >= 0.2 * total)
                starts.push_back((i + j + 1) / 2);
            i = j + 1;
        }
    }
    starts.push_back(n);
    return starts;
}

// The peaks of a tier's smoothed column profile that are lanes, left to right.
std::vector<Peak> findLanes(const Profile& s, const Options& o)
{
    const int n = static_cast<int>(s.size());
    // A lane is a plateau in the profile, often with a bump at either edge where the bands
    // are brighter: a peak counts as a lane only when the valleys on both sides fall at least
    // a third of its height above the local floor, which such a bump does not. The floor is the
    // lowest point within a twentieth of the width: a gel that glows as a whole above the dark
    // tray around it keeps its lanes, and so do lanes parted by narrow dips from their
    // neighbours beside a dark empty lane further off.
    const int reach = std::max(2, n / 20);
    std::vector<Peak> peaks;
    for (const Peak& p : findPeaks(s)) {
        const double floor = *std::min_element(s.begin() + std::max(0, p.pos - reach),
                                               s.begin() + std::min(n, p.pos + reach + 1));
        if (p.prominence >= (s[p.pos] - floor) / 3)
            peaks.push_back(p);
    }
    std::sort(peaks.begin(), peaks.end(), [](const Peak& a, const Peak& b) { return a.prominence > b.prominence; });
    std::vector<Peak> kept;
    if (!peaks.empty()) {
        // The strongest peaks first; with a lane count given, they keep a third of the even
        // spacing between them.
        // The threshold follows the third strongest peak: the bright walls of a casting tray
        // or the edge of the gel outshine every lane and would hide the fainter ones.
        const double least = o.laneCount > 0 ? 0.0 : o.minLaneProminence * peaks[std::min<size_t>(2, peaks.size() - 1)].prominence;
        const double minGap = o.laneCount > 0 ? n / (3.0 * o.laneCount) : 0.0;
        for (const Peak& p : peaks) {
            if ((o.laneCount > 0 && static_cast<int>(kept.size()) == o.laneCount) || p.prominence < least)
                break;
            bool clear = true;
            for (const Peak& q : kept)
                clear = clear && std::fabs(p.at - q.at) >= minGap;
            if (clear)
                kept.push_back(p);
        }
    }
    std::sort(kept.begin(), kept.end(), [](const Peak& a, const Peak& b) { return a.at < b.at; });
    return kept;
}

// Lanes at the given peaks of the smoothed column profile, their edges bounded by the
// neighbouring peaks, and for each lane the index of its peak. Slivers at the region's sides
// (the border of a scan) are no lanes: a lane is at least 40% as wide as the median lane; their
// neighbours keep the edges the sliver bounded.
std::vector<Lane> lanesAt(const Profile& s, const std::vector<Peak>& kept, std::vector<size_t>& from)
{
    const int n = static_cast<int>(s.size());
    std::vector<Lane> lanes;
    from.resize(kept.size());
    for (size_t k = 0; k < kept.size(); ++k) {
        from[k] = k;
        const int p = kept[k].pos;
        const int lo = k > 0 ? kept[k - 1].pos : 0;
        const int hi = k + 1 < kept.size() ? kept[k + 1].pos : n - 1;
        const double h = s[static_cast<size_t>(p)];
        const double floorL = s[static_cast<size_t>(argMin(s, lo, p))], floorR = s[static_cast<size_t>(argMin(s, p, hi))];
        Lane lane;
        const double halfL = crossing(s, p, -1, floorL + 0.5 * (h - floorL), lo);
        const double halfR = crossing(s, p, +1, floorR + 0.5 * (h - floorR), hi);
        lane.centre = 0.5 * (halfL + halfR);
        // A faint glow beside a lane (a smear, the gel's edge) would carry the low crossing far
        // out: the edges stay within 0.7 half-maximum widths of the centre.
        const double reach = 0.7 * (halfR - halfL);
        lane.left = std::max(crossing(s, p, -1, floorL + 0.15 * (h - floorL), lo), lane.centre - reach);
        lane.right = std::min(crossing(s, p, +1, floorR + 0.15 * (h - floorR), hi), lane.centre + reach);
        lane.prominence = kept[k].prominence;
        lanes.push_back(lane);
    }
    if (lanes.size() >= 3) {
        std::vector<double> widths;
        for (const Lane& l : lanes)
            widths.push_back(l.right - l.left);
        std::nth_element(widths.begin(), widths.begin() + static_cast<std::ptrdiff_t>(widths.size() / 2), widths.end());
        const double least = 0.4 * widths[widths.size() / 2];
        size_t j = 0;
        for (size_t k = 0; k < lanes.size(); ++k)
            if (lanes[k].right - lanes[k].left >= least) {
                lanes[j] = lanes[k];
                from[j++] = k;
            }
        lanes.resize(j);
        from.resize(j);
    }
    return lanes;
}

// Exactly `count` lanes from the lanes found (left to right), which keep their places: the least
// prominent go while there are too many; while there are too few, a lane grid at the found lanes'
// pitch (the median spacing of neighbours) fills the widest gap that holds a lane at that pitch,
// else extends past the end with more signal beside it, else takes the middle of the widest
// stretch free of lanes. Each added lane moves to the profile's highest point within a quarter
// pitch of the grid and spans 0.8 pitches; neighbours that would overlap part halfway.
std::vector<Lane> countedLanes(const Profile& s, std::vector<Lane> lanes, int count)
{
    const int n = static_cast<int>(s.size());
    while (static_cast<int>(lanes.size()) > count)
        lanes.erase(std::min_element(lanes.begin(), lanes.end(),
                                     [](const Lane& a, const Lane& b) { return a.prominence < b.prominence; }));
    double pitch = static_cast<double>(n) / count;
    if (lanes.size() >= 2) {
        std::vector<double> gaps;
        for (size_t k = 0; k + 1 < lanes.size(); ++k)
            gaps.push_back(lanes[k + 1].centre - lanes[k].centre);
        std::nth_element(gaps.begin(), gaps.begin() + static_cast<std::ptrdiff_t>(gaps.size() / 2), gaps.end());
        pitch = std::min(pitch, gaps[gaps.size() / 2]);
    }
    const auto add = [&](double at, bool refine) {
        if (refine) {
            const int a = std::clamp(static_cast<int>(std::lround(at - pitch / 4)), 0, n - 1);
            const int b = std::clamp(static_cast<int>(std::lround(at + pitch / 4)), a, n - 1);
            at = static_cast<double>(std::max_element(s.begin() + a, s.begin() + b + 1) - s.begin());
        }
        Lane l;
        l.centre = at;
        l.left = std::max(0.0, at - 0.4 * pitch);
        l.right = std::min(n - 1.0, at + 0.4 * pitch);
        lanes.insert(std::upper_bound(lanes.begin(), lanes.end(), l,
                                      [](const Lane& x, const Lane& y) { return x.centre < y.centre; }),
                     l);
    };
    while (static_cast<int>(lanes.size()) < count) {
        if (lanes.empty()) {
            add(0.5 * (n - 1), false);
            continue;
        }
        size_t widest = 0;
        for (size_t k = 1; k + 1 < lanes.size(); ++k)
            if (lanes[k + 1].centre - lanes[k].centre > lanes[widest + 1].centre - lanes[widest].centre)
                widest = k;
        const double gap = lanes.size() >= 2 ? lanes[widest + 1].centre - lanes[widest].centre : 0;
        if (gap >= 1.5 * pitch) {
            add(lanes[widest].centre + gap / std::round(gap / pitch), true);
            continue;
        }
        const double left = lanes.front().centre - pitch, right = lanes.back().centre + pitch;
        const bool leftFits = left >= pitch / 2, rightFits = right <= n - 1 - pitch / 2;
        if (leftFits || rightFits) {
            const bool takeLeft = leftFits && (!rightFits || s[static_cast<size_t>(std::lround(left))] >=
                                                                 s[static_cast<size_t>(std::lround(right))]);
            add(takeLeft ? left : right, true);
            continue;
        }
        double at = 0.5 * lanes.front().centre, room = lanes.front().centre;
        if (n - 1 - lanes.back().centre > room) {
            room = n - 1 - lanes.back().centre;
            at = 0.5 * (lanes.back().centre + n - 1);
        }
        if (gap > room)
            at = lanes[widest].centre + 0.5 * gap;
        add(at, false);
    }
    for (size_t k = 0; k + 1 < lanes.size(); ++k)
        if (lanes[k].right > lanes[k + 1].left) {
            const double mid = 0.5 * (lanes[k].centre + lanes[k + 1].centre);
            lanes[k].right = std::min(lanes[k].right, mid - 0.5);
            lanes[k + 1].left = std::max(lanes[k + 1].left, mid + 0.5);
        }
    return lanes;
}

// The region's pixels in bright-band polarity, as a raster the library's filters take.
struct Work {
    int x0 = 0, y0 = 0, w = 0, h = 0;
    int maxValue = 0;
    RasterImageGS16 values;
    RasterImageGS16 background;
    const int* row(int y) const { return values.pixels + static_cast<size_t>(y) * w; }
    const int* bgRow(int y) const { return background.pixels + static_cast<size_t>(y) * w; }
};

// Per-row sums over the columns a..b (included) of rows y0..y1 of the work raster, each row's
// columns moved by shift[row - y0] (no shift when empty) and kept inside the raster.
void rowSums(const Work& wk, int a, int b, int y0, int y1, const std::vector<int>& shift, Profile& values,
             Profile* background, std::vector<int>& saturated)
{
    const int n = y1 - y0 + 1;
    values.assign(n, 0.0);
    saturated.assign(n, 0);
    if (background)
        background->assign(n, 0.0);
    for (int y = y0; y <= y1; ++y) {
        const int d = shift.empty() ? 0 : shift[y - y0];
        const int xa = std::clamp(a + d, 0, wk.w - 1), xb = std::clamp(b + d, 0, wk.w - 1);
        const int* r = wk.row(y);
        long long sum = 0;
        int sat = 0;
        for (int x = xa; x <= xb; ++x) {
            sum += r[x];
            sat += r[x] >= wk.maxValue;
        }
        values[y - y0] = static_cast<double>(sum);
        saturated[y - y0] = sat;
        if (background) {
            const int* g = wk.bgRow(y);
            long long bs = 0;
            for (int x = xa; x <= xb; ++x)
                bs += g[x];
            (*background)[y - y0] = static_cast<double>(bs);
        }
    }
}

// A lane's sideways shift, in whole columns, for each row of its tier.
std::vector<int> laneShifts(const Lane& lane)
{
    std::vector<int> shift(static_cast<size_t>(lane.bottom - lane.top + 1), 0);
    if (lane.tilt != 0 || lane.bow != 0)
        for (int y = lane.top; y <= lane.bottom; ++y)
            shift[static_cast<size_t>(y - lane.top)] = static_cast<int>(std::lround(lane.centreAt(y) - lane.centre));
    return shift;
}

// Follows lanes that drift sideways within their tier (rows y0..y1 of the work raster): in
// strips of rows, the shift at which the strip's column profile best matches the tier's within
// the lane, then a parabola through the shifts weighted by the strip's signal. Positions stay in
// work coordinates.
void followLanes(std::vector<Lane>& lanes, const Work& wk, int y0, int y1, const Profile& columns)
{
    const int rows = y1 - y0 + 1;
    const int strips = std::min(16, rows / 40);
    if (strips < 4 || lanes.empty())
        return;
    std::vector<Profile> stripProfiles(static_cast<size_t>(strips), Profile(static_cast<size_t>(wk.w), 0.0));
    std::vector<double> stripMiddle(static_cast<size_t>(strips));
    std::vector<long long> acc(static_cast<size_t>(wk.w));
    for (int k = 0; k < strips; ++k) {
        const int a = y0 + k * rows / strips, b = y0 + (k + 1) * rows / strips - 1;
        std::fill(acc.begin(), acc.end(), 0);
        for (int y = a; y <= b; ++y) {
            const int* v = wk.row(y);
            const int* g = wk.bgRow(y);
            for (int x = 0; x < wk.w; ++x)
                acc[static_cast<size_t>(x)] += std::max(0, v[x] - g[x]);
        }
        for (int x = 0; x < wk.w; ++x)
            stripProfiles[static_cast<size_t>(k)][static_cast<size_t>(x)] = static_cast<double>(acc[static_cast<size_t>(x)]) / (b - a + 1);
        stripMiddle[static_cast<size_t>(k)] = 0.5 * (a + b);
    }
    const double middle = 0.5 * (y0 + y1);
    for (Lane& lane : lanes) {
        const int L = std::max(0, static_cast<int>(std::floor(lane.left)));
        const int R = std::min(wk.w - 1, static_cast<int>(std::ceil(lane.right)));
        const int reach = std::clamp(static_cast<int>(0.3 * (R - L)), 1, 24);
        if (R - L < 4)
            continue;
        double refFloor = columns[static_cast<size_t>(L)];
        for (int x = L; x <= R; ++x)
            refFloor = std::min(refFloor, columns[static_cast<size_t>(x)]);
        std::vector<double> us, shifts, weights;
        double strongest = 0;
        for (int k = 0; k < strips; ++k) {
            const Profile& sp = stripProfiles[static_cast<size_t>(k)];
            auto at = [&](int x) { return sp[static_cast<size_t>(std::clamp(x, 0, wk.w - 1))]; };
            double spFloor = at(L - reach);
            for (int x = L - reach; x <= R + reach; ++x)
                spFloor = std::min(spFloor, at(x));
            std::vector<double> corr(static_cast<size_t>(2 * reach + 1), 0.0);
            double signal = 0;
            for (int x = L; x <= R; ++x)
                signal += at(x) - spFloor;
            for (int d = -reach; d <= reach; ++d) {
                double c = 0;
                for (int x = L; x <= R; ++x)
                    c += (columns[static_cast<size_t>(x)] - refFloor) * (at(x + d) - spFloor);
                corr[static_cast<size_t>(d + reach)] = c;
            }
            const int best = static_cast<int>(std::max_element(corr.begin(), corr.end()) - corr.begin());
            strongest = std::max(strongest, signal);
            if (best == 0 || best == 2 * reach || signal <= 0)
                continue; // no match inside the reach: the strip says nothing
            const double ca = corr[static_cast<size_t>(best - 1)], cb = corr[static_cast<size_t>(best)],
                         cc = corr[static_cast<size_t>(best + 1)];
            const double den = ca - 2 * cb + cc;
            const double shift = best - reach + (den < 0 ? std::clamp(0.5 * (ca - cc) / den, -0.5, 0.5) : 0.0);
            us.push_back(stripMiddle[static_cast<size_t>(k)] - middle);
            shifts.push_back(shift);
            weights.push_back(signal);
        }
        // Only strips with a fifth of the strongest strip's signal in the lane measure the path:
        // the faint rims of a well or a speck of dust above the bands match anywhere, and a
        // parabola through them would swing far beyond the bands. The path holds between them.
        size_t used = 0;
        for (size_t i = 0; i < us.size(); ++i)
            if (weights[i] >= 0.2 * strongest) {
                us[used] = us[i];
                shifts[used] = shifts[i];
                weights[used++] = weights[i] * weights[i];
            }
        us.resize(used);
        shifts.resize(used);
        weights.resize(used);
        if (used < 4)
            continue;
        const double uTop = *std::min_element(us.begin(), us.end()), uBottom = *std::max_element(us.begin(), us.end());
        // Normal equations of the weighted parabola in u = row - middle.
        double m[3][4] = {};
        for (size_t i = 0; i < used; ++i) {
            const double w = weights[i], u = us[i];
            const double pw[5] = {w, w * u, w * u * u, w * u * u * u, w * u * u * u * u};
            for (int r = 0; r < 3; ++r) {
                for (int j = 0; j < 3; ++j)
                    m[r][j] += pw[r + j];
                m[r][3] += pw[r] * shifts[i];
            }
        }
        // Gauss-Jordan elimination with partial pivoting.
        double c[3] = {0, 0, 0};
        bool ok = true;
        for (int i = 0; i < 3 && ok; ++i) {
            int p = i;
            for (int r = i + 1; r < 3; ++r)
                if (std::fabs(m[r][i]) > std::fabs(m[p][i]))
                    p = r;
            std::swap(m[i], m[p]);
            if (!(std::fabs(m[i][i]) > 1e-12 * std::fabs(m[0][0])))
                ok = false;
            for (int r = 0; r < 3 && ok; ++r)
                if (r != i) {
                    const double f = m[r][i] / m[i][i];
                    for (int j = i; j < 4; ++j)
                        m[r][j] -= f * m[i][j];
                }
        }
        if (!ok)
            continue;
        for (int i = 0; i < 3; ++i)
            c[i] = m[i][3] / m[i][i];
        // A path whose ends stray less than a pixel from its middle is straight; one that leaves
        // the reach, or that the strips do not follow within a pixel, is no path.
        const double ua = uTop, ub = uBottom;
        const double stray = std::max(std::fabs((c[1] + c[2] * ua) * ua), std::fabs((c[1] + c[2] * ub) * ub));
        double residual = 0, weight = 0;
        for (size_t i = 0; i < us.size(); ++i) {
            const double e = shifts[i] - (c[0] + (c[1] + c[2] * us[i]) * us[i]);
            residual += weights[i] * e * e;
            weight += weights[i];
        }
        if (stray < 1.0 || std::fabs(c[0]) + stray > reach || residual > weight)
            continue;
        lane.centre += c[0];
        lane.left += c[0];
        lane.right += c[0];
        lane.tilt = c[1];
        lane.bow = c[2];
        lane.middle = middle;
        lane.pathTop = middle + uTop;
        lane.pathBottom = middle + uBottom;
    }
}

double meanOf(const Profile& v, int a, int b)
{
    a = std::max(a, 0);
    b = std::min(b, static_cast<int>(v.size()) - 1);
    double s = 0;
    for (int k = a; k <= b; ++k)
        s += v[k];
    return b >= a ? s / (b - a + 1) : 0.0;
}

// For each lane, how far its strongest stretch of rows rises above its usual level, both taken
// against the gel beside it (the gaps to its neighbours, or as wide a stripe beyond its edge at
// the ends of the tier), row by row in the median across the columns of the lane's middle half
// and of the gaps, of the background-corrected values, each capped: bands and smears rise, an
// empty well column with dust in it (specks narrower than half the columns) does not, and a line
// across the whole gel (the edge of a tray) cancels. One pass over the rows reads every stripe.
std::vector<double> laneSignals(const Work& wk, int y0, int y1, const std::vector<Lane>& lanes, int cap)
{
    struct Span { int a = 0, b = -1; };
    auto span = [&](double a, double b) {
        Span sp{static_cast<int>(std::ceil(a)), static_cast<int>(std::floor(b))};
        if (sp.b < sp.a)
            sp.a = sp.b = static_cast<int>(std::lround(0.5 * (a + b)));
        if (sp.b < 0 || sp.a > wk.w - 1)
            return Span{};
        sp.a = std::clamp(sp.a, 0, wk.w - 1);
        sp.b = std::clamp(sp.b, sp.a, wk.w - 1);
        return sp;
    };
    // Per lane: its middle half, then the stripes beside it (gaps are shared by neighbours).
    const size_t n = lanes.size();
    std::vector<Span> spans;
    std::vector<size_t> left(n), right(n);
    for (size_t k = 0; k < n; ++k) {
        const Lane& l = lanes[k];
        const double quarter = 0.25 * (l.right - l.left);
        spans.push_back(span(l.centre - quarter, l.centre + quarter));
    }
    spans.push_back(span(lanes[0].left - 0.5 * (lanes[0].right - lanes[0].left), lanes[0].left));
    left[0] = spans.size() - 1;
    for (size_t k = 0; k + 1 < n; ++k) {
        spans.push_back(span(lanes[k].right, lanes[k + 1].left));
        right[k] = left[k + 1] = spans.size() - 1;
    }
    spans.push_back(span(lanes[n - 1].right, lanes[n - 1].right + 0.5 * (lanes[n - 1].right - lanes[n - 1].left)));
    right[n - 1] = spans.size() - 1;

    // A tier of 2048 rows or more is read in steps of rows: a lane's signal stretches over
    // hundreds of them, and the medians are most of the analysis's time on a large scan.
    const int step = std::max(1, (y1 - y0 + 1) / 1024);
    const size_t rows = static_cast<size_t>((y1 - y0) / step + 1);
    std::vector<Profile> medians(spans.size(), Profile(rows, 0.0));
    std::vector<int> v;
    for (int y = y0; y <= y1; y += step) {
        const int* r = wk.row(y);
        const int* g = wk.bgRow(y);
        for (size_t i = 0; i < spans.size(); ++i) {
            const Span& sp = spans[i];
            if (sp.b < sp.a)
                continue;
            v.resize(static_cast<size_t>(sp.b - sp.a + 1));
            for (int x = sp.a; x <= sp.b; ++x)
                v[static_cast<size_t>(x - sp.a)] = std::clamp(r[x] - g[x], 0, cap);
            std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2), v.end());
            medians[i][static_cast<size_t>((y - y0) / step)] = v[v.size() / 2];
        }
    }
    std::vector<double> signal(n);
    const int radius = std::max(1, static_cast<int>(rows) / 200);
    for (size_t k = 0; k < n; ++k) {
        Profile diff = medians[k];
        const bool hasLeft = spans[left[k]].b >= spans[left[k]].a, hasRight = spans[right[k]].b >= spans[right[k]].a;
        const int sides = hasLeft + hasRight;
        for (size_t i = 0; i < rows && sides > 0; ++i)
            diff[i] -= ((hasLeft ? medians[left[k]][i] : 0.0) + (hasRight ? medians[right[k]][i] : 0.0)) / sides;
        const Profile sm = boxSmooth(diff, radius);
        Profile order(sm);
        std::nth_element(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(order.size() / 2), order.end());
        signal[k] = *std::max_element(sm.begin(), sm.end()) - order[order.size() / 2];
    }
    return signal;
}

// Lanes of the rows y0..y1 of the work raster, in work coordinates.
std::vector<Lane> tierLanes(const Work& wk, int y0, int y1, const Options& o)
{
    const int w = wk.w, rows = y1 - y0 + 1;
    // One bright (often saturated) band would outweigh whole lanes of ordinary ones and hide
    // them under the lane threshold: each pixel counts up to the tier's 99.8th percentile.
    std::vector<long long> histogram(static_cast<size_t>(wk.maxValue) + 1, 0);
    for (int y = y0; y <= y1; ++y) {
        const int* v = wk.row(y);
        const int* b = wk.bgRow(y);
        for (int x = 0; x < w; ++x)
            ++histogram[static_cast<size_t>(std::clamp(v[x] - b[x], 0, wk.maxValue))];
    }
    const long long total = static_cast<long long>(w) * rows;
    int cap = wk.maxValue;
    for (long long seen = 0, target = static_cast<long long>(0.998 * total); cap > 0; --cap) {
        seen += histogram[static_cast<size_t>(cap)];
        if (total - seen < target)
            break;
    }
    cap = std::max(cap, 1);
    Profile columns(static_cast<size_t>(w), 0.0);
    std::vector<long long> acc(static_cast<size_t>(w), 0);
    for (int y = y0; y <= y1; ++y) {
        const int* v = wk.row(y);
        const int* b = wk.bgRow(y);
        for (int x = 0; x < w; ++x)
            acc[static_cast<size_t>(x)] += std::clamp(v[x] - b[x], 0, cap);
    }
    for (int x = 0; x < w; ++x)
        columns[static_cast<size_t>(x)] = static_cast<double>(acc[static_cast<size_t>(x)]) / rows;
    const Profile s = boxSmooth(columns, std::max(1, w / 400));
    // A lane count given still finds the lanes first, then keeps or adds lanes to that count.
    Options found = o;
    found.laneCount = 0;
    std::vector<Peak> peaks = findLanes(s, found);
    std::vector<size_t> from;
    std::vector<Lane> lanes = lanesAt(s, peaks, from);
    // A column stripe that stands out of the profile only by a faint glow or dust along it is an
    // empty well, not a lane: it is faint both ways, its peak in the profile below 35% of the
    // tier's median lane's and its signal along the lane below a fifth of the median's. The
    // neighbours of a dropped stripe take their edges anew.
    if (lanes.size() >= 3) {
        const std::vector<double> signal = laneSignals(wk, y0, y1, lanes, cap);
        std::vector<double> prominence(lanes.size());
        for (size_t k = 0; k < lanes.size(); ++k)
            prominence[k] = lanes[k].prominence;
        auto median = [](Profile v) {
            std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2), v.end());
            return v[v.size() / 2];
        };
        const double leastSignal = 0.2 * median(signal), leastProminence = 0.35 * median(prominence);
        bool dropped = false;
        for (size_t k = 0; k < lanes.size(); ++k)
            if (signal[k] < leastSignal && prominence[k] < leastProminence) {
                peaks[from[k]].prominence = -1;
                dropped = true;
            }
        if (dropped) {
            peaks.erase(std::remove_if(peaks.begin(), peaks.end(), [](const Peak& p) { return p.prominence < 0; }),
                        peaks.end());
            lanes = lanesAt(s, peaks, from);
        }
    }
    if (o.laneCount > 0)
        lanes = countedLanes(s, lanes, o.laneCount);
    followLanes(lanes, wk, y0, y1, columns);
    return lanes;
}

// Row by row, how much darker than the gel beside them the lanes are (the median over lanes of
// the darker gap's mean less the mean of the lane's middle half), in the work raster's values:
// high along a row of wells, whose slots are darker than the gel between them.
Profile wellContrast(const Work& wk, const std::vector<Lane>& lanes)
{
    Profile out(static_cast<size_t>(wk.h), 0.0);
    if (lanes.size() < 2)
        return out;
    struct Span { int a, b; };
    std::vector<Span> mids, gaps;
    for (size_t k = 0; k < lanes.size(); ++k) {
        const Lane& l = lanes[k];
        const double quarter = 0.25 * (l.right - l.left);
        const int c0 = std::clamp(static_cast<int>(std::lround(l.centre - quarter)), 0, wk.w - 1);
        mids.push_back({c0, std::clamp(static_cast<int>(std::lround(l.centre + quarter)), c0, wk.w - 1)});
    }
    // The gaps between neighbours; the outer lanes have their one gap on both sides.
    for (size_t k = 0; k + 1 < lanes.size(); ++k) {
        int a = static_cast<int>(std::ceil(lanes[k].right)), b = static_cast<int>(std::floor(lanes[k + 1].left));
        if (b < a)
            a = b = static_cast<int>(std::lround(0.5 * (lanes[k].right + lanes[k + 1].left)));
        gaps.push_back({std::clamp(a, 0, wk.w - 1), std::clamp(b, 0, wk.w - 1)});
    }
    std::vector<double> dark(lanes.size());
    auto mean = [](const int* r, const int* g, Span s) {
        long long sum = 0;
        for (int x = s.a; x <= s.b; ++x)
            sum += r[x] - g[x];
        return static_cast<double>(sum) / (s.b - s.a + 1);
    };
    for (int y = 0; y < wk.h; ++y) {
        const int* r = wk.row(y);
        const int* g = wk.bgRow(y);
        std::vector<double> gapMean(gaps.size());
        for (size_t k = 0; k < gaps.size(); ++k)
            gapMean[k] = mean(r, g, gaps[k]);
        for (size_t k = 0; k < lanes.size(); ++k) {
            const double left = k > 0 ? gapMean[k - 1] : gapMean[k];
            const double right = k < gaps.size() ? gapMean[k] : gapMean[k - 1];
            dark[k] = std::min(left, right) - mean(r, g, mids[k]);
        }
        std::nth_element(dark.begin(), dark.begin() + static_cast<std::ptrdiff_t>(dark.size() / 2), dark.end());
        out[static_cast<size_t>(y)] = dark[dark.size() / 2];
    }
    return out;
}

// The well contrast lightly smoothed, and the least value along a row of wells: five times
// the contrast's noise and the given share of the lanes' strongest brightness over the gel.
struct WellRows {
    Profile w;
    double least = 0;
};

WellRows wellRows(const Profile& contrast, double share)
{
    const int radius = std::max(1, static_cast<int>(contrast.size()) / 400);
    WellRows r;
    r.w = boxSmooth(contrast, radius);
    r.least = std::max(5 * noiseOf(contrast) / std::sqrt(2.0 * radius + 1), -share * *std::min_element(r.w.begin(), r.w.end()));
    return r;
}

// Rows at which a second (third...) comb's wells part a region into tiers, where no long empty
// stretch does: the rows where the lanes run clearly darker than the gel beside them (the well
// contrast above five times its noise and a tenth of the lanes' strongest brightness over the
// gel), a run shorter than an eighth of the height, with a fifth of the lanes' brightness over
// the gel above and below it. A tier starts half the run's height above it, taking in the rims
// of the slots, and spans an eighth of the height at least.
std::vector<int> wellStarts(const Profile& contrast)
{
    const int n = static_cast<int>(contrast.size());
    std::vector<int> starts{0};
    const auto [w, least] = wellRows(contrast, 0.1);
    Profile cumulative(static_cast<size_t>(n) + 1, 0.0);
    for (int i = 0; i < n; ++i)
        cumulative[static_cast<size_t>(i) + 1] = cumulative[static_cast<size_t>(i)] + std::max(0.0, -w[static_cast<size_t>(i)]);
    const double total = cumulative[static_cast<size_t>(n)];
    for (int i = 0; i < n && total > 0 && least > 0;) {
        if (!(w[static_cast<size_t>(i)] > least)) {
            ++i;
            continue;
        }
        int j = i;
        while (j + 1 < n && w[static_cast<size_t>(j) + 1] > least)
            ++j;
        const int start = std::max(0, i - (j - i + 1) / 2);
        if (8 * (j - i + 1) < n && cumulative[static_cast<size_t>(start)] >= 0.2 * total &&
            total - cumulative[static_cast<size_t>(j) + 1] >= 0.2 * total && 8 * (start - starts.back()) >= n &&
            8 * (n - start) >= n)
            starts.push_back(start);
        i = j + 1;
    }
    starts.push_back(n);
    return starts;
}

// Moving average with Gaussian weights of standard deviation sigma, to three sigma; at the ends
// the weights are cut and renormalised instead of reading past them.
Profile gaussSmooth(const Profile& v, double sigma)
{
    const int n = static_cast<int>(v.size());
    const int r = std::max(1, static_cast<int>(std::ceil(3 * sigma)));
    std::vector<double> w(static_cast<size_t>(2 * r + 1));
    for (int i = -r; i <= r; ++i)
        w[static_cast<size_t>(i + r)] = std::exp(-0.5 * i * i / (sigma * sigma));
    double total = 0;
    for (double x : w)
        total += x;
    for (double& x : w)
        x /= total;
    Profile out(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        double sum = 0;
        if (i >= r && i + r < n) {
            const double* in = v.data() + (i - r);
            for (int j = 0; j <= 2 * r; ++j)
                sum += w[static_cast<size_t>(j)] * in[j];
            out[static_cast<size_t>(i)] = sum;
            continue;
        }
        double weight = 0;
        for (int j = std::max(0, i - r); j <= std::min(n - 1, i + r); ++j) {
            sum += w[static_cast<size_t>(j - i + r)] * v[static_cast<size_t>(j)];
            weight += w[static_cast<size_t>(j - i + r)];
        }
        out[static_cast<size_t>(i)] = sum / weight;
    }
    return out;
}

// A band in a lane profile: a peak of its own, or a shoulder on the flank of a brighter one.
struct BandPeak {
    Peak peak;
    double hwL = 0, hwR = 0; // half-widths at half prominence, rows
    bool shoulder = false;
};

// What the search for a lane's bands keeps for the second pass, which adds the shoulders once
// the gel's band width is known, and for the boxes.
struct LaneSearch {
    Profile s;            // the profile, lightly smoothed
    Profile rim;          // lane minus the gel beside it, smoothed; empty without neighbours
    double rimUsual = 0, rimNoise = 0;
    double least = 0;     // least prominence of a band
    double typical = 0;   // the lane's median
    double noise = 0;     // of the unsmoothed profile
    std::vector<BandPeak> bands; // by position
    Profile curvature;    // second difference at the band scale, once shoulders were sought
};

// The rims of a well stand beside its slot, which is darker than the gel between the lanes at
// the same rows; no band's valley falls below that. The lane's usual offset from the gaps (its
// lower quartile: a lane may run a little darker or brighter than the gel beside it) is allowed
// for, and the noise, and a tenth of the band's prominence.
bool isWellRim(const LaneSearch& ls, int pos, double hwL, double hwR, double prominence)
{
    if (ls.rim.empty())
        return false;
    const int n = static_cast<int>(ls.rim.size());
    const int a = std::max(0, static_cast<int>(pos - 3 * std::max(hwL, 1.0)));
    const int b = std::min(n - 1, static_cast<int>(pos + 3 * std::max(hwR, 1.0)));
    return *std::min_element(ls.rim.begin() + a, ls.rim.begin() + b + 1) <
           ls.rimUsual - std::max(ls.rimNoise, 0.1 * prominence);
}

// The row below a tier's row of wells (rows y0..y1 of the well contrast of the work raster's
// rows, as wellContrast gives it for the tier's lanes), or y0 when it shows
// none: the strongest run of rows in the tier's top 40% where its lanes run clearly darker than
// the gel beside them (the well contrast above five times its noise and a twentieth of the
// lanes' strongest brightness over the gel: the slots of a comb are shallower than the
// brightest band is high), and its height again for the bright lower rims of the slots. DNA
// runs down from the wells: nothing above them is a band.
int belowWells(const Profile& all, int y0, int y1)
{
    const Profile contrast(all.begin() + y0, all.begin() + y1 + 1);
    const int n = static_cast<int>(contrast.size());
    const auto [w, least] = wellRows(contrast, 0.05);
    // The strongest run: a thin dark line above the wells (the shadow of a tray's lip) is not
    // their row.
    int best = -1, bestEnd = -1;
    double strongest = 0;
    for (int i = 0; 5 * i < 2 * n && least > 0; ++i) {
        if (!(w[static_cast<size_t>(i)] > least))
            continue;
        int j = i;
        double top = 0;
        while (j + 1 < n && w[static_cast<size_t>(j) + 1] > least)
            ++j;
        for (int k = i; k <= j; ++k)
            top = std::max(top, w[static_cast<size_t>(k)]);
        if (top > strongest) {
            strongest = top;
            best = i;
            bestEnd = j;
        }
        i = j;
    }
    if (best >= 0)
        return y0 + std::min(n - 1, bestEnd + (bestEnd - best + 1) + 1);
    return y0;
}

// A peak whose rows rise between the lanes by this share of its prominence runs across the gel.
constexpr double kAcrossShare = 0.85;

// The peaks of one lane's profile that are bands (rows relative to the lane's top), with their
// half-widths between the neighbouring peaks.
LaneSearch findPeakBands(const Profile& profile, const Profile& gap, double range, const Options& o)
{
    LaneSearch ls;
    const int n = static_cast<int>(profile.size());
    const int radius = std::max(1, n / 600);
    ls.s = boxSmooth(profile, radius);
    const Profile& s = ls.s;
    ls.noise = noiseOf(profile);
    ls.least = std::max(5.0 * ls.noise / std::sqrt(2.0 * radius + 1), o.minProminence * range);
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
        Profile order(ls.rim);
        std::nth_element(order.begin(), order.begin() + n / 4, order.end());
        ls.rimUsual = order[static_cast<size_t>(n / 4)];
        ls.rimNoise = 5.0 * noiseOf(diff) / std::sqrt(2.0 * radius + 1);
    }
    // The rim test looks past the neighbouring peaks, as far as three half-widths reach.
    peaks.erase(std::remove_if(peaks.begin(), peaks.end(),
                               [&](const Peak& p) {
                                   const double half = s[p.pos] - 0.5 * p.prominence;
                                   return isWellRim(ls, p.pos, p.pos - crossing(s, p.pos, -1, half, 0),
                                                    crossing(s, p.pos, +1, half, n - 1) - p.pos, p.prominence);
                               }),
                peaks.end());
    // A line straight across the gel (a dye front, the gel's or a tray's edge, a stacking-gel
    // boundary) rises between the lanes as well as in them; a band stays inside its lane.
    if (!gap.empty()) {
        const Profile g = boxSmooth(gap, radius);
        peaks.erase(std::remove_if(peaks.begin(), peaks.end(),
                                   [&](const Peak& p) {
                                       const double half = s[p.pos] - 0.5 * p.prominence;
                                       const int a = std::max(0, static_cast<int>(std::floor(3 * crossing(s, p.pos, -1, half, 0) - 2 * p.pos)));
                                       const int b = std::min(n - 1, static_cast<int>(std::ceil(3 * crossing(s, p.pos, +1, half, n - 1) - 2 * p.pos)));
                                       const double floor = std::max(*std::min_element(g.begin() + a, g.begin() + p.pos + 1),
                                                                     *std::min_element(g.begin() + p.pos, g.begin() + b + 1));
                                       return g[static_cast<size_t>(p.pos)] - floor >= kAcrossShare * p.prominence;
                                   }),
                    peaks.end());
    }
    for (size_t k = 0; k < peaks.size(); ++k) {
        const int p = peaks[k].pos;
        const int lo = k > 0 ? peaks[k - 1].pos : 0;
        const int hi = k + 1 < peaks.size() ? peaks[k + 1].pos : n - 1;
        const double half = s[p] - 0.5 * peaks[k].prominence;
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
void addShoulders(LaneSearch& ls, const Profile& profile, double sigma)
{
    const int n = static_cast<int>(profile.size());
    if (!(sigma > 0.5) || n < 8)
        return;
    const double ss = 0.5 * sigma, sp = std::sqrt(sigma * sigma + ss * ss);
    const Profile g = gaussSmooth(profile, ss);
    Profile& c = ls.curvature;
    c.assign(static_cast<size_t>(n), 0.0);
    for (int i = 1; i + 1 < n; ++i)
        c[static_cast<size_t>(i)] = g[static_cast<size_t>(i - 1)] - 2 * g[static_cast<size_t>(i)] + g[static_cast<size_t>(i + 1)];
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
        if (clear)
            spread.push_back(std::fabs(c[static_cast<size_t>(i)]));
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
        if (height < ls.least || ls.s[static_cast<size_t>(i)] - ls.typical < ls.least)
            continue;
        // Away from the peaks: two sigma beyond their half-prominence span, where the corners
        // of a flat top no longer bend the profile.
        bool clear = true;
        for (const BandPeak& b : ls.bands)
            clear = clear && (i < b.peak.at - b.hwL - 2 * sigma || i > b.peak.at + b.hwR + 2 * sigma);
        if (!clear)
            continue;
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
        if (!isWellRim(ls, i, b.hwL, b.hwR, height))
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
        if (clear)
            kept.push_back(b);
    }
    ls.bands.insert(ls.bands.end(), kept.begin(), kept.end());
    std::sort(ls.bands.begin(), ls.bands.end(), [](const BandPeak& a, const BandPeak& b) { return a.peak.at < b.peak.at; });
}

// The row sums over a lane's band box, for its bands' volumes.
struct LaneSums {
    Profile sums, background; // background only with the moving-minimum background
    std::vector<int> saturated;
};

LaneSums laneSums(const Lane& lane, const Work& wk, const Options& o)
{
    LaneSums ls;
    rowSums(wk, lane.boxLeft - wk.x0, lane.boxRight - wk.x0, lane.top - wk.y0, lane.bottom - wk.y0, laneShifts(lane),
            ls.sums, o.background == VolumeBackground::MovingMinimum ? &ls.background : nullptr, ls.saturated);
    return ls;
}

// Boxes and volumes of one lane's bands. Two peaks part at the lowest row between them; a
// shoulder parts from its neighbours where the profile bends up most (the largest second
// difference between them), as a valley would. Each row belongs to one band's box at most.
void measureBands(Lane& lane, const Work& wk, const LaneSearch& ls, const LaneSums& rows, const Options& o)
{
    const Profile& s = ls.s;
    const int n = static_cast<int>(s.size());
    const int boxLeft = lane.boxLeft - wk.x0;
    const int boxRight = lane.boxRight - wk.x0;
    const Profile& sums = rows.sums;
    const Profile& bgSums = rows.background;
    const std::vector<int>& sat = rows.saturated;
    const bool minimum = o.background == VolumeBackground::MovingMinimum;

    const std::vector<BandPeak>& bands = ls.bands;
    const size_t count = bands.size();
    std::vector<int> cuts;      // cuts[k]: the last row of band k's share, before band k + 1
    std::vector<bool> joined;   // joined[k]: bands k and k + 1 part without a valley
    for (size_t k = 0; k + 1 < count; ++k) {
        const int a = bands[k].peak.pos, b = bands[k + 1].peak.pos;
        int cut = argMin(s, a, b);
        const bool shoulder = (bands[k].shoulder || bands[k + 1].shoulder) && b - a >= 2 && !ls.curvature.empty();
        if (shoulder) {
            cut = a + 1;
            for (int i = a + 1; i < b; ++i)
                if (ls.curvature[static_cast<size_t>(i)] > ls.curvature[static_cast<size_t>(cut)])
                    cut = i;
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
        const int top = tops[k], bottom = bottoms[k];
        Band b;
        b.peakY = lane.top + bp.peak.at;
        b.x = lane.centreAt(b.peakY);
        const int shift = static_cast<int>(std::lround(b.x - lane.centre));
        b.top = lane.top + top;
        b.bottom = lane.top + bottom;
        b.left = std::max(0, boxLeft + shift) + wk.x0;
        b.right = std::min(wk.w - 1, boxRight + shift) + wk.x0;
        b.prominence = bp.peak.prominence;
        b.width = bp.hwL + bp.hwR;
        b.shoulder = bp.shoulder;
        for (int y = top; y <= bottom; ++y) {
            b.rawVolume += sums[static_cast<size_t>(y)];
            b.saturatedPixels += sat[static_cast<size_t>(y)];
            if (minimum)
                b.backgroundVolume += bgSums[static_cast<size_t>(y)];
        }
        if (!minimum) {
            // The line between the mean row sums around the top and the bottom row; bands that
            // part without a valley (a shoulder and its neighbours) share one line from the top
            // of the first to the bottom of the last, and each takes what lies above it in its
            // own rows, as a drop line parts overlapping peaks.
            size_t first = k, last = k;
            while (first > 0 && joined[first - 1])
                --first;
            while (last + 1 < count && joined[last])
                ++last;
            const int t0 = tops[first], b0 = bottoms[last];
            const double st = meanOf(sums, t0 - 1, t0 + 1), sb = meanOf(sums, b0 - 1, b0 + 1);
            const double middle = 0.5 * (top + bottom);
            const double line = b0 > t0 ? st + (sb - st) * (middle - t0) / (b0 - t0) : 0.5 * (st + sb);
            b.backgroundVolume = line * (bottom - top + 1);
        }
        b.correctedVolume = b.rawVolume - b.backgroundVolume;
        b.saturated = b.saturatedPixels > 0;
        lane.bands.push_back(b);
    }
}

// How sharply a band's sides rise across the lane: on the column profile of its rows (the
// half-prominence rows around the peak, over the lane and most of the gel beside it), the
// columns from 20% to 80% of the way from the floor beside the lane up to the lane's middle
// (the median of its middle half), walked in from the floor, averaged over the sides that rise.
// A band keeps the straight sides of its well; DNA that spread sideways (primer dimers,
// degraded samples) rises over twice as many columns.
double edgeWidthOf(const Lane& lane, const Band& band, const Work& wk)
{
    const double hw = std::max(1.0, 0.5 * band.width);
    const int y0 = std::max({0, band.top - wk.y0, static_cast<int>(std::lround(band.peakY - hw)) - wk.y0});
    const int y1 = std::min({wk.h - 1, band.bottom - wk.y0, static_cast<int>(std::lround(band.peakY + hw)) - wk.y0});
    const double c = lane.centreAt(band.peakY) - wk.x0, half = 0.5 * (lane.right - lane.left);
    const int xa = std::max(0, static_cast<int>(std::floor(c - 1.6 * half)));
    const int xb = std::min(wk.w - 1, static_cast<int>(std::ceil(c + 1.6 * half)));
    const int ci = static_cast<int>(std::lround(c)) - xa;
    const int qa = static_cast<int>(std::lround(c - 0.5 * half)) - xa, qb = static_cast<int>(std::lround(c + 0.5 * half)) - xa;
    if (y1 < y0 || half < 2 || qa < 0 || qb >= xb - xa + 1 || qb < qa)
        return 0;
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
            if (p[static_cast<size_t>(k)] < p[static_cast<size_t>(fi)])
                fi = k;
        const double floor = p[static_cast<size_t>(fi)];
        if (!(top > floor) || fi == ci)
            continue;
        const auto inward = [&](double level) {
            for (int k = fi; k != ci; k -= dir) {
                const double a = p[static_cast<size_t>(k)], b = p[static_cast<size_t>(k - dir)];
                if (b >= level)
                    return k - dir * (level - a) / (b - a);
            }
            return static_cast<double>(ci);
        };
        total += std::fabs(inward(floor + 0.8 * (top - floor)) - inward(floor + 0.2 * (top - floor)));
        ++sides;
    }
    return sides > 0 ? total / sides : 0.0;
}

// Band numbers and relative volumes, once the lane's bands are final.
void numberBands(Lane& lane)
{
    double total = 0;
    for (const Band& b : lane.bands)
        total += std::max(0.0, b.correctedVolume);
    for (size_t k = 0; k < lane.bands.size(); ++k) {
        lane.bands[k].index = static_cast<int>(k);
        lane.bands[k].relativeVolume = total > 0 ? lane.bands[k].correctedVolume / total : 0.0;
    }
}

Analysis analyseGrey(const GreyImage& g, const Options& o)
{
    if (g.width <= 0 || g.height <= 0 || g.pixels.size() != static_cast<size_t>(g.width) * g.height)
        throw std::invalid_argument("the image is empty");
    if (o.tiers < 0)
        throw std::invalid_argument("the tier count cannot be negative");
    if (o.laneCount < 0)
        throw std::invalid_argument("the lane count cannot be negative");
    Region r = o.region;
    if (r.width == 0)
        r = Region{0, 0, g.width, g.height};
    if (r.x < 0 || r.y < 0 || r.width < 1 || r.height < 1 || r.x > g.width - r.width || r.y > g.height - r.height)
        throw std::invalid_argument("the region " + std::to_string(r.x) + " " + std::to_string(r.y) + " " +
                                    std::to_string(r.width) + " x " + std::to_string(r.height) +
                                    " does not lie inside the image");
    if (r.width < 16 || r.height / 16 < std::max(1, o.tiers))
        throw std::invalid_argument("the region is too small for a gel (16 x 16 pixels per tier at least)");

    Analysis a;
    a.width = g.width;
    a.height = g.height;
    a.maxValue = g.maxValue;
    a.greyConversion = g.conversion;

    Work wk;
    wk.x0 = r.x;
    wk.y0 = r.y;
    wk.w = r.width;
    wk.h = r.height;
    wk.maxValue = g.maxValue;
    wk.values = RasterImageGS16(r.width, r.height);
    wk.background = RasterImageGS16(r.width, r.height);
    for (int y = 0; y < r.height; ++y)
        std::copy_n(&g.pixels[static_cast<size_t>(r.y + y) * g.width + r.x], r.width,
                    wk.values.pixels + static_cast<size_t>(y) * r.width);

    a.polarity = o.polarity;
    if (a.polarity == Polarity::Auto) {
        a.polarity = detectPolarity(wk.values.pixels, static_cast<size_t>(r.width) * r.height, g.maxValue);
        a.polarityDetected = true;
    }
    if (a.polarity == Polarity::DarkBands) {
        int* p = wk.values.pixels;
        for (size_t i = 0, n = static_cast<size_t>(r.width) * r.height; i < n; ++i)
            p[i] = g.maxValue - p[i];
    }

    const int hw = o.backgroundHalfWidth > 0 ? o.backgroundHalfWidth : std::max(2, r.width / 16);
    const int hh = o.backgroundHalfHeight > 0 ? o.backgroundHalfHeight : std::max(2, r.height / 16);
    ImageProcessing().generateBGViaMinFilter(&wk.values, &wk.background, hw, hh);

    // Column profile per tier and row profile, of the background-corrected pixels.
    Profile rows(r.height, 0.0);
    std::vector<long long> acc(r.width);
    for (int y = 0; y < r.height; ++y) {
        const int* v = wk.row(y);
        const int* b = wk.bgRow(y);
        long long sum = 0;
        for (int x = 0; x < r.width; ++x) {
            const int c = std::max(0, v[x] - b[x]);
            sum += c;
        }
        rows[y] = static_cast<double>(sum) / r.width;
    }
    std::vector<int> starts = tierStarts(rows, o.tiers);
    // Without a long empty stretch, the lanes of the whole region show where a row of wells
    // parts it; they are the lanes of its one tier when none does.
    std::vector<Lane> whole;
    Profile wholeContrast;
    if (o.tiers == 0 && starts.size() == 2) {
        whole = tierLanes(wk, 0, wk.h - 1, o);
        wholeContrast = wellContrast(wk, whole);
        starts = wellStarts(wholeContrast);
    }

    const int tierCount = static_cast<int>(starts.size()) - 1;
    std::vector<int> firstBandRow; // per lane: the row below its tier's wells
    for (int t = 0; t < tierCount; ++t) {
        const int y0 = starts[t], y1 = starts[t + 1] - 1;
        const bool one = tierCount == 1 && !whole.empty();
        std::vector<Lane> lanes = one ? whole : tierLanes(wk, y0, y1, o);
        const int wells = (lanes.size() >= 2 ? belowWells(one ? wholeContrast : wellContrast(wk, lanes), y0, y1) : y0) + wk.y0;
        for (size_t k = 0; k < lanes.size(); ++k) {
            Lane& l = lanes[k];
            // Lane edges from the profile; the volume box reaches a tenth of the width further,
            // to the middle of the gap at most.
            const double margin = 0.1 * (l.right - l.left);
            double left = l.left - margin, right = l.right + margin;
            if (k > 0)
                left = std::max(left, 0.5 * (lanes[k - 1].right + l.left) + 0.5);
            if (k + 1 < lanes.size())
                right = std::min(right, 0.5 * (l.right + lanes[k + 1].left) - 0.5);
            l.boxLeft = static_cast<int>(std::ceil(std::max(0.0, left))) + wk.x0;
            l.boxRight = static_cast<int>(std::floor(std::min(r.width - 1.0, right))) + wk.x0;
            l.left += wk.x0;
            l.right += wk.x0;
            l.centre += wk.x0;
            l.tier = t;
            l.middle = 0.5 * (y0 + y1) + wk.y0;
            l.pathTop += wk.y0;
            l.pathBottom += wk.y0;
            l.top = y0 + wk.y0;
            l.bottom = y1 + wk.y0;
            l.index = static_cast<int>(a.lanes.size());
            a.lanes.push_back(l);
            firstBandRow.push_back(wells);
        }
    }

    // Lane profiles: the middle half of each lane, row by row.
    std::vector<Profile> profiles;
    double lowest = 0, highest = 0;
    for (const Lane& l : a.lanes) {
        const double quarter = 0.25 * (l.right - l.left);
        const int c0 = std::max(0, static_cast<int>(std::lround(l.centre - quarter)) - wk.x0);
        const int c1 = std::min(wk.w - 1, std::max(c0, static_cast<int>(std::lround(l.centre + quarter)) - wk.x0));
        Profile sums;
        std::vector<int> sat;
        rowSums(wk, c0, c1, l.top - wk.y0, l.bottom - wk.y0, laneShifts(l), sums, nullptr, sat);
        for (double& v : sums)
            v /= (c1 - c0 + 1);
        const auto [mn, mx] = std::minmax_element(sums.begin(), sums.end());
        if (profiles.empty() || *mn < lowest)
            lowest = *mn;
        if (profiles.empty() || *mx > highest)
            highest = *mx;
        profiles.push_back(std::move(sums));
    }
    std::vector<double> widths;
    std::vector<LaneSearch> searches;
    for (size_t k = 0; k < a.lanes.size(); ++k) {
        // The gel between this lane's box and its neighbours' in the same tier, row by row: the
        // darker of the two gaps (a bright band's glow spills into one), none at the tier's ends.
        const Lane& l = a.lanes[k];
        Profile gap, side;
        std::vector<int> sat;
        const std::vector<int> shifts = laneShifts(l);
        for (int dir : {-1, 1}) {
            const size_t m = dir < 0 ? k - 1 : k + 1;
            const bool neighbour = !(dir < 0 && k == 0) && m < a.lanes.size() && a.lanes[m].tier == l.tier;
            const int g0 = neighbour ? (dir < 0 ? a.lanes[m].boxRight + 1 : l.boxRight + 1) - wk.x0 : 0;
            const int g1 = neighbour ? (dir < 0 ? l.boxLeft - 1 : a.lanes[m].boxLeft - 1) - wk.x0 : -1;
            if (g1 < g0) {
                gap.clear();
                break;
            }
            rowSums(wk, g0, g1, l.top - wk.y0, l.bottom - wk.y0, shifts, side, nullptr, sat);
            for (double& v : side)
                v /= g1 - g0 + 1;
            if (gap.empty())
                gap = side;
            else
                for (size_t i = 0; i < gap.size(); ++i)
                    gap[i] = std::min(gap[i], side[i]);
        }
        searches.push_back(findPeakBands(profiles[k], gap, highest - lowest, o));
        for (const BandPeak& b : searches.back().bands)
            widths.push_back(b.hwL + b.hwR);
    }
    // Shoulders are sought at the scale of the gel's usual band: the median width at half
    // prominence of its peaks, 2.355 standard deviations of a Gaussian band.
    double sigma = 0;
    if (widths.size() >= 3) {
        std::nth_element(widths.begin(), widths.begin() + widths.size() / 2, widths.end());
        sigma = widths[widths.size() / 2] / 2.355;
    }
    widths.clear();
    for (size_t k = 0; k < a.lanes.size(); ++k) {
        LaneSearch& ls = searches[k];
        if (o.shoulders)
            addShoulders(ls, profiles[k], sigma);
        // A shoulder holds at least a third of the volume of a band of the least prominence and the
        // usual width across the lane: the corners of a flat, saturated top bend the profile as
        // a shoulder does, but the box between them and the top holds nothing.
        const Lane& l = a.lanes[k];
        const double least = 0.35 * ls.least * sigma * std::sqrt(2 * 3.14159265358979) * (l.boxRight - l.boxLeft + 1);
        const LaneSums sums = laneSums(l, wk, o);
        for (;;) {
            a.lanes[k].bands.clear();
            measureBands(a.lanes[k], wk, ls, sums, o);
            std::vector<BandPeak> kept;
            for (size_t i = 0; i < ls.bands.size(); ++i)
                if (!ls.bands[i].shoulder || a.lanes[k].bands[i].correctedVolume >= least)
                    kept.push_back(ls.bands[i]);
            if (kept.size() == ls.bands.size())
                break;
            ls.bands = std::move(kept);
        }
        for (Band& b : a.lanes[k].bands) {
            b.lane = static_cast<int>(k);
            widths.push_back(b.width);
        }
    }
    // Above the wells lie the edge of the gel or its tray and the wells' rims, never a band.
    for (Lane& l : a.lanes)
        l.bands.erase(std::remove_if(l.bands.begin(), l.bands.end(),
                                     [&](const Band& b) { return b.peakY < firstBandRow[static_cast<size_t>(l.index)]; }),
                      l.bands.end());
    // A smear or a slow rise of the lane is far wider than the gel's bands: not a band. A
    // saturated band is a band however wide: its top is clipped flat and its glow spreads.
    if (!widths.empty()) {
        std::nth_element(widths.begin(), widths.begin() + widths.size() / 2, widths.end());
        const double widest = 4 * widths[widths.size() / 2];
        for (Lane& l : a.lanes)
            l.bands.erase(std::remove_if(l.bands.begin(), l.bands.end(),
                                         [&](const Band& b) { return b.width > widest && !b.saturated; }),
                          l.bands.end());
    }
    // Diffuse bands: sides that rise over more columns than the gel's bands usually do.
    std::vector<double> edges;
    for (Lane& l : a.lanes)
        for (Band& b : l.bands)
            if ((b.edgeWidth = edgeWidthOf(l, b, wk)) > 0)
                edges.push_back(b.edgeWidth);
    if (edges.size() >= 5 && o.diffuseEdge > 0) {
        std::nth_element(edges.begin(), edges.begin() + edges.size() / 2, edges.end());
        const double widest = o.diffuseEdge * edges[edges.size() / 2];
        for (Lane& l : a.lanes)
            for (Band& b : l.bands)
                b.diffuse = b.edgeWidth > widest;
    }
    for (Lane& l : a.lanes)
        numberBands(l);
    if (a.lanes.empty())
        a.warnings.push_back("no lanes found");
    for (const Lane& l : a.lanes)
        for (const Band& b : l.bands)
            if (b.saturated) {
                a.warnings.push_back("saturated bands: their volumes are lower bounds");
                break;
            }
    std::sort(a.warnings.begin(), a.warnings.end());
    a.warnings.erase(std::unique(a.warnings.begin(), a.warnings.end()), a.warnings.end());

    if (o.ladderLane >= 0)
        calibrate(a, o.ladderLane, o.ladderSizes, o.sizeFit);
    return a;
}

int luma(int r, int g, int b)
{
    return (299 * r + 587 * g + 114 * b + 500) / 1000;
}

} // namespace

const char* polarityName(Polarity polarity)
{
    switch (polarity) {
    case Polarity::Auto: return "auto";
    case Polarity::BrightBands: return "bright bands";
    case Polarity::DarkBands: return "dark bands";
    }
    return "auto";
}

std::vector<Band> Analysis::bands() const
{
    std::vector<Band> all;
    for (const Lane& l : lanes)
        all.insert(all.end(), l.bands.begin(), l.bands.end());
    return all;
}

double SizeCalibration::sizeAt(double distance, bool* extrapolated) const
{
    if (extrapolated)
        *extrapolated = false;
    if (!valid() || sizes.size() != positions.size())
        return 0;
    const std::vector<double>& x = positions;
    const size_t n = x.size();
    std::vector<double> y(n);
    for (size_t k = 0; k < n; ++k)
        y[k] = std::log10(sizes[k]);
    size_t k = 0;
    while (k + 2 < n && distance > x[k + 1])
        ++k;
    const bool outside = distance < x.front() || distance > x.back();
    if (extrapolated)
        *extrapolated = outside;
    const double h = x[k + 1] - x[k];
    const double t = (distance - x[k]) / h;
    if (fit == SizeFit::PiecewiseLinear || outside)
        return std::pow(10.0, y[k] + t * (y[k + 1] - y[k]));

    // Fritsch-Carlson tangents: the mean of the neighbouring secants (the secant at the ends),
    // zero where the secants change sign, and scaled back into the circle of radius 3 around
    // each segment's secant, which keeps the cubic monotone.
    std::vector<double> d(n - 1), m(n);
    for (size_t i = 0; i + 1 < n; ++i)
        d[i] = (y[i + 1] - y[i]) / (x[i + 1] - x[i]);
    m[0] = d[0];
    m[n - 1] = d[n - 2];
    for (size_t i = 1; i + 1 < n; ++i)
        m[i] = d[i - 1] * d[i] > 0 ? 0.5 * (d[i - 1] + d[i]) : 0.0;
    for (size_t i = 0; i + 1 < n; ++i) {
        if (d[i] == 0) {
            m[i] = m[i + 1] = 0;
            continue;
        }
        const double a = m[i] / d[i], b = m[i + 1] / d[i];
        if (a * a + b * b > 9) {
            const double s = 3 / std::sqrt(a * a + b * b);
            m[i] = s * a * d[i];
            m[i + 1] = s * b * d[i];
        }
    }
    const double t2 = t * t, t3 = t2 * t;
    const double v = (2 * t3 - 3 * t2 + 1) * y[k] + (t3 - 2 * t2 + t) * h * m[k] + (-2 * t3 + 3 * t2) * y[k + 1] +
                     (t3 - t2) * h * m[k + 1];
    return std::pow(10.0, v);
}

std::vector<double> SizeCalibration::leaveOneOut() const
{
    std::vector<double> out;
    if (positions.size() < 3 || sizes.size() != positions.size())
        return out;
    for (size_t k = 0; k < positions.size(); ++k) {
        SizeCalibration c = *this;
        c.positions.erase(c.positions.begin() + static_cast<std::ptrdiff_t>(k));
        c.sizes.erase(c.sizes.begin() + static_cast<std::ptrdiff_t>(k));
        out.push_back(c.sizeAt(positions[k]));
    }
    return out;
}

Polarity detectPolarity(const int* pixels, size_t count, int maxValue)
{
    if (count == 0 || maxValue <= 0)
        return Polarity::BrightBands;
    std::vector<size_t> histogram(static_cast<size_t>(maxValue) + 1, 0);
    for (size_t i = 0; i < count; ++i)
        ++histogram[static_cast<size_t>(std::clamp(pixels[i], 0, maxValue))];
    auto percentile = [&](double q) {
        const size_t target = static_cast<size_t>(q * (count - 1));
        size_t seen = 0;
        for (size_t v = 0; v < histogram.size(); ++v) {
            seen += histogram[v];
            if (seen > target)
                return static_cast<double>(v);
        }
        return static_cast<double>(maxValue);
    };
    const double p1 = percentile(0.01), p50 = percentile(0.5), p99 = percentile(0.99);
    return p99 - p50 >= p50 - p1 ? Polarity::BrightBands : Polarity::DarkBands;
}

GreyImage greyImage(const DalvoImage& image)
{
    if (!image.isValid() || image.getWidth() == 0 || image.getHeight() == 0)
        throw std::invalid_argument("the image is empty");
    GreyImage g;
    g.width = static_cast<int>(image.getWidth());
    g.height = static_cast<int>(image.getHeight());
    g.pixels.resize(static_cast<size_t>(g.width) * g.height);
    const FREE_IMAGE_TYPE type = image.getImageType();
    const unsigned bpp = image.getBitsPerPixel();
    const RGBQUAD* palette = image.getPalette();
    bool identity = palette != nullptr && image.getPaletteSize() >= 256 * sizeof(RGBQUAD);
    if (palette && bpp == 8)
        for (int i = 0; i < 256 && identity; ++i)
            identity = palette[i].rgbRed == i && palette[i].rgbGreen == i && palette[i].rgbBlue == i;
    if (type == FIT_UINT16) {
        g.maxValue = 65535;
        g.conversion = "16-bit grey values as stored";
    } else if (type == FIT_RGB16) {
        g.maxValue = 65535;
        g.conversion = "luma of 16-bit RGB: (299 R + 587 G + 114 B + 500) / 1000";
    } else if (type == FIT_BITMAP && bpp == 8) {
        g.maxValue = 255;
        g.conversion = !palette || identity ? "8-bit grey values as stored"
                                            : "8-bit palette indices looked up, luma of the palette colour";
    } else if (type == FIT_BITMAP && (bpp == 24 || bpp == 32)) {
        g.maxValue = 255;
        g.conversion = "luma of 8-bit RGB: (299 R + 587 G + 114 B + 500) / 1000";
    } else {
        throw std::invalid_argument("a " + std::to_string(bpp) + "-bit image of this type has no grey form for gel analysis");
    }
    for (int y = 0; y < g.height; ++y) {
        const BYTE* line = image.getScanLine(static_cast<unsigned>(g.height - 1 - y));
        int* out = &g.pixels[static_cast<size_t>(y) * g.width];
        for (int x = 0; x < g.width; ++x) {
            if (type == FIT_UINT16) {
                out[x] = reinterpret_cast<const WORD*>(line)[x];
            } else if (type == FIT_RGB16) {
                const FIRGB16& c = reinterpret_cast<const FIRGB16*>(line)[x];
                out[x] = luma(c.red, c.green, c.blue);
            } else if (bpp == 8) {
                const BYTE i = line[x];
                out[x] = !palette || identity ? i : luma(palette[i].rgbRed, palette[i].rgbGreen, palette[i].rgbBlue);
            } else {
                const BYTE* c = line + x * (bpp / 8);
                out[x] = luma(c[FI_RGBA_RED], c[FI_RGBA_GREEN], c[FI_RGBA_BLUE]);
            }
        }
    }
    return g;
}

Analysis analyse(const RasterImageGS16& raster, const Options& options)
{
    GreyImage g;
    g.width = raster.width;
    g.height = raster.height;
    g.maxValue = raster.maxPixelValue;
    g.conversion = "grey values of the raster";
    if (raster.pixels && raster.width > 0 && raster.height > 0)
        g.pixels.assign(raster.pixels, raster.pixels + static_cast<size_t>(raster.width) * raster.height);
    return analyseGrey(g, options);
}

Analysis analyse(const DalvoImage& image, const Options& options)
{
    return analyseGrey(greyImage(image), options);
}

namespace {

// Which ladder bands go with which sizes, as (band, size) index pairs. Both lists run from the
// top; the shorter one is paired in order with a part of the longer one. Migration is a smooth
// function of log size, so the logarithm of the slope of log10(size) against distance, segment
// by segment, runs smoothly too, and a band paired with the wrong size makes it jump: the
// pairing kept has the least sum of its squared second differences (its first differences when
// only three pairs are kept). Leaving out the longer list's bottom entries costs a little less
// than others, as the smallest fragments run off the gel or fade first, which decides between
// pairings the spacing cannot tell apart. Fewer than three pairs, more than 24 left out, or lists
// too long to search (its memory grows as pairs times (left out + 1) cubed) are paired from the
// top, and searched is then false.
std::vector<std::pair<size_t, size_t>> pairLadder(const std::vector<double>& positions, const std::vector<double>& sizes,
                                                  bool& searched)
{
    const size_t k = positions.size(), m = sizes.size();
    const bool bandsShorter = k <= m;
    const size_t n = std::min(k, m), N = std::max(k, m), D = N - n + 1;
    // Pair t of the shorter list with entry t + d of the longer one.
    const auto pairOf = [&](size_t t, size_t d) {
        return bandsShorter ? std::make_pair(t, t + d) : std::make_pair(t + d, t);
    };
    std::vector<std::pair<size_t, size_t>> pairs;
    searched = !(n < 3 || D == 1 || D > 25 || n * D * D * D > 4000000);
    if (!searched) {
        for (size_t t = 0; t < n; ++t)
            pairs.push_back({t, t});
        return pairs;
    }
    // Log slope from pair t (offset d0) to pair t + 1 (offset d1).
    const auto g = [&](size_t t, size_t d0, size_t d1) {
        const auto [b0, s0] = pairOf(t, d0);
        const auto [b1, s1] = pairOf(t + 1, d1);
        return std::log(std::log10(sizes[s0] / sizes[s1]) / (positions[b1] - positions[b0]));
    };
    const auto skip = [&](size_t from, size_t to) { // entries from..to-1 of the longer list left out
        double c = 0;
        for (size_t i = from; i < to; ++i)
            c += 0.02 * static_cast<double>(N - 1 - i) / static_cast<double>(N);
        return c;
    };
    // cost[(t, a, b, c)]: pairs 0..t placed at offsets c, b, a for pairs t - 2, t - 1, t.
    const double none = std::numeric_limits<double>::infinity();
    const auto at = [&](size_t t, size_t a, size_t b, size_t c) { return ((t * D + a) * D + b) * D + c; };
    std::vector<double> cost(n * D * D * D, none);
    std::vector<unsigned char> back(n * D * D * D, 0);
    for (size_t c = 0; c < D; ++c)
        for (size_t b = c; b < D; ++b)
            for (size_t a = b; a < D; ++a)
                cost[at(2, a, b, c)] = skip(0, c) + skip(1 + c, 1 + b) + skip(2 + b, 2 + a);
    for (size_t t = 2; t + 1 < n; ++t)
        for (size_t c = 0; c < D; ++c)
            for (size_t b = c; b < D; ++b)
                for (size_t a = b; a < D; ++a) {
                    const double here = cost[at(t, a, b, c)];
                    if (here == none)
                        continue;
                    const double g2 = g(t - 2, c, b), g1 = g(t - 1, b, a);
                    for (size_t e = a; e < D; ++e) {
                        const double bend = g(t, a, e) - 2 * g1 + g2;
                        const double next = here + bend * bend + skip(t + 1 + a, t + 1 + e);
                        if (next < cost[at(t + 1, e, a, b)]) {
                            cost[at(t + 1, e, a, b)] = next;
                            back[at(t + 1, e, a, b)] = static_cast<unsigned char>(c);
                        }
                    }
                }
    std::vector<size_t> offset(n, 0);
    double best = none;
    for (size_t c = 0; c < D; ++c)
        for (size_t b = c; b < D; ++b)
            for (size_t a = b; a < D; ++a) {
                double total = cost[at(n - 1, a, b, c)] + skip(n + a, N);
                if (n == 3)
                    total += std::pow(g(1, b, a) - g(0, c, b), 2);
                if (total < best) {
                    best = total;
                    offset[n - 1] = a;
                    offset[n - 2] = b;
                    offset[n - 3] = c;
                }
            }
    for (size_t t = n - 1; t >= 3; --t)
        offset[t - 3] = back[at(t, offset[t], offset[t - 1], offset[t - 2])];
    for (size_t t = 0; t < n; ++t)
        pairs.push_back(pairOf(t, offset[t]));
    return pairs;
}

std::string number(double v)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g", v);
    return text;
}

} // namespace

void calibrate(Analysis& analysis, int ladderLane, const std::vector<double>& sizes, SizeFit fit)
{
    if (ladderLane < 0 || ladderLane >= static_cast<int>(analysis.lanes.size()))
        throw std::invalid_argument("there is no ladder lane " + std::to_string(static_cast<long long>(ladderLane) + 1) + " (lanes found: " +
                                    std::to_string(analysis.lanes.size()) + ")");
    for (size_t k = 0; k < sizes.size(); ++k)
        if (!(sizes[k] > 0) || !std::isfinite(sizes[k]) || (k > 0 && !(sizes[k] < sizes[k - 1])))
            throw std::invalid_argument("ladder sizes must be finite, positive and falling, largest first");
    const Lane& ladder = analysis.lanes[static_cast<size_t>(ladderLane)];
    const size_t n = std::min(sizes.size(), ladder.bands.size());
    if (n < 2)
        throw std::invalid_argument("a size calibration needs two ladder bands with sizes at least; lane " +
                                    std::to_string(ladderLane + 1) + " has " + std::to_string(ladder.bands.size()) +
                                    " bands");
    // Migration distance: rows below the top of the lane's tier, so that a ladder calibrates
    // the lanes of its own tier and of the other tiers alike.
    std::vector<double> distances;
    for (const Band& b : ladder.bands)
        distances.push_back(b.peakY - ladder.top);
    bool searched = false;
    const std::vector<std::pair<size_t, size_t>> pairs = pairLadder(distances, sizes, searched);
    SizeCalibration c;
    c.ladderLane = ladderLane;
    c.fit = fit;
    for (const auto& [band, size] : pairs) {
        c.positions.push_back(distances[band]);
        c.sizes.push_back(sizes[size]);
    }
    if (sizes.size() != ladder.bands.size()) {
        std::string left;
        size_t named = 0, more = 0;
        for (size_t i = 0, t = 0; i < std::max(sizes.size(), ladder.bands.size()); ++i) {
            const bool bandsLeft = ladder.bands.size() > sizes.size();
            if (t < pairs.size() && (bandsLeft ? pairs[t].first : pairs[t].second) == i)
                ++t;
            else if (++named <= 12)
                left += (left.empty() ? "" : ", ") + (bandsLeft ? std::to_string(i + 1) : number(sizes[i]));
            else
                ++more;
        }
        if (more > 0)
            left += " and " + std::to_string(more) + " more";
        analysis.warnings.push_back("the ladder lane has " + std::to_string(ladder.bands.size()) + " bands for " +
                                    std::to_string(sizes.size()) + " sizes: paired " +
                                    (searched ? "where log(size) runs smoothest against distance" : "from the top") +
                                    ", without " +
                                    (ladder.bands.size() > sizes.size() ? "its bands " : "the sizes ") + left);
    }
    // A jump in the spacing of log(size) against distance (a segment 2.5 times as steep or as
    // flat as the one before) is a band missed, or one too many, near it.
    for (size_t t = 2; t < c.positions.size(); ++t) {
        const double before = std::log10(c.sizes[t - 2] / c.sizes[t - 1]) / (c.positions[t - 1] - c.positions[t - 2]);
        const double after = std::log10(c.sizes[t - 1] / c.sizes[t]) / (c.positions[t] - c.positions[t - 1]);
        if (std::fabs(std::log(after / before)) > std::log(2.5)) {
            analysis.warnings.push_back("the ladder's spacing of log(size) against distance jumps at size " +
                                        number(c.sizes[t - 1]) + ": a band may be missed or extra there");
            break;
        }
    }
    for (Lane& l : analysis.lanes)
        for (Band& b : l.bands)
            b.size = c.sizeAt(b.peakY - l.top, &b.extrapolated);
    analysis.calibration = c;
}

} // namespace kestro::gel
