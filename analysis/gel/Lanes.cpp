#include "analysis/gel/Internal.h"
#include "raster/detail/Parallel.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <cstddef>

namespace kestro::gel {
namespace detail {

namespace {

// The peaks of a tier's smoothed column profile that are lanes, left to right.
std::vector<Peak> lanePeaks(const Profile& s, const Options& o) {
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
        if (p.prominence >= (s[p.pos] - floor) / 3) peaks.push_back(p);
    }
    std::sort(peaks.begin(), peaks.end(),
              [](const Peak& a, const Peak& b) { return a.prominence > b.prominence; });
    std::vector<Peak> kept;
    if (!peaks.empty()) {
        // The strongest peaks first; with a lane count given, they keep a third of the even
        // spacing between them.
        // The threshold follows the third strongest peak: the bright walls of a casting tray
        // or the edge of the gel outshine every lane and would hide the fainter ones.
        const double least =
            o.laneCount > 0 ? 0.0
                            : o.minLaneProminence * peaks[std::min<size_t>(2, peaks.size() - 1)].prominence;
        const double minGap = o.laneCount > 0 ? n / (3.0 * o.laneCount) : 0.0;
        for (const Peak& p : peaks) {
            if ((o.laneCount > 0 && static_cast<int>(kept.size()) == o.laneCount) || p.prominence < least)
                break;
            bool clear = true;
            for (const Peak& q : kept)
                clear = clear && std::fabs(p.at - q.at) >= minGap;
            if (clear) kept.push_back(p);
        }
    }
    std::sort(kept.begin(), kept.end(), [](const Peak& a, const Peak& b) { return a.at < b.at; });
    return kept;
}

// Lanes at the given peaks of the smoothed column profile, their edges bounded by the
// neighbouring peaks, and for each lane the index of its peak. Slivers at the region's sides
// (the border of a scan) are no lanes: a lane is at least 40% as wide as the median lane; their
// neighbours keep the edges the sliver bounded.
std::vector<Lane> lanesAt(const Profile& s, const std::vector<Peak>& kept, std::vector<size_t>& from) {
    const int n = static_cast<int>(s.size());
    std::vector<Lane> lanes;
    from.clear();
    for (size_t k = 0; k < kept.size(); ++k) {
        const int p = kept[k].pos;
        const int lo = k > 0 ? kept[k - 1].pos : 0;
        const int hi = k + 1 < kept.size() ? kept[k + 1].pos : n - 1;
        const double h = s[static_cast<size_t>(p)];
        const double floorL = s[static_cast<size_t>(argMin(s, lo, p))],
                     floorR = s[static_cast<size_t>(argMin(s, p, hi))];
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
        // The cut edge of a gel glows, and falls off only towards the gel: a stripe at the side
        // of the region that does not fall halfway back towards it is the edge, not a lane.
        const bool outer = k == 0 || k + 1 == kept.size();
        const double outerFloor = k == 0 ? floorL : floorR, innerFloor = k == 0 ? floorR : floorL;
        if (outer && kept.size() > 1 && h - outerFloor < 0.5 * (h - innerFloor)) continue;
        lanes.push_back(lane);
        from.push_back(k);
    }
    if (lanes.size() >= 3) {
        std::vector<double> widths;
        for (const Lane& l : lanes)
            widths.push_back(l.right - l.left);
        std::nth_element(widths.begin(), widths.begin() + static_cast<std::ptrdiff_t>(widths.size() / 2),
                         widths.end());
        const double least = 0.4 * widths[widths.size() / 2];
        size_t j = 0;
        for (size_t k = 0; k < lanes.size(); ++k)
            if (lanes[k].right - lanes[k].left >= least) {
                lanes[j] = lanes[k];
                from[j++] = from[k];
            }
        lanes.resize(j);
        from.resize(j);
    }
    return lanes;
}

// Follows lanes that drift sideways within their tier (rows y0..y1 of the work raster): in
// strips of rows, the shift at which the strip's column profile best matches the tier's within
// the lane, then a parabola through the shifts weighted by the strip's signal. Positions stay in
// work coordinates.
void followLanes(std::vector<Lane>& lanes, const Work& wk, int y0, int y1, const Profile& columns) {
    const int rows = y1 - y0 + 1;
    const int strips = std::min(16, rows / 40);
    if (strips < 4 || lanes.empty()) return;
    std::vector<Profile> stripProfiles(static_cast<size_t>(strips), Profile(static_cast<size_t>(wk.w), 0.0));
    std::vector<double> stripMiddle(static_cast<size_t>(strips));
    kestro::detail::runBands(strips, [&](int k) {
        const int a = y0 + k * rows / strips, b = y0 + (k + 1) * rows / strips - 1;
        std::vector<long long> acc(static_cast<size_t>(wk.w), 0);
        for (int y = a; y <= b; ++y) {
            const int* v = wk.row(y);
            const int* g = wk.bgRow(y);
            for (int x = 0; x < wk.w; ++x)
                acc[static_cast<size_t>(x)] += std::max(0, v[x] - g[x]);
        }
        for (int x = 0; x < wk.w; ++x)
            stripProfiles[static_cast<size_t>(k)][static_cast<size_t>(x)] =
                static_cast<double>(acc[static_cast<size_t>(x)]) / (b - a + 1);
        stripMiddle[static_cast<size_t>(k)] = 0.5 * (a + b);
    });
    const double middle = 0.5 * (y0 + y1);
    // Each lane follows its own path: threads take whole lanes.
    kestro::detail::runBands(static_cast<int>(lanes.size()), [&](int index) {
        Lane& lane = lanes[static_cast<size_t>(index)];
        const int L = std::max(0, static_cast<int>(std::floor(lane.left)));
        const int R = std::min(wk.w - 1, static_cast<int>(std::ceil(lane.right)));
        const int reach = std::clamp(static_cast<int>(0.3 * (R - L)), 1, 24);
        if (R - L < 4) return;
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
            const double shift =
                best - reach + (den < 0 ? std::clamp(0.5 * (ca - cc) / den, -0.5, 0.5) : 0.0);
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
        if (used < 4) return;
        const double uTop = *std::min_element(us.begin(), us.end()),
                     uBottom = *std::max_element(us.begin(), us.end());
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
                if (std::fabs(m[r][i]) > std::fabs(m[p][i])) p = r;
            std::swap(m[i], m[p]);
            if (!(std::fabs(m[i][i]) > 1e-12 * std::fabs(m[0][0]))) ok = false;
            for (int r = 0; r < 3 && ok; ++r)
                if (r != i) {
                    const double f = m[r][i] / m[i][i];
                    for (int j = i; j < 4; ++j)
                        m[r][j] -= f * m[i][j];
                }
        }
        if (!ok) return;
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
        if (stray < 1.0 || std::fabs(c[0]) + stray > reach || residual > weight) return;
        lane.centre += c[0];
        lane.left += c[0];
        lane.right += c[0];
        lane.tilt = c[1];
        lane.bow = c[2];
        lane.middle = middle;
        lane.pathTop = middle + uTop;
        lane.pathBottom = middle + uBottom;
    });
}

// For each lane, how far its strongest stretch of rows rises above its usual level, both taken
// against the gel beside it (the gaps to its neighbours, or as wide a stripe beyond its edge at
// the ends of the tier), row by row in the median across the columns of the lane's middle half
// and of the gaps, of the background-corrected values, each capped: bands and smears rise, an
// empty well column with dust in it (specks narrower than half the columns) does not, and a line
// across the whole gel (the edge of a tray) cancels. One pass over the rows reads every stripe.
std::vector<double> laneSignals(const Work& wk, int y0, int y1, const std::vector<Lane>& lanes, int cap) {
    struct Span {
        int a = 0, b = -1;
    };
    auto span = [&](double a, double b) {
        Span sp{static_cast<int>(std::ceil(a)), static_cast<int>(std::floor(b))};
        if (sp.b < sp.a) sp.a = sp.b = static_cast<int>(std::lround(0.5 * (a + b)));
        if (sp.b < 0 || sp.a > wk.w - 1) return Span{};
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
    spans.push_back(
        span(lanes[n - 1].right, lanes[n - 1].right + 0.5 * (lanes[n - 1].right - lanes[n - 1].left)));
    right[n - 1] = spans.size() - 1;

    // A tier of 2048 rows or more is read in steps of rows: a lane's signal stretches over
    // hundreds of them, and the medians are most of the analysis's time on a large scan.
    const int step = std::max(1, (y1 - y0 + 1) / 1024);
    const size_t rows = static_cast<size_t>((y1 - y0) / step + 1);
    std::vector<Profile> medians(spans.size(), Profile(rows, 0.0));
    kestro::detail::parallelRows(static_cast<long>(rows), static_cast<size_t>(wk.w), [&](long i0, long i1) {
        std::vector<int> v;
        for (long i = i0; i < i1; ++i) {
            const int y = y0 + static_cast<int>(i) * step;
            const int* r = wk.row(y);
            const int* g = wk.bgRow(y);
            for (size_t k = 0; k < spans.size(); ++k) {
                const Span& sp = spans[k];
                if (sp.b < sp.a) continue;
                v.resize(static_cast<size_t>(sp.b - sp.a + 1));
                for (int x = sp.a; x <= sp.b; ++x)
                    v[static_cast<size_t>(x - sp.a)] = std::clamp(r[x] - g[x], 0, cap);
                std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2), v.end());
                medians[k][static_cast<size_t>(i)] = v[v.size() / 2];
            }
        }
    });
    std::vector<double> signal(n);
    const int radius = std::max(1, static_cast<int>(rows) / 200);
    for (size_t k = 0; k < n; ++k) {
        Profile diff = medians[k];
        const bool hasLeft = spans[left[k]].b >= spans[left[k]].a,
                   hasRight = spans[right[k]].b >= spans[right[k]].a;
        const int sides = hasLeft + hasRight;
        for (size_t i = 0; i < rows && sides > 0; ++i)
            diff[i] -=
                ((hasLeft ? medians[left[k]][i] : 0.0) + (hasRight ? medians[right[k]][i] : 0.0)) / sides;
        const Profile sm = boxSmooth(diff, radius);
        Profile order(sm);
        std::nth_element(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(order.size() / 2),
                         order.end());
        signal[k] = *std::max_element(sm.begin(), sm.end()) - order[order.size() / 2];
    }
    return signal;
}

// Exactly `count` lanes from the lanes found (left to right), which keep their places: those with
// the least signal along them (laneSignals) go while there are too many; while there are too few, a lane grid
// at the found lanes' pitch (the median spacing of neighbours) fills the widest gap that holds a lane at that
// pitch, else extends past the end with more signal beside it, else takes the middle of the widest stretch
// free of lanes. Each added lane moves to the profile's highest point within a quarter pitch of the grid and
// spans 0.8 pitches; neighbours that would overlap part halfway.
std::vector<Lane> countedLanes(const Profile& s, std::vector<Lane> lanes, std::vector<double> signal,
                               int count) {
    const int n = static_cast<int>(s.size());
    while (static_cast<int>(lanes.size()) > count) {
        const size_t k = static_cast<size_t>(std::min_element(signal.begin(), signal.end()) - signal.begin());
        lanes.erase(lanes.begin() + static_cast<std::ptrdiff_t>(k));
        signal.erase(signal.begin() + static_cast<std::ptrdiff_t>(k));
    }
    double pitch = static_cast<double>(n) / count;
    if (lanes.size() >= 2) {
        std::vector<double> gaps;
        for (size_t k = 0; k + 1 < lanes.size(); ++k)
            gaps.push_back(lanes[k + 1].centre - lanes[k].centre);
        std::nth_element(gaps.begin(), gaps.begin() + static_cast<std::ptrdiff_t>(gaps.size() / 2),
                         gaps.end());
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
        if (gap > room) at = lanes[widest].centre + 0.5 * gap;
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

} // namespace

// Lanes of the rows y0..y1 of the work raster, in work coordinates.
// The columns of a tier that lie on the gel, less the glow along its side edges: a lane is never
// found on the edge of the gel or its tray, or beyond it on the frame (the tier's mean column
// by column against the frame around it, the gel's level its median: lanes and the gel between
// them fill most of it).
std::pair<int, int> gelColumns(const Work& wk, int y0, int y1, int step) {
    const std::vector<long long> sums = columnSums(wk.w, y0, y1, step, [&](int y, long long* sum) {
        const int* r = wk.row(y);
        for (int x = 0; x < wk.w; ++x)
            sum[x] += r[x];
    });
    Profile columns(static_cast<size_t>(wk.w));
    for (size_t x = 0; x < columns.size(); ++x)
        columns[x] = static_cast<double>(sums[x]) / ((y1 - y0) / step + 1);
    return onGel(columns, wk.darkest, std::max(4, wk.w / 64), 0.5);
}

std::vector<Lane> tierLanes(const Work& wk, int y0, int y1, const Options& o) {
    const int w = wk.w, rows = y1 - y0 + 1;
    // One bright (often saturated) band would outweigh whole lanes of ordinary ones and hide
    // them under the lane threshold: each pixel counts up to the tier's 99.8th percentile.
    const size_t levels = static_cast<size_t>(wk.maxValue) + 1;
    const int bands = kestro::detail::bandCount(rows, static_cast<size_t>(w));
    std::vector<std::vector<long long>> partial(static_cast<size_t>(bands));
    kestro::detail::runBands(bands, [&](int band) {
        std::vector<long long>& h = partial[static_cast<size_t>(band)];
        h.assign(levels, 0);
        const int end = y0 + static_cast<int>(kestro::detail::bandBegin(rows, bands, band + 1));
        for (int y = y0 + static_cast<int>(kestro::detail::bandBegin(rows, bands, band)); y < end; ++y) {
            const int* v = wk.row(y);
            const int* b = wk.bgRow(y);
            for (int x = 0; x < w; ++x)
                ++h[static_cast<size_t>(std::clamp(v[x] - b[x], 0, wk.maxValue))];
        }
    });
    std::vector<long long> histogram(levels, 0);
    for (const std::vector<long long>& h : partial)
        for (size_t v = 0; v < levels; ++v)
            histogram[v] += h[v];
    const long long total = static_cast<long long>(w) * rows;
    int cap = wk.maxValue;
    for (long long seen = 0, target = static_cast<long long>(0.998 * total); cap > 0; --cap) {
        seen += histogram[static_cast<size_t>(cap)];
        if (total - seen < target) break;
    }
    cap = std::max(cap, 1);
    Profile columns(static_cast<size_t>(w), 0.0);
    const std::vector<long long> acc = columnSums(w, y0, y1, 1, [&](int y, long long* sum) {
        const int* v = wk.row(y);
        const int* b = wk.bgRow(y);
        for (int x = 0; x < w; ++x)
            sum[x] += std::clamp(v[x] - b[x], 0, cap);
    });
    const auto [gelLeft, gelRight] = gelColumns(wk, y0, y1);
    for (int x = gelLeft; x < gelRight; ++x)
        columns[static_cast<size_t>(x)] = static_cast<double>(acc[static_cast<size_t>(x)]) / rows;
    const Profile s = boxSmooth(columns, std::max(1, w / 400));
    // A lane count given still finds the lanes first, then keeps or adds lanes to that count.
    Options found = o;
    found.laneCount = 0;
    std::vector<Peak> peaks = lanePeaks(s, found);
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
        const double leastSignal = 0.2 * medianOf(signal), leastProminence = 0.35 * medianOf(prominence);
        bool dropped = false;
        for (size_t k = 0; k < lanes.size(); ++k)
            if (signal[k] < leastSignal && prominence[k] < leastProminence) {
                peaks[from[k]].prominence = -1;
                dropped = true;
            }
        if (dropped) {
            peaks.erase(
                std::remove_if(peaks.begin(), peaks.end(), [](const Peak& p) { return p.prominence < 0; }),
                peaks.end());
            lanes = lanesAt(s, peaks, from);
        }
    }
    if (o.laneCount > 0) {
        const std::vector<double> signal = static_cast<int>(lanes.size()) > o.laneCount
                                               ? laneSignals(wk, y0, y1, lanes, cap)
                                               : std::vector<double>(lanes.size(), 0.0);
        lanes = countedLanes(s, lanes, signal, o.laneCount);
    }
    followLanes(lanes, wk, y0, y1, columns);
    return lanes;
}

namespace {

int nearest(double x) {
    return static_cast<int>(std::lround(x));
}

// The row of wells: the mean of a band of rows along x, less its trend over a lane's width,
// clipped to its 10th and 90th percentiles between the outer lanes' centres a0..a1 (a glowing
// edge or a bright band there would outweigh the wells), with the lag of its strongest repeat
// there between lo and hi and that repeat's strength.
struct WellRow {
    Profile row;
    int pitch = 0;
    double repeat = 0;
};

// How well a profile repeats over samples a0..a1 at each lag from lo to hi: its autocorrelation
// about its mean there, over the samples each lag overlaps. The lags are shared among the
// threads; each is summed alone and in order, whichever thread sums it.
Profile repeats(const Profile& p, int a0, int a1, int lo, int hi) {
    const double mean = meanOf(p, a0, a1);
    double zero = 0;
    for (int x = a0; x <= a1; ++x)
        zero += (p[static_cast<size_t>(x)] - mean) * (p[static_cast<size_t>(x)] - mean);
    Profile repeat(static_cast<size_t>(std::max(0, hi - lo + 1)), 0.0);
    kestro::detail::parallelRows(
        static_cast<long>(repeat.size()), static_cast<size_t>(std::max(0, a1 - a0)), [&](long i0, long i1) {
            for (long i = i0; i < i1; ++i) {
                const int lag = lo + static_cast<int>(i);
                double c = 0;
                for (int x = a0; x + lag <= a1; ++x)
                    c += (p[static_cast<size_t>(x)] - mean) * (p[static_cast<size_t>(x + lag)] - mean);
                repeat[static_cast<size_t>(i)] =
                    zero > 0 ? c / (zero * (a1 - a0 + 1 - lag) / (a1 - a0 + 1)) : 0.0;
            }
        });
    return repeat;
}

WellRow wellRowOf(const Work& wk, int r0, int r1, double width, int a0, int a1, int lo, int hi) {
    const int w = wk.w;
    WellRow out;
    Profile& p = out.row;
    p.assign(static_cast<size_t>(w), 0.0);
    for (int y = r0; y <= r1; ++y) {
        const int* r = wk.row(y);
        for (int x = 0; x < w; ++x)
            p[static_cast<size_t>(x)] += r[x];
    }
    const Profile trend = boxSmooth(p, nearest(width));
    for (size_t x = 0; x < p.size(); ++x)
        p[x] -= trend[x];
    Profile order(p.begin() + a0, p.begin() + a1 + 1);
    std::sort(order.begin(), order.end());
    const double low = order[order.size() / 10], high = order[order.size() - 1 - order.size() / 10];
    for (double& v : p)
        v = std::clamp(v, low, high);
    const Profile repeat = repeats(p, a0, a1, lo, hi);
    for (size_t i = 1; i + 1 < repeat.size(); ++i)
        if (repeat[i] > out.repeat && repeat[i] >= repeat[i - 1] && repeat[i] >= repeat[i + 1]) {
            out.repeat = repeat[i];
            out.pitch = lo + static_cast<int>(i);
        }
    return out;
}

// The slots' rows as the well contrast gives them, or as many rows near them where the wells
// repeat more clearly (the contrast may have caught their upper or lower rims).
WellRow clearestWellRow(const Work& wk, int y0, int y1, int slotTop, int slotBottom, double width, int a0,
                        int a1, int lo, int hi) {
    const int rows = std::max(4, slotBottom - slotTop + 1);
    WellRow best;
    for (int top = slotTop - 3 * rows; top <= slotTop + 3 * rows; top += std::max(1, rows / 2)) {
        if (top < y0 || top + rows - 1 > y1) continue;
        WellRow r = wellRowOf(wk, top, top + rows - 1, width, a0, a1, lo, hi);
        if (r.repeat > best.repeat) best = std::move(r);
    }
    return best;
}

// Matching wells along a row of wells: a well's look is the row's median over the wells given,
// one pitch wide (half either side of each centre).
struct WellMatcher {
    const Profile& row;
    int half, reach;

    double at(int i) const {
        return row[static_cast<size_t>(std::clamp(i, 0, static_cast<int>(row.size()) - 1))];
    }

    Profile lookOf(const std::vector<int>& centres) const {
        Profile t(static_cast<size_t>(2 * half + 1));
        for (int u = 0; u <= 2 * half; ++u) {
            Profile column;
            for (int c : centres)
                column.push_back(at(c - half + u));
            t[static_cast<size_t>(u)] = medianOf(column);
        }
        return t;
    }

    // The correlation of the look with the row around x.
    double correlation(const Profile& look, int x) const {
        Profile seg(look.size());
        for (int u = -half; u <= half; ++u)
            seg[static_cast<size_t>(u + half)] = at(x + u);
        const double mt = meanOf(look, 0, 2 * half), ms = meanOf(seg, 0, 2 * half);
        double sts = 0, stt = 0, sss = 0;
        for (size_t i = 0; i < look.size(); ++i) {
            sts += (look[i] - mt) * (seg[i] - ms);
            stt += (look[i] - mt) * (look[i] - mt);
            sss += (seg[i] - ms) * (seg[i] - ms);
        }
        return stt > 0 && sss > 0 ? sts / std::sqrt(stt * sss) : 0.0;
    }

    // The column within `reach` of x where the row best matches the look, and how well.
    int bestMatch(const Profile& look, int x, double& score) const {
        int found = x;
        score = -2;
        for (int d = -reach; d <= reach; ++d) {
            const double c = correlation(look, x + d);
            if (c > score) {
                score = c;
                found = x + d;
            }
        }
        return found;
    }
};

} // namespace

// Lanes under a tier's wells that the column profile missed. A lane of one short band beside a
// long bright one (a ladder, a smear) makes no peak of its own in the columns, but its well
// shows in the row of slots like every other well. That row repeats at the wells' pitch; the
// found lanes' wells, moved onto one another, give the look of a well, and each gap between
// found lanes a pitch or more too wide is searched for it, and a pitch or two beyond the outer
// lanes (a ladder beside the tray's wall). A lane is put under a well that looks
// like the others only where signal runs down from it as it does in the found lanes: an empty
// well is no lane.
// The row must repeat at least this well (autocorrelation at the pitch), since wells that
// cannot be told from the gel between them say nothing.
constexpr double kWellRepeat = 0.3;
// A missing well correlates at least this well with the found ones' look.
constexpr double kWellMatch = 0.5;
// A lane under it holds at least this share of the found lanes' median signal along them.
constexpr double kWellSignal = 0.5;

namespace {

// The mean of a lane's middle half over rows y0..y1, from at most about 256 of them.
double levelOf(const Work& wk, int y0, int y1, const Lane& l) {
    const auto [a, b] = middleHalf(l, wk.w);
    const int step = std::max(1, (y1 - y0 + 1) / 256);
    long long sum = 0, count = 0;
    for (int y = y0; y <= y1; y += step) {
        const int* r = wk.row(y);
        for (int x = a; x <= b; ++x)
            sum += r[x];
        count += b - a + 1;
    }
    return static_cast<double>(sum) / static_cast<double>(count);
}

} // namespace

void addLanesUnderWells(const Work& wk, int y0, int y1, int slotTop, int slotBottom,
                        std::vector<Lane>& lanes) {
    if (lanes.size() < 2 || slotBottom < slotTop) return;
    const int w = wk.w;
    Profile widths;
    for (const Lane& l : lanes)
        widths.push_back(l.right - l.left);
    const double width = medianOf(widths);
    if (!(width >= 8)) return;
    const int a0 = std::max(0, nearest(lanes.front().centre)),
              a1 = std::min(w - 1, nearest(lanes.back().centre));
    // Wells are as wide as their lanes at most and seldom less than three quarters of the pitch.
    const int lo = nearest(0.75 * width) - 1, hi = nearest(1.6 * width) + 1;
    if (hi + 2 >= a1 - a0) return;
    const WellRow wells = clearestWellRow(wk, y0, y1, slotTop, slotBottom, width, a0, a1, lo, hi);
    const int pitch = wells.pitch;
    if (pitch == 0 || wells.repeat < kWellRepeat) return;
    const int half = pitch / 2;
    const WellMatcher match{wells.row, half, std::max(1, pitch / 4)};
    std::vector<int> centres;
    for (const Lane& l : lanes)
        centres.push_back(nearest(l.centre));
    const Profile rough = match.lookOf(centres);
    for (int& c : centres) {
        double score = 0;
        c = match.bestMatch(rough, c, score);
    }
    const Profile well = match.lookOf(centres);
    // A lane under the well best matching the look within a quarter pitch of `guess`, if it
    // matches well enough, lies within the image and overlaps the lanes beside it (edges `low`
    // and `high`) by a quarter of a lane's width at most.
    std::vector<std::pair<Lane, bool>> trial; // lanes, and whether added
    const auto tryAt = [&](double guess, double low, double high) {
        double score = 0;
        const int x = match.bestMatch(well, nearest(guess), score);
        if (score < kWellMatch || x - width / 2 < low - 0.25 * width || x + width / 2 > high + 0.25 * width ||
            x - half < 0 || x + half > w - 1 || (!trial.empty() && x <= trial.back().first.centre))
            return;
        Lane l;
        l.centre = x;
        l.left = x - width / 2;
        l.right = x + width / 2;
        trial.emplace_back(l, true);
    };
    // Beyond the outer lanes, two wells out at most (the one between may be empty).
    for (int j = 2; j >= 1; --j)
        tryAt(lanes.front().centre - j * pitch, -1e300, lanes.front().left);
    for (size_t k = 0; k < lanes.size(); ++k) {
        trial.emplace_back(lanes[k], false);
        if (k + 1 == lanes.size()) break;
        const double gap = lanes[k + 1].centre - lanes[k].centre;
        const int missing = nearest(gap / pitch) - 1;
        for (int j = 1; j <= missing; ++j)
            tryAt(lanes[k].centre + j * gap / (missing + 1), lanes[k].right, lanes[k + 1].left);
    }
    for (int j = 1; j <= 2; ++j)
        tryAt(lanes.back().centre + j * pitch, lanes.back().right, 1e300);
    if (trial.size() == lanes.size()) return;
    std::vector<Lane> all;
    for (const auto& t : trial)
        all.push_back(t.first);
    const std::vector<double> signal = laneSignals(wk, y0, y1, all, wk.maxValue);
    Profile foundSignal, foundLevel;
    for (size_t k = 0; k < trial.size(); ++k)
        if (!trial[k].second) {
            foundSignal.push_back(signal[k]);
            foundLevel.push_back(levelOf(wk, y0, y1, trial[k].first));
        }
    const double least = kWellSignal * medianOf(foundSignal);
    // The glow of the gel's edge or corner gives signal to a lane on the frame beside it too; a
    // lane lies on the gel, its columns nearer the found lanes' level than the scan's darkest.
    const double frame = 0.5 * (wk.darkest + medianOf(foundLevel));
    std::vector<std::pair<Lane, bool>> out;
    for (size_t k = 0; k < trial.size(); ++k)
        if (!trial[k].second || (signal[k] >= least && levelOf(wk, y0, y1, trial[k].first) >= frame))
            out.push_back(trial[k]);
    lanes.clear();
    for (size_t k = 0; k < out.size(); ++k) {
        Lane& l = out[k].first;
        if (k + 1 < out.size() && (out[k].second || out[k + 1].second) && l.right > out[k + 1].first.left) {
            const double mid = 0.5 * (l.centre + out[k + 1].first.centre);
            l.right = std::min(l.right, mid - 0.5);
            out[k + 1].first.left = std::max(out[k + 1].first.left, mid + 0.5);
        }
        lanes.push_back(l);
    }
}

// Lanes under the wells of a tier whose column profile merged them. Bright dye fronts and
// smears spread across neighbouring lanes, and the profile's peaks then span two or three wells
// each, or stand on a tray's walls beside them; a row of slots still repeats at the wells' own
// pitch. Where the found lanes lie further apart than one and a half pitches and most of them
// are not one under a well (wider than one and a half pitches, or off every well by more than a
// quarter pitch), each well that looks like the others and from which signal runs down becomes
// a lane instead. The pitch is read from the row of slots alone: its strongest repeat past the
// first trough of its autocorrelation (nearer, a slot only overlaps itself).
constexpr double kMergedWidth = 1.5;
// Nothing found marks these wells: each must look clearly like the others.
constexpr double kClearWell = 0.7;

bool lanesByWells(const Work& wk, int y0, int y1, int slotTop, int slotBottom, std::vector<Lane>& lanes,
                  CombSpan* comb) {
    if (lanes.empty() || slotBottom < slotTop) return false;
    const auto [g0, g1] = gelColumns(wk, y0, y1);
    const int span = g1 - g0;
    if (span < 64) return false;
    Profile row(static_cast<size_t>(wk.w), 0.0);
    for (int y = std::max(y0, slotTop); y <= std::min(y1, slotBottom); ++y) {
        const int* r = wk.row(y);
        for (int x = 0; x < wk.w; ++x)
            row[static_cast<size_t>(x)] += r[x];
    }
    const auto detrended = [&](int radius) {
        const Profile trend = boxSmooth(row, radius);
        Profile d(row.size());
        for (size_t x = 0; x < row.size(); ++x)
            d[x] = row[x] - trend[x];
        return d;
    };
    // The pitch: lags from a sixty-fourth to a quarter of the gel's width, the trend taken out
    // over a sixteenth of it.
    const int first = std::max(4, span / 64);
    const Profile repeat = repeats(detrended(span / 32), g0, g1 - 1, first, span / 4);
    size_t i = 0;
    while (i + 1 < repeat.size() && repeat[i + 1] < repeat[i])
        ++i;
    const size_t best = static_cast<size_t>(
        std::max_element(repeat.begin() + static_cast<std::ptrdiff_t>(i), repeat.end()) - repeat.begin());
    if (best >= repeat.size() || repeat[best] < kWellRepeat) return false;
    const int pitch = first + static_cast<int>(best);
    // Lanes that each lie under a well are spaced at about the pitch, or at a multiple where
    // wells were left empty; merged ones are spaced further apart.
    if (lanes.size() >= 2) {
        Profile gaps;
        for (size_t k = 1; k < lanes.size(); ++k)
            gaps.push_back(lanes[k].centre - lanes[k - 1].centre);
        if (medianOf(gaps) < kMergedWidth * pitch) return false;
    }
    // A trend taken out over one whole pitch leaves the wells their full depth. The slots lie at
    // the darkest phase of the row folded at the pitch.
    const Profile flat = detrended(pitch / 2);
    Profile fold(static_cast<size_t>(pitch), 0.0);
    for (int x = g0; x < g1; ++x)
        fold[static_cast<size_t>((x - g0) % pitch)] += flat[static_cast<size_t>(x)];
    const int phase = static_cast<int>(std::min_element(fold.begin(), fold.end()) - fold.begin());
    const int half = pitch / 2;
    const WellMatcher match{flat, half, std::max(1, pitch / 4)};
    std::vector<int> centres;
    for (int x = g0 + phase; x < g1; x += pitch)
        if (x - half >= g0 && x + half < g1) centres.push_back(x);
    if (centres.size() < 2) return false;
    const Profile rough = match.lookOf(centres);
    for (int& c : centres) {
        double score = 0;
        c = match.bestMatch(rough, c, score);
    }
    const Profile well = match.lookOf(centres);
    // The darkest phase may lie off the slots' middles (light falling across them from one side):
    // the lanes lie under the middle of the look's darkness.
    const double top = *std::max_element(well.begin(), well.end());
    double moment = 0, mass = 0;
    for (int u = -half; u <= half; ++u) {
        const double dark = top - well[static_cast<size_t>(u + half)];
        moment += u * dark;
        mass += dark;
    }
    const double middle = mass > 0 ? moment / mass : 0.0;
    // A comb's slots follow one another at the pitch, none missing: its wells are the longest run
    // of clear matches one pitch after another.
    std::vector<double> seen; // wells that look like the others at all
    std::vector<Lane> wells, run;
    for (int c : centres) {
        double score = 0;
        const int x = match.bestMatch(well, c, score);
        if (score >= kWellMatch) seen.push_back(x + middle);
        if (score < kClearWell || (!run.empty() && x + middle - run.back().centre < 0.75 * pitch)) {
            run.clear();
            continue;
        }
        Lane l;
        l.centre = x + middle;
        l.left = l.centre - 0.4 * pitch;
        l.right = l.centre + 0.4 * pitch;
        run.push_back(l);
        if (run.size() > wells.size()) wells = run;
    }
    if (wells.size() < 2) return false;
    // Found lanes that each lie under one well keep their places, where they are half at least.
    size_t agree = 0;
    for (const Lane& l : lanes)
        agree += l.right - l.left <= kMergedWidth * pitch &&
                 std::any_of(seen.begin(), seen.end(),
                             [&](double x) { return std::fabs(x - l.centre) <= 0.25 * pitch; });
    if (2 * agree >= lanes.size()) return false;
    const std::vector<double> signal = laneSignals(wk, y0, y1, wells, wk.maxValue);
    const double least = kWellSignal * medianOf(signal);
    std::vector<Lane> kept;
    for (size_t k = 0; k < wells.size(); ++k)
        if (signal[k] > 0 && signal[k] >= least) kept.push_back(wells[k]);
    // Merged lanes span more wells than they are; fewer wells than found lanes is a row of wells
    // whose look noise hid in most of them, not lanes that merged.
    if (kept.size() < 2 || kept.size() < lanes.size()) return false;
    lanes = std::move(kept);
    if (comb)
        *comb = CombSpan{*std::min_element(seen.begin(), seen.end()),
                         *std::max_element(seen.begin(), seen.end()), static_cast<double>(pitch)};
    return true;
}

// A lane's sideways shift, in whole columns, for each row of its tier.
std::vector<int> laneShifts(const Lane& lane) {
    std::vector<int> shift(static_cast<size_t>(std::max(0, lane.box.height())), 0);
    if (lane.tilt != 0 || lane.bow != 0)
        for (int y = lane.box.top; y < lane.box.bottom; ++y)
            shift[static_cast<size_t>(y - lane.box.top)] =
                static_cast<int>(std::lround(lane.centreAt(y) - lane.centre));
    return shift;
}

void placeInTier(std::vector<Lane>& lanes, const Work& wk, const Tier& tier, int first) {
    const int y0 = tier.top - wk.y0, y1 = tier.bottom - 1 - wk.y0;
    // Lane edges from the profile; the volume box reaches a tenth of the width further, to the
    // middle of the gap at most. All are worked out before any lane moves into image columns.
    std::vector<std::pair<double, double>> reach(lanes.size());
    for (size_t k = 0; k < lanes.size(); ++k) {
        const Lane& l = lanes[k];
        const double margin = 0.1 * (l.right - l.left);
        reach[k] = {l.left - margin, l.right + margin};
        if (k > 0) reach[k].first = std::max(reach[k].first, 0.5 * (lanes[k - 1].right + l.left) + 0.5);
        if (k + 1 < lanes.size())
            reach[k].second = std::min(reach[k].second, 0.5 * (l.right + lanes[k + 1].left) - 0.5);
    }
    for (size_t k = 0; k < lanes.size(); ++k) {
        Lane& l = lanes[k];
        l.box.left = static_cast<int>(std::ceil(std::max(0.0, reach[k].first))) + wk.x0;
        l.box.right = static_cast<int>(std::floor(std::min(wk.w - 1.0, reach[k].second))) + 1 + wk.x0;
        l.box.top = tier.top;
        l.box.bottom = tier.bottom;
        l.left += wk.x0;
        l.right += wk.x0;
        l.centre += wk.x0;
        l.tier = tier.index;
        l.middle = 0.5 * (y0 + y1) + wk.y0;
        l.pathTop += wk.y0;
        l.pathBottom += wk.y0;
        l.index = first + static_cast<int>(k);
        slopeLane(l, tier, wk, false);
    }
}

void slopeLane(Lane& lane, const Tier& tier, const Work& wk, bool path) {
    if (path && tier.drift != 0) {
        // Found where the lanes run straight down: the drift moves the lane's middle row
        // sideways. A straight lane's path runs the tier's height; a bent one's keeps the rows it
        // was measured between, where its bow holds.
        const double shift = tier.drift * (lane.middle - tier.driftRow);
        lane.centre += shift;
        lane.left += shift;
        lane.right += shift;
        const int columns = static_cast<int>(std::lround(shift));
        lane.box.left = std::clamp(lane.box.left + columns, wk.x0, wk.x0 + wk.w - 1);
        lane.box.right = std::clamp(lane.box.right + columns, lane.box.left + 1, wk.x0 + wk.w);
        lane.tilt += tier.drift;
        if (lane.bow == 0) {
            lane.pathTop = lane.box.top;
            lane.pathBottom = lane.box.bottom - 1;
        }
    }
    if (tier.slope == 0) return;
    // Cut where it would leave the region, the box keeps half its rows at least.
    const int half = lane.box.height() / 2;
    const int drop = std::clamp(static_cast<int>(std::lround(tier.rowAt(0, lane.centre))), -half, half);
    lane.box.top = std::clamp(lane.box.top + drop, wk.y0, wk.y0 + wk.h);
    lane.box.bottom = std::clamp(lane.box.bottom + drop, wk.y0, wk.y0 + wk.h);
    lane.middle += drop;
    if (path) {
        lane.pathTop += drop;
        lane.pathBottom += drop;
    }
}

} // namespace detail

using namespace detail;

namespace {

// A caller's tier lies inside the region, 16 rows high at least, slopes by a row a column at
// most about a finite column, and its lanes drift by a column a row at most about a finite row.
void checkTier(const Tier& t, const Work& wk) {
    if (t.top < wk.y0 || t.bottom > wk.y0 + wk.h || t.bottom - t.top < 16)
        throw ArgumentError("tier " + std::to_string(t.index + 1) +
                            " does not lie inside the region or is under 16 rows");
    if (!(std::fabs(t.slope) <= 1) || !std::isfinite(t.column) || !(std::fabs(t.drift) <= 1) ||
        !std::isfinite(t.driftRow))
        throw ArgumentError("tier " + std::to_string(t.index + 1) +
                            " must slope by a row a column at most, about a finite column, and its lanes "
                            "drift by a column a row at most, about a finite row");
}

} // namespace

std::vector<Lane> findLanes(const PreparedGel& gel, const std::vector<Tier>& tiers, const Options& options) {
    return lanesIn(gel.work(), tiers, options);
}

namespace detail {

std::vector<Lane> lanesIn(const Work& wk, const std::vector<Tier>& tiers, const Options& options) {
    // A turned tier's lanes are found where its rows lie level and its lanes run straight down;
    // tiers turned alike share the levelled copy. Each tier's lanes are placed once every tier's
    // comb is known.
    std::vector<std::unique_ptr<Work>> levels;
    std::vector<const Work*> ins;
    std::vector<TierLanes> found;
    for (const Tier& t : tiers) {
        checkTier(t, wk);
        const bool turned = t.slope != 0 || t.drift != 0;
        const Work* in = &wk;
        if (turned) {
            const auto alike = std::find_if(
                tiers.begin(), tiers.begin() + static_cast<std::ptrdiff_t>(ins.size()), [&](const Tier& u) {
                    return u.slope == t.slope && u.column == t.column && u.drift == t.drift &&
                           u.driftRow == t.driftRow;
                });
            if (alike != tiers.begin() + static_cast<std::ptrdiff_t>(ins.size())) {
                in = ins[static_cast<size_t>(alike - tiers.begin())];
            } else {
                levels.push_back(levelled(wk, t.slope, t.column - wk.x0, t.drift, t.driftRow - wk.y0));
                in = levels.back().get();
            }
        }
        ins.push_back(in);
        TierLanes tl;
        tl.tier = t;
        tl.lanes = tierLanes(*in, t.top - wk.y0, t.bottom - 1 - wk.y0, options);
        // A caller's tier whose wells lie outside it has none to go by.
        if (options.laneCount == 0 && t.wellsBottom > t.wellsTop && t.wellsTop >= t.top &&
            t.wellsBottom <= t.bottom) {
            if (!lanesByWells(*in, t.top - wk.y0, t.bottom - 1 - wk.y0, t.wellsTop - wk.y0,
                              t.wellsBottom - 1 - wk.y0, tl.lanes, &tl.comb))
                addLanesUnderWells(*in, t.top - wk.y0, t.bottom - 1 - wk.y0, t.wellsTop - wk.y0,
                                   t.wellsBottom - 1 - wk.y0, tl.lanes);
        }
        found.push_back(std::move(tl));
    }
    keepUnderCombs(found);
    std::vector<Lane> all;
    for (size_t k = 0; k < found.size(); ++k) {
        Tier levelTier = found[k].tier;
        levelTier.slope = 0;
        levelTier.drift = 0;
        std::vector<Lane>& lanes = found[k].lanes;
        placeInTier(lanes, *ins[k], levelTier, static_cast<int>(all.size()));
        for (Lane& l : lanes)
            slopeLane(l, found[k].tier, wk, true);
        all.insert(all.end(), lanes.begin(), lanes.end());
    }
    return all;
}

} // namespace detail

std::vector<Lane> placeLanes(const PreparedGel& gel, const std::vector<Tier>& tiers,
                             const std::vector<LanePlacement>& placements) {
    const Work& wk = gel.work();
    std::vector<Lane> all;
    for (const Tier& t : tiers) {
        checkTier(t, wk);
        std::vector<Lane> lanes;
        for (const LanePlacement& p : placements) {
            if (p.tier < 0 || p.tier >= static_cast<int>(tiers.size()))
                throw ArgumentError("a lane is placed in tier " +
                                    std::to_string(static_cast<long long>(p.tier) + 1) + " of " +
                                    std::to_string(tiers.size()));
            if (!(std::isfinite(p.left) && std::isfinite(p.right) && p.right > p.left && p.right > wk.x0 &&
                  p.left < wk.x0 + wk.w))
                throw ArgumentError(
                    "a lane's edges must be finite, left before right, and reach into the region");
            // A path steeper than a column a row, or bending by that over the tier, is no lane.
            const double rows = t.bottom - t.top;
            if (!(std::isnan(p.centre) || (p.centre >= p.left && p.centre <= p.right)) ||
                !(std::fabs(p.tilt) <= 1 && std::fabs(p.bow) * rows <= 1 && std::isfinite(p.pathTop) &&
                  std::isfinite(p.pathBottom) && p.pathTop <= p.pathBottom))
                throw ArgumentError(
                    "a lane's path must have its centre between its edges, a tilt and bow of at most "
                    "a column a row, and its top row above its bottom row");
            if (p.tier != t.index) continue;
            Lane l;
            l.left = p.left - wk.x0;
            l.right = p.right - wk.x0;
            l.centre = std::isnan(p.centre) ? 0.5 * (l.left + l.right) : p.centre - wk.x0;
            if (p.tilt != 0 || p.bow != 0) {
                l.tilt = p.tilt;
                l.bow = p.bow;
                l.pathTop = p.pathTop - wk.y0;
                l.pathBottom = p.pathBottom - wk.y0;
            }
            lanes.push_back(l);
        }
        std::sort(lanes.begin(), lanes.end(),
                  [](const Lane& a, const Lane& b) { return a.centre < b.centre; });
        placeInTier(lanes, wk, t, static_cast<int>(all.size()));
        all.insert(all.end(), lanes.begin(), lanes.end());
    }
    return all;
}

std::pair<int, int> detail::profileColumns(const Work& wk, const Lane& l) {
    const double quarter = 0.25 * (l.right - l.left);
    const int c0 = std::max(0, static_cast<int>(std::lround(l.centre - quarter)) - wk.x0);
    const int c1 =
        std::min(wk.w - 1, std::max(c0, static_cast<int>(std::lround(l.centre + quarter)) - wk.x0));
    if (l.box.top < wk.y0 || l.box.bottom > wk.y0 + wk.h || l.box.bottom <= l.box.top || c0 > wk.w - 1)
        throw ArgumentError("lane " + std::to_string(l.index + 1) + " does not lie inside the region");
    return {c0, c1};
}

LaneProfile laneProfile(const PreparedGel& gel, const Lane& l) {
    const Work& wk = gel.work();
    const auto [c0, c1] = profileColumns(wk, l);
    LaneProfile p;
    p.top = l.box.top;
    std::vector<int> sat;
    rowSums(wk, c0, c1, l.box.top - wk.y0, l.box.bottom - 1 - wk.y0, laneShifts(l), p.values, nullptr, sat);
    for (double& v : p.values)
        v /= (c1 - c0 + 1);
    return p;
}

} // namespace kestro::gel
