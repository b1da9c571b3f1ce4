#include "analysis/gel/Internal.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace kestro::gel {
namespace detail {

namespace {

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
    if (best < 0)
        return y0;
    // The lower rims glow in the lanes, brighter than the gel beside them: when they show as a
    // clear lobe within four heights of the slots, the tier's bands start where it has half
    // faded.
    const int height = bestEnd - best + 1;
    int below = std::min(n - 1, bestEnd + height + 1);
    int lobe = bestEnd + 1;
    for (int i = bestEnd + 1; i < std::min(n, bestEnd + 1 + 4 * height); ++i)
        if (w[static_cast<size_t>(i)] < w[static_cast<size_t>(lobe)])
            lobe = i;
    if (lobe < n && w[static_cast<size_t>(lobe)] < -least) {
        int end = lobe;
        while (end + 1 < n && w[static_cast<size_t>(end)] < 0.5 * w[static_cast<size_t>(lobe)])
            ++end;
        below = std::max(below, end);
    }
    return y0 + below;
}

// A tier of rows y0..y1 (work coordinates) with its lanes, placed in image coordinates; the well
// contrast of those lanes, when the caller has it, spares computing it again.
TierLanes tierWith(const Work& wk, int index, int y0, int y1, std::vector<Lane> lanes, const Profile* contrast)
{
    TierLanes t;
    t.tier.index = index;
    t.tier.top = y0 + wk.y0;
    t.tier.bottom = y1 + 1 + wk.y0;
    t.tier.firstBandRow =
        (lanes.size() >= 2 ? belowWells(contrast ? *contrast : wellContrast(wk, lanes), y0, y1) : y0) + wk.y0;
    t.lanes = std::move(lanes);
    return t;
}

} // namespace

std::vector<TierLanes> layout(const Work& wk, const Options& o)
{
    // Row profile of the background-corrected pixels.
    Profile rows(static_cast<size_t>(wk.h), 0.0);
    for (int y = 0; y < wk.h; ++y) {
        const int* v = wk.row(y);
        const int* b = wk.bgRow(y);
        long long sum = 0;
        for (int x = 0; x < wk.w; ++x)
            sum += std::max(0, v[x] - b[x]);
        rows[static_cast<size_t>(y)] = static_cast<double>(sum) / wk.w;
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
    std::vector<TierLanes> tiers;
    int first = 0;
    for (int t = 0; t < tierCount; ++t) {
        const int y0 = starts[static_cast<size_t>(t)], y1 = starts[static_cast<size_t>(t) + 1] - 1;
        const bool one = tierCount == 1 && !whole.empty();
        tiers.push_back(one ? tierWith(wk, t, y0, y1, whole, &wholeContrast)
                            : tierWith(wk, t, y0, y1, tierLanes(wk, y0, y1, o), nullptr));
        placeInTier(tiers.back().lanes, wk, tiers.back().tier, first);
        first += static_cast<int>(tiers.back().lanes.size());
    }
    return tiers;
}

} // namespace detail

using namespace detail;

std::vector<Tier> findTiers(const PreparedGel& gel, const Options& options)
{
    std::vector<Tier> tiers;
    for (const TierLanes& t : layout(gel.work(), options))
        tiers.push_back(t.tier);
    return tiers;
}

std::vector<Tier> tiersAt(const PreparedGel& gel, const std::vector<int>& startRows, const Options& options)
{
    const Work& wk = gel.work();
    std::vector<int> starts{0};
    for (size_t k = 0; k < startRows.size(); ++k) {
        const long long s = static_cast<long long>(startRows[k]) - wk.y0;
        if (s < starts.back() + 16 || s > wk.h - 16)
            throw ArgumentError("the tiers must start at rising rows inside the region, 16 rows apart at least");
        starts.push_back(static_cast<int>(s));
    }
    starts.push_back(wk.h);
    std::vector<Tier> tiers;
    for (size_t t = 0; t + 1 < starts.size(); ++t) {
        const int y0 = starts[t], y1 = starts[t + 1] - 1;
        tiers.push_back(tierWith(wk, static_cast<int>(t), y0, y1, tierLanes(wk, y0, y1, options), nullptr).tier);
    }
    return tiers;
}

} // namespace kestro::gel
