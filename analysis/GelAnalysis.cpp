#include "analysis/GelAnalysis.h"

#include "analysis/ImageProcessing.h"
#include "image/DalvoImage.h"
#include "raster/RasterImageGS16.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

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

// Rows at which a region is split into tiers: the emptiest row near each boundary between
// equal shares.
std::vector<int> tierStarts(const Profile& rows, int tiers)
{
    const int n = static_cast<int>(rows.size());
    std::vector<int> starts{0};
    const Profile s = boxSmooth(rows, std::max(1, n / 100));
    for (int k = 1; k < tiers; ++k) {
        const int mid = k * n / tiers, reach = n / (4 * tiers);
        starts.push_back(argMin(s, std::max(starts.back() + 1, mid - reach), std::min(n - 1, mid + reach)));
    }
    starts.push_back(n);
    return starts;
}

// Lanes of one tier from the column profile of the background-corrected region.
std::vector<Lane> findLanes(const Profile& columns, const Options& o)
{
    const int n = static_cast<int>(columns.size());
    const Profile s = boxSmooth(columns, std::max(1, n / 400));
    // A lane is a plateau in the profile, often with a bump at either edge where the bands
    // are brighter: a peak counts as a lane only when the valleys on both sides fall at least
    // a third of its height above the profile's floor, which such a bump does not.
    const double floorAll = *std::min_element(s.begin(), s.end());
    std::vector<Peak> peaks;
    for (const Peak& p : findPeaks(s))
        if (p.prominence >= (s[p.pos] - floorAll) / 3)
            peaks.push_back(p);
    std::sort(peaks.begin(), peaks.end(), [](const Peak& a, const Peak& b) { return a.prominence > b.prominence; });
    std::vector<Peak> kept;
    if (!peaks.empty()) {
        // The strongest peaks first; with a lane count given, they keep a third of the even
        // spacing between them.
        const double least = o.laneCount > 0 ? 0.0 : o.minLaneProminence * peaks.front().prominence;
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

    std::vector<Lane> lanes;
    for (size_t k = 0; k < kept.size(); ++k) {
        const int p = kept[k].pos;
        const int lo = k > 0 ? kept[k - 1].pos : 0;
        const int hi = k + 1 < kept.size() ? kept[k + 1].pos : n - 1;
        const double h = s[p];
        const double floorL = s[argMin(s, lo, p)], floorR = s[argMin(s, p, hi)];
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
    // Slivers at the region's sides (the border of a scan) are not lanes: a lane is at least
    // 40% as wide as the median lane.
    if (lanes.size() >= 3) {
        std::vector<double> widths;
        for (const Lane& l : lanes)
            widths.push_back(l.right - l.left);
        std::nth_element(widths.begin(), widths.begin() + widths.size() / 2, widths.end());
        const double least = 0.4 * widths[widths.size() / 2];
        lanes.erase(std::remove_if(lanes.begin(), lanes.end(), [&](const Lane& l) { return l.right - l.left < least; }),
                    lanes.end());
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

// Per-row sums over the columns a..b (included) of rows y0..y1 of the work raster.
void rowSums(const Work& wk, int a, int b, int y0, int y1, Profile& values, Profile* background,
             std::vector<int>& saturated)
{
    const int n = y1 - y0 + 1;
    values.assign(n, 0.0);
    saturated.assign(n, 0);
    if (background)
        background->assign(n, 0.0);
    for (int y = y0; y <= y1; ++y) {
        const int* r = wk.row(y);
        long long sum = 0;
        int sat = 0;
        for (int x = a; x <= b; ++x) {
            sum += r[x];
            sat += r[x] >= wk.maxValue;
        }
        values[y - y0] = static_cast<double>(sum);
        saturated[y - y0] = sat;
        if (background) {
            const int* g = wk.bgRow(y);
            long long bs = 0;
            for (int x = a; x <= b; ++x)
                bs += g[x];
            (*background)[y - y0] = static_cast<double>(bs);
        }
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

// Bands of one lane; rows of the profiles are relative to the lane's top.
void findBands(Lane& lane, const Work& wk, const Profile& profile, double range, const Options& o)
{
    const int n = static_cast<int>(profile.size());
    const int radius = std::max(1, n / 600);
    const Profile s = boxSmooth(profile, radius);
    const double least = std::max(5.0 * noiseOf(profile) / std::sqrt(2.0 * radius + 1), o.minProminence * range);
    std::vector<Peak> peaks;
    // A band stands out of its valleys and also above the lane's typical level (its median):
    // the bright rim of a dark well has prominence but no height.
    Profile sorted(s);
    std::nth_element(sorted.begin(), sorted.begin() + n / 2, sorted.end());
    const double typical = sorted[n / 2];
    for (const Peak& p : findPeaks(s))
        if (p.prominence >= least && p.prominence > 0 && s[p.pos] - typical >= least)
            peaks.push_back(p);

    const int boxLeft = lane.boxLeft - wk.x0;
    const int boxRight = lane.boxRight - wk.x0;
    Profile sums, bgSums;
    std::vector<int> sat;
    const bool minimum = o.background == VolumeBackground::MovingMinimum;
    rowSums(wk, boxLeft, boxRight, lane.top - wk.y0, lane.bottom - wk.y0, sums, minimum ? &bgSums : nullptr, sat);

    for (size_t k = 0; k < peaks.size(); ++k) {
        const Peak& pk = peaks[k];
        const int p = pk.pos;
        const int lo = k > 0 ? peaks[k - 1].pos : 0;
        const int hi = k + 1 < peaks.size() ? peaks[k + 1].pos : n - 1;
        const double half = s[p] - 0.5 * pk.prominence;
        const double hwL = p - crossing(s, p, -1, half, lo);
        const double hwR = crossing(s, p, +1, half, hi) - p;
        // 3.1 half-widths reach 3.65 sigma of a Gaussian band: what a straight baseline under
        // its tails leaves out is below half a percent.
        const int top = std::max({argMin(s, lo, p), static_cast<int>(std::floor(p - 3.1 * std::max(hwL, 0.5)))});
        const int bottom = std::min({argMin(s, p, hi), static_cast<int>(std::ceil(p + 3.1 * std::max(hwR, 0.5)))});

        Band b;
        b.x = lane.centre;
        b.peakY = lane.top + pk.at;
        b.top = lane.top + top;
        b.bottom = lane.top + bottom;
        b.left = boxLeft + wk.x0;
        b.right = boxRight + wk.x0;
        b.prominence = pk.prominence;
        b.width = hwL + hwR;
        for (int y = top; y <= bottom; ++y) {
            b.rawVolume += sums[y];
            b.saturatedPixels += sat[y];
            if (minimum)
                b.backgroundVolume += bgSums[y];
        }
        if (!minimum) {
            // The line between the mean row sums around the top and the bottom row.
            const double st = meanOf(sums, top - 1, top + 1), sb = meanOf(sums, bottom - 1, bottom + 1);
            b.backgroundVolume = 0.5 * (st + sb) * (bottom - top + 1);
        }
        b.correctedVolume = b.rawVolume - b.backgroundVolume;
        b.saturated = b.saturatedPixels > 0;
        lane.bands.push_back(b);
    }
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
    if (o.tiers < 1)
        throw std::invalid_argument("a gel has at least one tier");
    if (o.laneCount < 0)
        throw std::invalid_argument("the lane count cannot be negative");
    Region r = o.region;
    if (r.width == 0)
        r = Region{0, 0, g.width, g.height};
    if (r.x < 0 || r.y < 0 || r.width < 1 || r.height < 1 || r.x > g.width - r.width || r.y > g.height - r.height)
        throw std::invalid_argument("the region " + std::to_string(r.x) + " " + std::to_string(r.y) + " " +
                                    std::to_string(r.width) + " x " + std::to_string(r.height) +
                                    " does not lie inside the image");
    if (r.width < 16 || r.height < 16 * o.tiers)
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
    const std::vector<int> starts = tierStarts(rows, o.tiers);

    for (int t = 0; t < o.tiers; ++t) {
        const int y0 = starts[t], y1 = starts[t + 1] - 1;
        Profile columns(r.width, 0.0);
        std::fill(acc.begin(), acc.end(), 0);
        for (int y = y0; y <= y1; ++y) {
            const int* v = wk.row(y);
            const int* b = wk.bgRow(y);
            for (int x = 0; x < r.width; ++x)
                acc[x] += std::max(0, v[x] - b[x]);
        }
        for (int x = 0; x < r.width; ++x)
            columns[x] = static_cast<double>(acc[x]) / (y1 - y0 + 1);
        std::vector<Lane> lanes = findLanes(columns, o);
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
            l.top = y0 + wk.y0;
            l.bottom = y1 + wk.y0;
            l.index = static_cast<int>(a.lanes.size());
            a.lanes.push_back(l);
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
        rowSums(wk, c0, c1, l.top - wk.y0, l.bottom - wk.y0, sums, nullptr, sat);
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
    for (size_t k = 0; k < a.lanes.size(); ++k) {
        findBands(a.lanes[k], wk, profiles[k], highest - lowest, o);
        for (Band& b : a.lanes[k].bands) {
            b.lane = static_cast<int>(k);
            widths.push_back(b.width);
        }
    }
    // A smear or a slow rise of the lane is far wider than the gel's bands: not a band.
    if (!widths.empty()) {
        std::nth_element(widths.begin(), widths.begin() + widths.size() / 2, widths.end());
        const double widest = 4 * widths[widths.size() / 2];
        for (Lane& l : a.lanes)
            l.bands.erase(std::remove_if(l.bands.begin(), l.bands.end(), [&](const Band& b) { return b.width > widest; }),
                          l.bands.end());
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
        calibrate(a, o.ladderLane, o.ladderSizes);
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

double SizeCalibration::sizeAt(double row, bool* extrapolated) const
{
    if (extrapolated)
        *extrapolated = false;
    if (!valid())
        return 0;
    const size_t n = positions.size();
    size_t k = 0;
    while (k + 2 < n && row > positions[k + 1])
        ++k;
    if (extrapolated)
        *extrapolated = row < positions.front() || row > positions.back();
    const double l0 = std::log10(sizes[k]), l1 = std::log10(sizes[k + 1]);
    const double f = (row - positions[k]) / (positions[k + 1] - positions[k]);
    return std::pow(10.0, l0 + f * (l1 - l0));
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

void calibrate(Analysis& analysis, int ladderLane, const std::vector<double>& sizes)
{
    if (ladderLane < 0 || ladderLane >= static_cast<int>(analysis.lanes.size()))
        throw std::invalid_argument("there is no ladder lane " + std::to_string(ladderLane + 1) + " (lanes found: " +
                                    std::to_string(analysis.lanes.size()) + ")");
    for (size_t k = 0; k < sizes.size(); ++k)
        if (!(sizes[k] > 0) || (k > 0 && !(sizes[k] < sizes[k - 1])))
            throw std::invalid_argument("ladder sizes must be positive and falling, largest first");
    const Lane& ladder = analysis.lanes[static_cast<size_t>(ladderLane)];
    const size_t n = std::min(sizes.size(), ladder.bands.size());
    if (n < 2)
        throw std::invalid_argument("a size calibration needs two ladder bands with sizes at least; lane " +
                                    std::to_string(ladderLane + 1) + " has " + std::to_string(ladder.bands.size()) +
                                    " bands");
    if (sizes.size() != ladder.bands.size())
        analysis.warnings.push_back("the ladder lane has " + std::to_string(ladder.bands.size()) + " bands for " +
                                    std::to_string(sizes.size()) + " sizes: paired from the top, " +
                                    std::to_string(n) + " used");
    // Migration distance: rows below the top of the lane's tier, so that a ladder calibrates
    // the lanes of its own tier and of the other tiers alike.
    SizeCalibration c;
    c.ladderLane = ladderLane;
    for (size_t k = 0; k < n; ++k) {
        c.positions.push_back(ladder.bands[k].peakY - ladder.top);
        c.sizes.push_back(sizes[k]);
    }
    for (Lane& l : analysis.lanes)
        for (Band& b : l.bands)
            b.size = c.sizeAt(b.peakY - l.top, &b.extrapolated);
    analysis.calibration = c;
}

} // namespace kestro::gel
