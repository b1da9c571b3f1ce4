#include "analysis/gel/Internal.h"
#include "raster/detail/Parallel.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>

namespace kestro::gel {
namespace detail {

// Moving average of radius r; the window shrinks at the ends instead of reading past them.
Profile boxSmooth(const Profile& v, int r) {
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
double noiseOf(const Profile& v) {
    if (v.size() < 3) return 0;
    std::vector<double> d(v.size() - 1);
    for (size_t i = 0; i + 1 < v.size(); ++i)
        d[i] = std::fabs(v[i + 1] - v[i]);
    std::nth_element(d.begin(), d.begin() + d.size() / 2, d.end());
    return d[d.size() / 2] / (0.6745 * std::sqrt(2.0));
}

// Local maxima (a plateau counts once, at its middle) with their prominence: the height above
// the higher of the lowest points between the peak and higher ground on either side (or the
// profile's end). Peaks on the first or last sample are not peaks.
std::vector<Peak> findPeaks(const Profile& s) {
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
                if (den < 0) p.at = i + std::clamp(0.5 * (a - c) / den, -0.5, 0.5);
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
double crossing(const Profile& s, int from, int dir, double level, int limit) {
    for (int k = from + dir; dir < 0 ? k >= limit : k <= limit; k += dir) {
        if (s[k] < level) {
            const double prev = s[k - dir];
            const double f = prev > s[k] ? (prev - level) / (prev - s[k]) : 0.0;
            return (k - dir) + dir * f;
        }
    }
    return limit;
}

int argMin(const Profile& s, int a, int b) {
    int best = a;
    for (int k = a; k <= b; ++k)
        if (s[k] < s[best]) best = k;
    return best;
}

double meanOf(const Profile& v, int a, int b) {
    a = std::max(a, 0);
    b = std::min(b, static_cast<int>(v.size()) - 1);
    double s = 0;
    for (int k = a; k <= b; ++k)
        s += v[k];
    return b >= a ? s / (b - a + 1) : 0.0;
}

// Moving average with Gaussian weights of standard deviation sigma, to three sigma; at the ends
// the weights are cut and renormalised instead of reading past them.
Profile gaussSmooth(const Profile& v, double sigma) {
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

double medianOf(Profile v) {
    if (v.empty()) return 0;
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2), v.end());
    return v[v.size() / 2];
}

double medianOfMany(Profile& v) {
    return rankOfMany(v, v.size() / 2);
}

double rankOfMany(Profile& v, size_t rank) {
    // Values of at least 0 order as their bit patterns: threads count them by their top 16 bits
    // (a sixteenth of an octave), and only the bucket that holds the rank is selected in.
    constexpr int kBuckets = 1 << 16;
    const size_t n = v.size();
    if (rank >= n) return 0;
    const auto bucketOf = [](double x) {
        std::uint64_t bits;
        std::memcpy(&bits, &x, sizeof bits);
        return static_cast<size_t>(bits >> 48);
    };
    const int bands = kestro::detail::bandCount(static_cast<long>(n), 1);
    if (bands < 2 || n >= (std::uint64_t(1) << 32) ||
        std::any_of(v.begin(), v.end(), [](double x) { return !(x >= 0); })) {
        std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(rank), v.end());
        return v[rank];
    }
    std::vector<std::vector<std::uint32_t>> counts(static_cast<size_t>(bands));
    kestro::detail::runBands(bands, [&](int b) {
        counts[static_cast<size_t>(b)].assign(kBuckets, 0);
        for (long i = kestro::detail::bandBegin(static_cast<long>(n), bands, b);
             i < kestro::detail::bandBegin(static_cast<long>(n), bands, b + 1); ++i)
            ++counts[static_cast<size_t>(b)][bucketOf(v[static_cast<size_t>(i)])];
    });
    size_t bucket = 0, below = 0;
    for (;; ++bucket) {
        size_t inBucket = 0;
        for (const std::vector<std::uint32_t>& c : counts)
            inBucket += c[bucket];
        if (below + inBucket > rank) break;
        below += inBucket;
    }
    std::vector<Profile> parts(static_cast<size_t>(bands));
    kestro::detail::runBands(bands, [&](int b) {
        for (long i = kestro::detail::bandBegin(static_cast<long>(n), bands, b);
             i < kestro::detail::bandBegin(static_cast<long>(n), bands, b + 1); ++i)
            if (bucketOf(v[static_cast<size_t>(i)]) == bucket)
                parts[static_cast<size_t>(b)].push_back(v[static_cast<size_t>(i)]);
    });
    Profile candidates;
    for (const Profile& part : parts)
        candidates.insert(candidates.end(), part.begin(), part.end());
    const auto at = candidates.begin() + static_cast<std::ptrdiff_t>(rank - below);
    std::nth_element(candidates.begin(), at, candidates.end());
    return *at;
}

// The stretch of a profile that lies on the gel: a scan often holds the gel inside a frame of the
// imager or tray, which carries none of the gel's own signal and so reads darker than the gel in
// bright-band polarity. Samples at the profile's ends whose level (lightly smoothed) stays below
// halfway from the scan's darkest (its lowest percentile) to the profile's blank gel (the given
// quantile: a lane's lower quartile, as bands may fill half of it) are off the gel when the gel rises
// out of them within `sharp` rows and stays, as a cut edge does and uneven lighting does not,
// the step stands well out of the noise, and the frame is more than `sharp` rows (a crop's cut
// through a band is not one); where the gel just inside the edge lies below the blank level, the
// rise is to its own level. Returns the first and one past the last sample on the gel, less
// the `sharp` samples along an edge where its rim glows.
std::pair<int, int> onGel(const Profile& profile, double darkest, int sharp, double blankShare) {
    const int n = static_cast<int>(profile.size());
    const int radius = std::max(1, n / 600);
    const Profile s = boxSmooth(profile, radius);
    Profile order(s);
    const int at = std::min(n - 1, static_cast<int>(blankShare * n));
    std::nth_element(order.begin(), order.begin() + at, order.end());
    const double blank = order[static_cast<size_t>(at)];
    if (n < 8 || !(blank - darkest > 10 * noiseOf(profile))) return {0, n};
    const double level = 0.5 * (darkest + blank);
    // From an edge at row e, stepping dir, the gel stands at its level within a few rows and
    // does not fall back towards the frame for several times that: a band on a dim stretch of gel
    // rises as sharply but falls again.
    const auto sharpRise = [&](int e, int dir, double top) {
        bool risen = false;
        for (int k = 0; k < 4 * sharp && e + dir * k >= 0 && e + dir * k < n; ++k) {
            const double v = s[static_cast<size_t>(e + dir * k)];
            if (v < level) return false;
            risen = risen || (k < sharp && v >= darkest + 0.75 * (top - darkest));
        }
        return risen;
    };
    // The gel's level just inside an edge: the median of the samples its rise is judged over.
    const auto margin = [&](int e, int dir) {
        Profile m;
        for (int k = 0; k < 4 * sharp && e + dir * k >= 0 && e + dir * k < n; ++k)
            m.push_back(s[static_cast<size_t>(e + dir * k)]);
        return medianOf(m);
    };
    // The gel runs from the first to the last stretch of several sharp heights at its level; a
    // speck or the lip of a tray in the frame beyond it is no gel.
    const int stretch = 4 * sharp;
    int a = 0, b = n;
    for (int run = 0; a < n && run < stretch; ++a)
        run = s[static_cast<size_t>(a)] >= level ? run + 1 : 0;
    a -= stretch;
    for (int run = 0; b > 0 && run < stretch; --b)
        run = s[static_cast<size_t>(b) - 1] >= level ? run + 1 : 0;
    b += stretch;
    if (a < 0 || b > n || b <= a) return {0, n};
    // A frame lies mostly at the scan's darkest, three quarters of it well below the gel; a dim end
    // of the gel under uneven light slopes up to the gel's level. A casting tray's dim trough and
    // bright lip beside the gel take up less than a quarter of the frame, and do not count.
    const auto flatDark = [&](int from, int to, double top) {
        Profile run(s.begin() + from, s.begin() + to);
        const size_t m = run.size();
        std::sort(run.begin(), run.end());
        return run[m / 2] <= darkest + 0.25 * (top - darkest) &&
               run[3 * m / 4] <= darkest + 0.35 * (top - darkest);
    };
    // The gel beside its edge may stand well below the level its lanes give the whole (a thin
    // margin, lanes that glow): the rise to that margin's own level counts then, if the frame
    // lies as far below the margin as it must below the gel.
    const auto edge = [&](int e, int dir, int from, int to) {
        if (sharpRise(e, dir, blank) && flatDark(from, to, blank)) return true;
        const double own = margin(e, dir);
        return own < blank && sharpRise(e, dir, own) && flatDark(from, to, own);
    };
    if (a < sharp || !edge(a, +1, 0, a)) a = 0;
    if (n - b < sharp || !edge(b - 1, -1, b, n)) b = n;
    // The cut's glow and blur reach as far into the gel as its rise takes.
    return {a > 0 ? a + sharp : 0, b < n ? b - sharp : n};
}

// The scan's darkest level in the work raster: its lowest percentile, over every fourth pixel of
// every fourth row (a frame is a large area; a speck of dust is not).
// Counted level by level (the values lie within 0..maxValue), each band of rows on its own.
double darkestLevel(const Work& wk) {
    const long rows = (wk.h + 3) / 4;
    const size_t levels = static_cast<size_t>(wk.maxValue) + 1, perRow = static_cast<size_t>((wk.w + 3) / 4);
    // A sampled row stands for the 4 x 4 pixels around each of its samples.
    const int bands = kestro::detail::bandCount(rows, perRow * 16);
    std::vector<std::vector<size_t>> counts(static_cast<size_t>(bands));
    kestro::detail::runBands(bands, [&](int band) {
        std::vector<size_t>& c = counts[static_cast<size_t>(band)];
        c.assign(levels, 0);
        for (long i = kestro::detail::bandBegin(rows, bands, band);
             i < kestro::detail::bandBegin(rows, bands, band + 1); ++i)
            for (int x = 0; x < wk.w; x += 4)
                ++c[static_cast<size_t>(wk.row(static_cast<int>(4 * i))[x])];
    });
    // The sample's element at rank size / 100, as the smallest level whose count passes it.
    const size_t rank = static_cast<size_t>(rows) * perRow / 100;
    size_t seen = 0;
    for (size_t v = 0; v < levels; ++v) {
        for (const std::vector<size_t>& c : counts)
            seen += c[v];
        if (seen > rank) return static_cast<double>(v);
    }
    return 0;
}

} // namespace detail

std::vector<ProfilePeak> profilePeaks(const std::vector<double>& profile, double leastProminence) {
    std::vector<ProfilePeak> out;
    const int n = static_cast<int>(profile.size());
    for (const detail::Peak& p : detail::findPeaks(profile)) {
        if (p.prominence < leastProminence) continue;
        const double half = profile[static_cast<size_t>(p.pos)] - 0.5 * p.prominence;
        out.push_back({p.at, p.prominence, p.pos - detail::crossing(profile, p.pos, -1, half, 0),
                       detail::crossing(profile, p.pos, +1, half, n - 1) - p.pos});
    }
    return out;
}

} // namespace kestro::gel
