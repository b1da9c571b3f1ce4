#include "analysis/gel/Internal.h"
#include "raster/detail/Parallel.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>

namespace kestro::gel {
namespace detail {

namespace {

// Rows at which a region is split into tiers. A given number of tiers splits at the emptiest
// row near each boundary between equal shares. Found tiers (tiers 0) are parted by long empty
// runs of the row profile: below 5% of its range above its floor for at least an eighth of the
// height, with a fifth of the profile's signal on either side (a lane's empty stretch between
// two bands is shorter, and an empty top or bottom of the scan has no signal beyond it).
std::vector<int> tierStarts(const Profile& rows, int tiers) {
    const int n = static_cast<int>(rows.size());
    std::vector<int> starts{0};
    const Profile s = boxSmooth(rows, std::max(1, n / 100));
    if (tiers > 0) {
        for (int k = 1; k < tiers; ++k) {
            const int mid = k * n / tiers, reach = n / (4 * tiers);
            starts.push_back(
                argMin(s, std::max(starts.back() + 1, mid - reach), std::min(n - 1, mid + reach)));
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
            if (8 * (j - i + 1) >= n && cumulative[i] >= 0.2 * total &&
                total - cumulative[j + 1] >= 0.2 * total)
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
Profile wellContrast(const Work& wk, const std::vector<Lane>& lanes) {
    Profile out(static_cast<size_t>(wk.h), 0.0);
    if (lanes.size() < 2) return out;
    struct Span {
        int a, b;
    };
    std::vector<Span> mids, gaps;
    for (const Lane& l : lanes) {
        const auto [a, b] = middleHalf(l, wk.w);
        mids.push_back({a, b});
    }
    // The gaps between neighbours; the outer lanes have their one gap on both sides.
    for (size_t k = 0; k + 1 < lanes.size(); ++k) {
        int a = static_cast<int>(std::ceil(lanes[k].right)),
            b = static_cast<int>(std::floor(lanes[k + 1].left));
        if (b < a) a = b = static_cast<int>(std::lround(0.5 * (lanes[k].right + lanes[k + 1].left)));
        gaps.push_back({std::clamp(a, 0, wk.w - 1), std::clamp(b, 0, wk.w - 1)});
    }
    auto mean = [](const int* r, const int* g, Span s) {
        long long sum = 0;
        for (int x = s.a; x <= s.b; ++x)
            sum += r[x] - g[x];
        return static_cast<double>(sum) / (s.b - s.a + 1);
    };
    kestro::detail::parallelRows(wk.h, static_cast<size_t>(wk.w), [&](long y0, long y1) {
        std::vector<double> dark(lanes.size()), gapMean(gaps.size());
        for (int y = static_cast<int>(y0); y < y1; ++y) {
            const int* r = wk.row(y);
            const int* g = wk.bgRow(y);
            for (size_t k = 0; k < gaps.size(); ++k)
                gapMean[k] = mean(r, g, gaps[k]);
            for (size_t k = 0; k < lanes.size(); ++k) {
                const double left = k > 0 ? gapMean[k - 1] : gapMean[k];
                const double right = k < gaps.size() ? gapMean[k] : gapMean[k - 1];
                dark[k] = std::min(left, right) - mean(r, g, mids[k]);
            }
            std::nth_element(dark.begin(), dark.begin() + static_cast<std::ptrdiff_t>(dark.size() / 2),
                             dark.end());
            out[static_cast<size_t>(y)] = dark[dark.size() / 2];
        }
    });
    return out;
}

// The well contrast lightly smoothed, and the least value along a row of wells: five times
// the contrast's noise and the given share of the lanes' strongest brightness over the gel.
struct WellRows {
    Profile w;
    double least = 0;
};

WellRows wellRows(const Profile& contrast, double share) {
    const int radius = std::max(1, static_cast<int>(contrast.size()) / 400);
    WellRows r;
    r.w = boxSmooth(contrast, radius);
    r.least = std::max(5 * noiseOf(contrast) / std::sqrt(2.0 * radius + 1),
                       -share * *std::min_element(r.w.begin(), r.w.end()));
    return r;
}

// Rows at which a second (third...) comb's wells part a region into tiers, where no long empty
// stretch does: the rows where the lanes run clearly darker than the gel beside them (the well
// contrast above five times its noise and a tenth of the lanes' strongest brightness over the
// gel), a run shorter than an eighth of the height, with a fifth of the lanes' brightness over
// the gel above and below it. A tier starts half the run's height above it, taking in the rims
// of the slots, and spans an eighth of the height at least.
std::vector<int> wellStarts(const Profile& contrast) {
    const int n = static_cast<int>(contrast.size());
    std::vector<int> starts{0};
    const auto [w, least] = wellRows(contrast, 0.1);
    Profile cumulative(static_cast<size_t>(n) + 1, 0.0);
    for (int i = 0; i < n; ++i)
        cumulative[static_cast<size_t>(i) + 1] =
            cumulative[static_cast<size_t>(i)] + std::max(0.0, -w[static_cast<size_t>(i)]);
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
            total - cumulative[static_cast<size_t>(j) + 1] >= 0.2 * total &&
            8 * (start - starts.back()) >= n && 8 * (n - start) >= n)
            starts.push_back(start);
        i = j + 1;
    }
    starts.push_back(n);
    return starts;
}

// A second comb's row of wells whose lanes need not line up with the first tier's, found
// without lanes. A slot is a stripe between a bright rim above and one below, so in most columns
// across the gel the rows of a comb stand darker than the brightest rows within a slot's height
// above and below; the valleys between a lane's bands do too, but a comb also shows in the
// empty lanes, where no sample ran, and stands alone down the gel. A comb row:
// - shows the stripe in at least a third of the middle 80% of the gel's columns (a comb's teeth
//   may be nearly as wide as its slots, so that the stripe shows in little more than half of
//   them at best), repeating along the row at the wells' pitch (the autocorrelation of where it
//   shows, at least 0.35 at a lag within a quarter of the lanes' spacing, of a half or third of
//   it, or of twice or three times it: lanes are found only where samples ran, and the lanes of
//   two tiers that do not line up interleave);
// - shows its rims or slots (the row's second difference at half a slot's height, four times
//   its noise) in at least 30% of the columns of empty lanes (runs of the dimmest columns at
//   least a lane wide); a gel without an empty lane gives no evidence and is not parted;
// - is the strongest such row within two slot heights, and rows three to ten heights away show
//   the stripe less than 85% as widely (a lane's bands repeat down it);
// - parts the region as a long empty stretch does: a fifth of the signal above and below it,
//   and an eighth of the height to either end. The tier starts a slot's height above the
//   stripe's first row, taking in the upper rims, and its bands below the lower rims
//   (`wellsEnd`).
//
// A row of wells runs straight across the gel, and slants in a turned scan or a photograph. The
// comb's stripe is sought along slopes of up to 5 degrees; where it shows as widely as a comb's
// along its slope, and in a tenth more columns than along any level row, the tiers are read
// along that slope.
constexpr double kSlopeGain = 1.1;
constexpr double kSlotShare = 1.0 / 3, kSlotRepeat = 0.35, kSlotPitch = 0.25, kSlotAlone = 0.85,
                 kEmptyShare = 0.3;
// Lanes that drift by half their spacing over the region smear into their neighbours' columns.
constexpr double kSmearedDrift = 0.5;
// The lower quartile of the size of a normal variable, in its standard deviations.
constexpr double kLowerQuartile = 0.3186;

// Marks for `rows` rows of `perRow` values, cleared by the threads a band of rows each: the
// first touch of fresh pages costs more than the marking, and so is shared too.
std::unique_ptr<unsigned char[]> clearedMarks(int rows, int perRow) {
    std::unique_ptr<unsigned char[]> marks(new unsigned char[static_cast<size_t>(rows) * perRow]);
    kestro::detail::parallelRows(rows, static_cast<size_t>(perRow), [&](long y0, long y1) {
        std::fill(marks.get() + y0 * perRow, marks.get() + y1 * perRow, static_cast<unsigned char>(0));
    });
    return marks;
}

struct CombRows {
    int bin = 1, n = 0, d = 0, cols = 0;
    double pitch = 0;
    std::unique_ptr<unsigned char[]> on; // where the stripe shows, row by row over the middle columns
    Profile share, inEmpty;
    bool valid = false;
    CombRows(const Work& wk, const std::vector<Lane>& lanes);
    bool isComb(int y) const;
    // Whether the stripe along row y repeats at the wells' pitch (worked out once a row).
    bool repeats(int y) const;
    mutable std::vector<signed char> repeatsAt; // -1 where not yet worked out
    // The slope, in rows per column, along which a comb's stripe shows in most columns, and that
    // share of the columns against the most along a level row.
    double slant(double& widest, double& level) const;
    // The first and last rows of the stripe about the comb row y: where it still shows at least
    // half as widely.
    std::pair<int, int> stripe(int y) const {
        int first = y, last = y;
        while (first > 0 && share[static_cast<size_t>(first) - 1] >= 0.5 * share[static_cast<size_t>(y)])
            --first;
        while (last + 1 < n && share[static_cast<size_t>(last) + 1] >= 0.5 * share[static_cast<size_t>(y)])
            ++last;
        return {first, last};
    }
    // Below the comb, in image rows: the stripe's last row and a slot's height for the lower rims.
    int below(int y) const { return (stripe(y).second + d + 1) * bin; }
    // Above it: the stripe's first row and a slot's height for the upper rims.
    int above(int y) const { return std::max(0, stripe(y).first - d) * bin; }
};

CombRows::CombRows(const Work& wk, const std::vector<Lane>& lanes) {
    // A comb's slots are tens of rows high on any scan: large scans are read in blocks of bin x bin
    // pixels, about a thousand rows in all.
    bin = std::max(1, wk.h / 1024);
    n = wk.h / bin;
    d = slotHeight(n);
    const int w = wk.w / bin, half = std::max(2, d / 2);
    if (lanes.size() < 3 || n < 8 * d || w < 64) return;
    Profile gaps, widths;
    for (size_t k = 0; k < lanes.size(); ++k) {
        widths.push_back((lanes[k].right - lanes[k].left) / bin);
        if (k > 0) gaps.push_back((lanes[k].centre - lanes[k - 1].centre) / bin);
    }
    pitch = medianOf(gaps);
    const double laneWidth = medianOf(widths);
    // Each thread clears the grid rows it fills, so that their pages are first touched in
    // parallel. A block's pixels are added in the order of a row, each divided by the block's
    // area (a power of two multiplies by its exact reciprocal alike).
    const std::unique_ptr<float[]> grid(new float[static_cast<size_t>(n) * w]);
    const float area = static_cast<float>(bin * bin);
    const bool powerOfTwo = (bin & (bin - 1)) == 0;
    kestro::detail::parallelRows(n, static_cast<size_t>(w) * bin * bin, [&](long g0, long g1) {
        for (long gy = g0; gy < g1; ++gy) {
            float* g = grid.get() + static_cast<size_t>(gy) * w;
            std::fill(g, g + w, 0.0f);
            for (int y = static_cast<int>(gy) * bin; y < (gy + 1) * bin; ++y) {
                const int* r = wk.row(y);
                if (powerOfTwo) {
                    const float scale = 1.0f / area;
                    for (int x = 0; x < w; ++x)
                        for (int k = 0; k < bin; ++k)
                            g[x] += static_cast<float>(r[x * bin + k]) * scale;
                } else {
                    for (int x = 0; x < w; ++x)
                        for (int k = 0; k < bin; ++k)
                            g[x] += static_cast<float>(r[x * bin + k]) / area;
                }
            }
        }
    });
    const float* source = grid.get(); // what pixel reads: the grid, or a copy averaged wider
    const auto pixel = [&](int x, int y) {
        return static_cast<double>(source[static_cast<size_t>(y) * w + x]);
    };
    // The grid lightly smoothed down each column.
    const auto at = [&](int x, int y) {
        const int y0 = std::max(0, y - 1), y1 = std::min(n - 1, y + 1);
        double sum = 0;
        for (int k = y0; k <= y1; ++k)
            sum += pixel(x, k);
        return sum / (y1 - y0 + 1);
    };

    // Empty lanes: the dimmest 30% of the columns on the gel (a frame's columns, darker than
    // halfway from the scan's darkest to the dimmest quarter of columns, left out), in runs at
    // least a lane wide.
    // Threads take columns for the means (each still adds its rows top to bottom) and rows for
    // the differences, which keep the order of a row-by-row walk.
    Profile column(static_cast<size_t>(w), 0.0);
    kestro::detail::parallelRows(w, static_cast<size_t>(n), [&](long a, long b) {
        for (int y = 0; y < n; ++y)
            for (long x = a; x < b; ++x)
                column[static_cast<size_t>(x)] += pixel(static_cast<int>(x), y) / n;
    });
    // The noise of the pixels along rows, from every fourth row: the median of the differences
    // step columns apart (or their mean, where whole grey levels flatten the median), or their
    // lower quartile, which the gel's own changes between columns far apart touch least; `down`,
    // of the lightly smoothed values three rows apart down each column instead. The estimates
    // share one buffer: fresh pages cost more to touch than the differences do.
    Profile diffs;
    // Pixels clipped to the scan's black all read its very lowest value and carry no noise.
    const double clippedBlack = *std::min_element(grid.get(), grid.get() + static_cast<size_t>(n) * w);
    const auto noiseAlong = [&](int step, bool quartile, bool down = false) {
        const size_t along = static_cast<size_t>(std::max(0, w - step));
        diffs.resize(static_cast<size_t>((n + 3) / 4) * along);
        kestro::detail::parallelRows((n + 3) / 4, along, [&](long k0, long k1) {
            for (long k = k0; k < k1; ++k)
                for (int x = 0; x + step < w; ++x) {
                    const double u = down ? at(x, std::min(n - 1, static_cast<int>(4 * k) + 3))
                                          : pixel(x + step, static_cast<int>(4 * k)),
                                 v = down ? at(x, static_cast<int>(4 * k))
                                          : pixel(x, static_cast<int>(4 * k));
                    diffs[static_cast<size_t>(k) * along + static_cast<size_t>(x)] =
                        std::max(u, v) <= clippedBlack ? -1.0 : std::fabs(u - v);
                }
        });
        diffs.erase(std::remove(diffs.begin(), diffs.end(), -1.0), diffs.end());
        if (diffs.empty()) return 0.0;
        // The mean is summed in the differences' own order, before a selection may reorder them.
        double mean = 0;
        for (double v : diffs)
            mean += v;
        mean /= static_cast<double>(diffs.size());
        if (quartile) {
            const double q = rankOfMany(diffs, diffs.size() / 4);
            if (q > 0) return q / kLowerQuartile;
        }
        return std::max(medianOfMany(diffs) / 0.6745, 0.8 * mean);
    };
    const double pixelNoise = noiseAlong(1, false);
    const double darkest = wk.darkest;
    Profile sorted(column);
    std::sort(sorted.begin(), sorted.end());
    // Where a quarter of the scan or more is clipped to its black, the blank gel is too (a contrast
    // stretched past the background): its empty lanes then read at the frame's level, and only the
    // gel's span, read next, keeps a frame out.
    const size_t cells = static_cast<size_t>(n) * w;
    const size_t clipped = static_cast<size_t>(
        std::count_if(grid.get(), grid.get() + cells, [&](float v) { return v <= clippedBlack; }));
    const double frame = 4 * clipped >= cells ? darkest : 0.5 * (darkest + sorted[sorted.size() / 4]);
    // The frame beside the gel holds no wells: empty lanes lie on the gel's own columns.
    const std::pair<int, int> onTheGel = onGel(column, darkest, std::max(4, w / 64), 0.5);
    const int gelLeft = onTheGel.first, gelRight = onTheGel.second;
    Profile gelColumns;
    for (int x = gelLeft; x < gelRight; ++x)
        if (column[static_cast<size_t>(x)] >= frame) gelColumns.push_back(column[static_cast<size_t>(x)]);
    if (gelColumns.size() < 16) return;
    std::sort(gelColumns.begin(), gelColumns.end());
    const double dim = gelColumns[3 * gelColumns.size() / 10];
    std::vector<char> empty(static_cast<size_t>(w), 0);
    int emptyCount = 0;
    for (int x = 0; x < w;) {
        const auto isDim = [&](int c) {
            return c >= gelLeft && c < gelRight && column[static_cast<size_t>(c)] >= frame &&
                   column[static_cast<size_t>(c)] <= dim;
        };
        if (!isDim(x)) {
            ++x;
            continue;
        }
        int e = x;
        while (e + 1 < w && isDim(e + 1))
            ++e;
        if (e - x + 1 >= laneWidth) {
            std::fill(empty.begin() + x, empty.begin() + e + 1, 1);
            emptyCount += e - x + 1;
        }
        x = e + 1;
    }
    if (emptyCount == 0) return;
    // Rims and slots in the empty lanes: the second difference at half a slot's height, against
    // its noise (its median over every fourth row). They count where the grid shows them as it is
    // or averaged along its rows (below), each reading against its own noise: whole grey levels
    // can flatten the first reading's median to nothing, so that any bend counts, and noise can
    // hide a rim from it that the average shows.
    std::vector<int> emptyColumns;
    for (int x = 0; x < w; ++x)
        if (empty[static_cast<size_t>(x)]) emptyColumns.push_back(x);
    const size_t across = emptyColumns.size();
    const int bendRows = n - 2 * half > 0 ? (n - 2 * half + 3) / 4 : 0;
    if (bendRows == 0 || across == 0) return;
    Profile bends(static_cast<size_t>(bendRows) * across);
    const auto bendLeastOf = [&] {
        kestro::detail::parallelRows(bendRows, across * 9, [&](long k0, long k1) {
            for (long k = k0; k < k1; ++k) {
                const int y = half + 4 * static_cast<int>(k);
                for (size_t j = 0; j < across; ++j) {
                    const int x = emptyColumns[j];
                    bends[static_cast<size_t>(k) * across + j] =
                        std::fabs(2 * at(x, y) - at(x, y - half) - at(x, y + half));
                }
            }
        });
        return 4 * medianOfMany(bends) / 0.6745;
    };
    const double bendLeast = bendLeastOf();

    // Column by column in blocks (rows read in order), each block's columns first copied out
    // of the grid: where rims or slots show in the empty lanes, and, on the averaged grid, where
    // the stripe between rims shows in the middle 80% of the gel's columns (the imager's frame
    // beside a gel holds no comb, and counted there it hid a comb under noise).
    const int x0 = gelLeft + (gelRight - gelLeft) / 10, x1 = gelRight - (gelRight - gelLeft) / 10, block = 64;
    cols = x1 - x0;
    on = clearedMarks(n, cols);
    share.assign(static_cast<size_t>(n), 0.0);
    inEmpty.assign(static_cast<size_t>(n), 0.0);
    // Blocks of columns go to the threads, which mark rows; the shares are then added up column by
    // column, in the order one thread would.
    const std::unique_ptr<unsigned char[]> bent = clearedMarks(n, w);
    const int blocks = (w + block - 1) / block;
    struct Column {
        std::vector<float> c, up, down, scratch;
    };
    const auto byColumn = [&](const std::function<bool(int)>& wanted,
                              const std::function<void(int, Column&)>& mark) {
        kestro::detail::runBands(blocks, [&](int blockIndex) {
            const int xb = blockIndex * block, bw = std::min(block, w - xb);
            bool any = false;
            for (int j = 0; j < bw && !any; ++j)
                any = wanted(xb + j);
            if (!any) return;
            std::vector<float> buffer(static_cast<size_t>(n) * block);
            Column column;
            column.c.resize(static_cast<size_t>(n));
            for (int y = 0; y < n; ++y)
                for (int j = 0; j < bw; ++j)
                    buffer[static_cast<size_t>(y) * block + j] = static_cast<float>(at(xb + j, y));
            for (int j = 0; j < bw; ++j) {
                if (!wanted(xb + j)) continue;
                for (int y = 0; y < n; ++y)
                    column.c[static_cast<size_t>(y)] = buffer[static_cast<size_t>(y) * block + j];
                mark(xb + j, column);
            }
        });
    };
    const auto markRims = [&](int x, const std::vector<float>& c, double least) {
        for (int y = half; y + half < n; ++y)
            if (std::fabs(2.0 * c[static_cast<size_t>(y)] - c[static_cast<size_t>(y - half)] -
                          c[static_cast<size_t>(y + half)]) > least)
                bent[static_cast<size_t>(y) * w + x] = 1;
    };
    const auto isEmpty = [&](int x) { return empty[static_cast<size_t>(x)] != 0; };
    byColumn(isEmpty, [&](int x, Column& col) { markRims(x, col.c, bendLeast); });
    // Heavy noise hides a rim's bend from single columns. A rim runs across its slot, most of a
    // lane wide: averaged along the rows over a quarter of the pitch, the empty lanes show it
    // (over a third of the pitch or more, the streaks of a 2-D gel's spots read as rims too).
    {
        // Running sums (boxSmooth): a window this wide summed afresh at each column would cost
        // as many passes as it is wide.
        const std::unique_ptr<float[]> wide(new float[static_cast<size_t>(n) * w]);
        const int wideReach = std::max(1, static_cast<int>(pitch / 8));
        kestro::detail::parallelRows(n, static_cast<size_t>(w) * 3, [&](long g0, long g1) {
            Profile row(static_cast<size_t>(w));
            for (long gy = g0; gy < g1; ++gy) {
                const float* in = grid.get() + static_cast<size_t>(gy) * w;
                std::copy(in, in + w, row.begin());
                const Profile averaged = boxSmooth(row, wideReach);
                std::transform(averaged.begin(), averaged.end(), wide.get() + static_cast<size_t>(gy) * w,
                               [](double v) { return static_cast<float>(v); });
            }
        });
        source = wide.get();
        const double wideLeast = bendLeastOf();
        byColumn(isEmpty, [&](int x, Column& col) { markRims(x, col.c, wideLeast); });
        source = grid.get();
    }
    // A slot is most of a lane wide, and the pixel noise is not: from here the grid is read
    // averaged along its rows over a twentieth of the lanes' pitch, which lowers the noise and
    // keeps a slot's depth and the narrow teeth between slots (wider averages fill some combs'
    // teeth, and the row of slots no longer repeats).
    const int reach = static_cast<int>(pitch / 40), span = 2 * reach + 1;
    kestro::detail::parallelRows(n, static_cast<size_t>(w) * span, [&](long g0, long g1) {
        std::vector<float> r(static_cast<size_t>(w));
        for (long gy = g0; gy < g1; ++gy) {
            float* out = grid.get() + static_cast<size_t>(gy) * w;
            std::copy(out, out + w, r.begin());
            // Whole windows in shifted passes along the row; the ends average what they have.
            for (int x = 0; x < w; ++x) {
                const int a = std::max(0, x - reach), b = std::min(w - 1, x + reach);
                if (a == x - reach && b == x + reach) continue;
                float sum = 0;
                for (int k = a; k <= b; ++k)
                    sum += r[static_cast<size_t>(k)];
                out[x] = sum / static_cast<float>(b - a + 1);
            }
            for (int x = reach; x < w - reach; ++x)
                out[x] = 0;
            for (int k = -reach; k <= reach; ++k)
                for (int x = reach; x < w - reach; ++x)
                    out[x] += r[static_cast<size_t>(x + k)];
            for (int x = reach; x < w - reach; ++x)
                out[x] /= static_cast<float>(span);
        }
    });
    // The noise the stripe must stand out of. Averaging lowers it, and the differences between
    // averages that share no column hold some of the gel's own changes: each of the two bounds
    // the averaged grid's noise from above.
    const double noise = std::min(pixelNoise, noiseAlong(span, true));
    // Where the stripe shows is counted against the noise of the very values compared, read down
    // the columns (where the gel changes slowly) three rows apart, since noise hides a shallow
    // slot from the higher bound in many columns (a faint second comb under noise of 4 grey
    // levels was lost so); whether it repeats along the row is read against that higher bound,
    // which keeps the teeth between slots out of it.
    const double lowNoise = std::min(noise, noiseAlong(1, true, true));
    const std::unique_ptr<unsigned char[]> low = clearedMarks(n, cols);
    const double averagedBendLeast = bendLeastOf();
    byColumn([&](int x) { return isEmpty(x) || (x >= x0 && x < x1); },
             [&](int x, Column& col) {
                 const std::vector<float>& c = col.c;
                 if (isEmpty(x)) markRims(x, c, averagedBendLeast);
                 if (x < x0 || x >= x1) return;
                 maxWithin(c.data(), n, d, false, col.up, col.scratch);
                 maxWithin(c.data(), n, d, true, col.down, col.scratch);
                 for (int y = 0; y < n; ++y) {
                     const double dip =
                         std::min(col.up[static_cast<size_t>(y)], col.down[static_cast<size_t>(y)]) -
                         c[static_cast<size_t>(y)];
                     if (dip > 3 * noise) on[static_cast<size_t>(y) * cols + (x - x0)] = 1;
                     if (dip > 3 * lowNoise) low[static_cast<size_t>(y) * cols + (x - x0)] = 1;
                 }
             });
    kestro::detail::parallelRows(n, static_cast<size_t>(w), [&](long y0, long y1) {
        for (long y = y0; y < y1; ++y)
            for (int x = 0; x < w; ++x) {
                if (x >= x0 && x < x1 && low[static_cast<size_t>(y) * cols + (x - x0)])
                    share[static_cast<size_t>(y)] += 1.0 / cols;
                if (bent[static_cast<size_t>(y) * w + x]) inEmpty[static_cast<size_t>(y)] += 1.0 / emptyCount;
            }
    });
    repeatsAt.assign(static_cast<size_t>(n), -1);
    valid = true;
}

double CombRows::slant(double& widest, double& level) const {
    widest = level = 0;
    // Columns in blocks of eight, each moved as a whole: within a block a slope moves the stripe
    // by a fraction of a row.
    constexpr int block = 8;
    const int blocks = cols / block, width = blocks * block;
    if (!valid || blocks < 4) return 0;
    std::vector<int> counts(static_cast<size_t>(n) * blocks, 0);
    kestro::detail::parallelRows(n, static_cast<size_t>(cols), [&](long y0, long y1) {
        for (long y = y0; y < y1; ++y)
            for (int b = 0; b < blocks; ++b)
                for (int k = 0; k < block; ++k)
                    counts[static_cast<size_t>(y) * blocks + b] +=
                        on[static_cast<size_t>(y) * cols + b * block + k];
    });
    // Slopes in steps that move the stripe's ends by a row, each on a thread of its own. A
    // stripe many rows high shows in as many columns along a range of slopes about its own:
    // its own is the middle one of those.
    const int steps = static_cast<int>(std::ceil(kMostSlope * width));
    std::vector<int> most(static_cast<size_t>(2 * steps + 1), 0);
    kestro::detail::runBands(2 * steps + 1, [&](int i) {
        const double slope = static_cast<double>(i - steps) / width;
        std::vector<int> drop(static_cast<size_t>(blocks));
        for (int b = 0; b < blocks; ++b)
            drop[static_cast<size_t>(b)] =
                static_cast<int>(std::lround(slope * ((b + 0.5) * block - 0.5 * width)));
        for (int y = n / 8; y < n - n / 8; ++y) {
            int sum = 0;
            for (int b = 0; b < blocks; ++b) {
                const int row = y + drop[static_cast<size_t>(b)];
                if (row >= 0 && row < n) sum += counts[static_cast<size_t>(row) * blocks + b];
            }
            most[static_cast<size_t>(i)] = std::max(most[static_cast<size_t>(i)], sum);
        }
    });
    const int widestCount = *std::max_element(most.begin(), most.end());
    std::vector<int> widestAt;
    for (int i = 0; i <= 2 * steps; ++i)
        if (most[static_cast<size_t>(i)] == widestCount) widestAt.push_back(i);
    const int best = widestAt[widestAt.size() / 2];
    widest = static_cast<double>(most[static_cast<size_t>(best)]) / width;
    level = static_cast<double>(most[static_cast<size_t>(steps)]) / width;
    return static_cast<double>(best - steps) / width;
}

bool CombRows::repeats(int y) const {
    signed char& known = repeatsAt[static_cast<size_t>(y)];
    if (known >= 0) return known == 1;
    const double stripe = share[static_cast<size_t>(y)];
    Profile q(static_cast<size_t>(cols));
    double zero = 0;
    for (int j = 0; j < cols; ++j) {
        q[static_cast<size_t>(j)] = on[static_cast<size_t>(y) * cols + j] - stripe;
        zero += q[static_cast<size_t>(j)] * q[static_cast<size_t>(j)];
    }
    double best = -1;
    int lag = 0;
    for (int l = std::max(3, cols / 40); l <= cols / 4; ++l) {
        double sum = 0;
        for (int j = 0; j + l < cols; ++j)
            sum += q[static_cast<size_t>(j)] * q[static_cast<size_t>(j + l)];
        if (sum > best) {
            best = sum;
            lag = l;
        }
    }
    bool atPitch = false;
    for (int k = 1; k <= 3; ++k)
        atPitch = atPitch || std::fabs(lag - pitch / k) <= kSlotPitch * lag ||
                  std::fabs(lag - pitch * k) <= kSlotPitch * lag;
    known = zero > 0 && best / zero >= kSlotRepeat && atPitch ? 1 : 0;
    return known == 1;
}

bool CombRows::isComb(int y) const {
    const double stripe = share[static_cast<size_t>(y)];
    if (!valid || stripe < kSlotShare) return false;
    bool alone = true, seen = false;
    for (int k = std::max(0, y - 10 * d); k <= std::min(n - 1, y + 10 * d) && alone; ++k)
        alone = std::abs(k - y) < 3 * d || share[static_cast<size_t>(k)] < kSlotAlone * stripe;
    for (int k = std::max(0, y - d); k <= std::min(n - 1, y + d); ++k)
        seen = seen || inEmpty[static_cast<size_t>(k)] >= kEmptyShare;
    if (!alone || !seen || !repeats(y)) return false;
    // Only a row that repeats as a comb's does outshines it: a line unbroken across the gel (the
    // lip of a tray just above the wells) shows in more columns, and is no comb. A row of the
    // same stripe, no dip between them, is no other line.
    for (int k = std::max(0, y - 2 * d); k <= std::min(n - 1, y + 2 * d); ++k) {
        const double other = share[static_cast<size_t>(k)];
        bool dip = false;
        for (int j = std::min(k, y) + 1; j < std::max(k, y) && !dip; ++j)
            dip = share[static_cast<size_t>(j)] < kSlotAlone * stripe;
        if (dip && (other > stripe || (other == stripe && k < y)) && repeats(k)) return false;
    }
    return true;
}

std::vector<int> combStarts(const Work& wk, const CombRows& comb, const Profile& rows,
                            std::vector<int>& wellsEnd) {
    const int h = wk.h, n = comb.n, bin = comb.bin;
    std::vector<int> starts{0};
    if (!comb.valid) {
        starts.push_back(h);
        return starts;
    }
    Profile cumulative(static_cast<size_t>(h) + 1, 0.0);
    const double floor = *std::min_element(rows.begin(), rows.end());
    for (int i = 0; i < h; ++i)
        cumulative[static_cast<size_t>(i) + 1] =
            cumulative[static_cast<size_t>(i)] + (rows[static_cast<size_t>(i)] - floor);
    const double total = cumulative[static_cast<size_t>(h)];
    for (int y = n / 8; y < n - n / 8; ++y) {
        const int start = comb.above(y), row = y * bin;
        if (comb.isComb(y) && cumulative[static_cast<size_t>(start)] >= 0.2 * total &&
            total - cumulative[static_cast<size_t>(row)] >= 0.2 * total && 8 * (start - starts.back()) >= h &&
            8 * (h - start) >= h) {
            starts.push_back(start);
            wellsEnd.push_back(std::min(h, comb.below(y)));
        }
    }
    starts.push_back(h);
    return starts;
}

// The first tier's comb, where its slots cannot be seen darker than the gel between them: the
// strongest comb row in the top 40% of rows y0..y1; the row below its lower rims, where the
// tier's bands start, or y0 when there is none.
int firstCombEnd(const CombRows& comb, int y0, int y1, std::pair<int, int>& slots) {
    if (!comb.valid) return y0;
    int best = -1;
    for (int y = y0 / comb.bin; y < (y0 + 2 * (y1 - y0) / 5) / comb.bin && y < comb.n; ++y)
        if ((best < 0 || comb.share[static_cast<size_t>(y)] > comb.share[static_cast<size_t>(best)]) &&
            comb.isComb(y))
            best = y;
    if (best < 0) return y0;
    // The slots' rows: the stripe's.
    const auto [first, last] = comb.stripe(best);
    slots = {std::max(y0, first * comb.bin), std::min(y1, (last + 1) * comb.bin - 1)};
    return std::min(y1, comb.below(best));
}

// The row below a tier's row of wells (rows y0..y1 of the well contrast of the work raster's
// rows, as wellContrast gives it for the tier's lanes), or y0 when it shows
// none: of the runs of rows in the tier's top 40% where its lanes run clearly darker than the
// gel beside them (the well contrast above five times its noise and a twentieth of the lanes'
// strongest brightness over the gel: the slots of a comb are shallower than the brightest band
// is high), the one that swings most from its darkest to the lower rims glowing in the lanes
// below it, and its height again for those rims. DNA runs down from the wells: nothing above
// them is a band.
int belowWells(const Profile& all, int y0, int y1, std::pair<int, int>* slots = nullptr) {
    const Profile contrast(all.begin() + y0, all.begin() + y1 + 1);
    const int n = static_cast<int>(contrast.size());
    const auto [w, least] = wellRows(contrast, 0.05);
    // Wells are dark slots above rims that glow in the lanes: a step at the gel's top edge, or
    // the thin shadow of a tray's lip above the wells, swings less.
    int best = -1, bestEnd = -1;
    double strongest = 0;
    for (int i = 0; 5 * i < 2 * n && least > 0; ++i) {
        if (!(w[static_cast<size_t>(i)] > least)) continue;
        int j = i;
        double top = 0;
        while (j + 1 < n && w[static_cast<size_t>(j) + 1] > least)
            ++j;
        for (int k = i; k <= j; ++k)
            top = std::max(top, w[static_cast<size_t>(k)]);
        // The rims: the brightest lanes within four of the run's heights below it.
        double rims = 0;
        for (int k = j + 1; k < std::min(n, j + 1 + 4 * (j - i + 1)); ++k)
            rims = std::min(rims, w[static_cast<size_t>(k)]);
        if (top - rims > strongest) {
            strongest = top - rims;
            best = i;
            bestEnd = j;
        }
        i = j;
    }
    if (best < 0) return y0;
    if (slots) *slots = {y0 + best, y0 + bestEnd};
    // The lower rims glow in the lanes, brighter than the gel beside them: when they show as a
    // clear lobe within four heights of the slots, the tier's bands start where it has half
    // faded, a slot's height past its peak at most (a rim is no thicker than a slot is high;
    // lanes that glow on down from it hold bands). The rims are the first such lobe: a bright
    // band further down glows more, and would take the bands above it with it.
    const int height = bestEnd - best + 1;
    int below = std::min(n - 1, bestEnd + height + 1);
    int lobe = bestEnd + 1;
    for (int i = bestEnd + 1; i < std::min(n, bestEnd + 1 + 4 * height); ++i) {
        if (w[static_cast<size_t>(i)] < w[static_cast<size_t>(lobe)]) lobe = i;
        if (w[static_cast<size_t>(lobe)] < -least &&
            w[static_cast<size_t>(i)] > 0.5 * w[static_cast<size_t>(lobe)])
            break;
    }
    if (lobe < n && w[static_cast<size_t>(lobe)] < -least) {
        int end = lobe;
        while (end + 1 < std::min(n, lobe + height + 1) &&
               w[static_cast<size_t>(end)] < 0.5 * w[static_cast<size_t>(lobe)])
            ++end;
        below = std::max(below, end);
    }
    return y0 + below;
}

// The first of rows y0..y1 that lies on the gel: the imager's dark frame above the gel's top
// edge holds no wells, and the share of a tier's rows its wells are sought in is the gel's. Each
// row reads as the gel's own level there, the mean of the dimmest quarter of its pixels on the gel
// (every fourth): bands, and lanes that glow across most of a row, lie above it.
int gelTop(const Work& wk, int y0, int y1) {
    // About a thousand rows of the scan, as the combs are read: an edge is a slot's height wide.
    const int step = std::max(1, wk.h / 1024);
    const std::pair<int, int> span = gelColumns(wk, y0, y1, step);
    const int left = span.first, right = span.second;
    if (right - left < 16) return y0;
    const int count = (y1 - y0) / step + 1;
    Profile rows(static_cast<size_t>(count), 0.0);
    kestro::detail::parallelRows(count, static_cast<size_t>(right - left) / 4, [&](long a, long b) {
        std::vector<int> sample;
        for (long i = a; i < b; ++i) {
            const int* v = wk.row(y0 + static_cast<int>(i) * step);
            sample.clear();
            for (int x = left; x < right; x += 4)
                sample.push_back(v[x]);
            const auto quarter = sample.begin() + static_cast<std::ptrdiff_t>((sample.size() + 3) / 4);
            std::nth_element(sample.begin(), quarter, sample.end());
            long long sum = 0;
            for (auto it = sample.begin(); it != quarter; ++it)
                sum += *it;
            rows[static_cast<size_t>(i)] =
                static_cast<double>(sum) / static_cast<double>(quarter - sample.begin());
        }
    });
    return y0 + step * onGel(rows, wk.darkest, std::max(4, count / 64), 0.5).first;
}

// A tier of rows y0..y1 (work coordinates), on the gel from row `top` (gelTop), with its lanes,
// placed in image coordinates; the well contrast of those lanes, when the caller has it, spares
// computing it again. With `underWells`, lanes the column profile missed are added under the
// tier's wells (not when a lane count is given: that count is the count got); `combSlots` are
// the rows of its comb's slots where the comb search found them.
TierLanes tierWith(const Work& wk, int index, int y0, int y1, int top, std::vector<Lane> lanes,
                   const Profile* contrast, bool underWells, std::pair<int, int> combSlots = {0, -1}) {
    TierLanes t;
    t.tier.index = index;
    t.tier.top = y0 + wk.y0;
    t.tier.bottom = y1 + 1 + wk.y0;
    std::pair<int, int> slots{0, -1};
    t.tier.firstBandRow =
        (lanes.size() >= 2 ? belowWells(contrast ? *contrast : wellContrast(wk, lanes), top, y1, &slots)
                           : y0) +
        wk.y0;
    if (underWells) {
        // Merged lanes mislead the well contrast; slots no darker than the gel between the lanes
        // still show in the comb search. The slots lanes are put under are the tier's wells, and
        // the contrast under those lanes tells where its bands start.
        bool placed = lanesByWells(wk, y0, y1, slots.first, slots.second, lanes, &t.comb);
        if (!placed && lanesByWells(wk, y0, y1, combSlots.first, combSlots.second, lanes, &t.comb)) {
            slots = combSlots;
            placed = true;
        }
        if (placed)
            t.tier.firstBandRow = belowWells(wellContrast(wk, lanes), top, y1) + wk.y0;
        else // lanes put under every well that looks like one miss none
            addLanesUnderWells(wk, y0, y1, slots.first, slots.second, lanes);
    }
    if (slots.second >= slots.first) {
        t.tier.wellsTop = slots.first + wk.y0;
        t.tier.wellsBottom = slots.second + 1 + wk.y0;
    }
    t.lanes = std::move(lanes);
    return t;
}

std::vector<TierLanes> layoutLevel(const Work& wk, const Options& o, bool mayLevel,
                                   std::unique_ptr<Work> combRaster = nullptr);

// Tiers whose rows of wells fall by `slope`: found in the levelled raster, their lanes' boxes
// and paths then moved back down their own columns. Lanes that drift are found where they also
// run straight down. Drifting by half their spacing or more over the region, they smear into
// their neighbours' columns as they stand, and the tiers are read where the lanes run straight
// (their combs still sought where only the rows lie level); drifting less, the tiers and their
// wells are read where only the rows lie level, and only the lanes along their drift.
std::vector<TierLanes> layoutSloped(const Work& wk, const Options& o, double slope, double drift,
                                    bool smeared) {
    const double column = 0.5 * (wk.w - 1), row = 0.5 * (wk.h - 1);
    std::vector<TierLanes> tiers;
    if (smeared)
        tiers = layoutLevel(*levelled(wk, slope, column, drift, row), o, false, levelled(wk, slope, column));
    else
        tiers = slope != 0 ? layoutLevel(*levelled(wk, slope, column), o, false) : layoutLevel(wk, o, false);
    const bool lanesFound = smeared || drift == 0;
    std::vector<Tier> drifting;
    for (TierLanes& t : tiers) {
        t.tier.slope = slope;
        t.tier.column = column + wk.x0;
        t.tier.drift = drift;
        t.tier.driftRow = row + wk.y0;
        if (lanesFound)
            for (Lane& l : t.lanes)
                slopeLane(l, t.tier, wk, true);
        else
            t.lanes.clear();
        drifting.push_back(t.tier);
    }
    if (!lanesFound)
        for (Lane& l : lanesIn(wk, drifting, o))
            tiers[static_cast<size_t>(l.tier)].lanes.push_back(std::move(l));
    return tiers;
}

std::vector<TierLanes> layoutLevel(const Work& wk, const Options& o, bool mayLevel,
                                   std::unique_ptr<Work> combRaster) {
    // Without a long empty stretch, the lanes of the whole region show where a row of wells
    // parts it; they are the lanes of its one tier when none does. A row of wells that slopes
    // is sought first: the whole layout is then read on the levelled region.
    std::vector<Lane> whole;
    std::optional<CombRows> comb;
    if (o.tiers == 0) {
        // Lanes that drift are found where they run straight down. The comb that slants is
        // sought in the columns as scanned, with those lanes' spacing: where the columns are
        // empty lanes is read best as scanned, but lanes that drift far smear and merge there.
        const double drift = mayLevel ? laneDrift(wk) : 0;
        whole = tierLanes(drift != 0 ? *levelled(wk, 0, 0, drift, 0.5 * (wk.h - 1)) : wk, 0, wk.h - 1, o);
        if (combRaster) {
            comb.emplace(*combRaster, tierLanes(*combRaster, 0, wk.h - 1, o));
            combRaster.reset();
        } else {
            comb.emplace(wk, whole);
        }
        double widest = 0, level = 0;
        const double slope = mayLevel ? comb->slant(widest, level) : 0;
        const bool slants = slope != 0 && widest >= kSlotShare && widest >= kSlopeGain * level;
        if (slants || drift != 0)
            return layoutSloped(wk, o, slants ? slope : 0, drift,
                                drift != 0 && std::fabs(drift) * wk.h >= kSmearedDrift * comb->pitch);
    }
    // Row profile of the background-corrected pixels.
    Profile rows(static_cast<size_t>(wk.h), 0.0);
    kestro::detail::parallelRows(wk.h, static_cast<size_t>(wk.w), [&](long y0, long y1) {
        for (int y = static_cast<int>(y0); y < y1; ++y) {
            const int* v = wk.row(y);
            const int* b = wk.bgRow(y);
            long long sum = 0;
            for (int x = 0; x < wk.w; ++x)
                sum += std::max(0, v[x] - b[x]);
            rows[static_cast<size_t>(y)] = static_cast<double>(sum) / wk.w;
        }
    });
    std::vector<int> starts = tierStarts(rows, o.tiers);
    Profile wholeContrast;
    std::vector<int> wellsEnd; // tier by tier, below its comb's rims where its comb was found
    std::vector<std::pair<int, int>> combSlots; // tier by tier, its comb's slots where found
    std::vector<int> tops;                      // tier by tier, its first row on the gel
    if (o.tiers == 0) {
        const bool parted = starts.size() > 2;
        if (!parted) {
            wholeContrast = wellContrast(wk, whole);
            starts = wellStarts(wholeContrast);
        }
        std::vector<int> second;
        if (starts.size() == 2) starts = combStarts(wk, *comb, rows, second);
        // A tier that starts inside the slots of a comb (the darkest rows of the wells may be
        // only their lower part) starts above them: the comb row nearest its start whose stripe
        // holds it, half a slot's height above the stripe, taking in the upper rims where the
        // tier above leaves room.
        for (size_t k = 1; comb->valid && k + 1 < starts.size(); ++k) {
            const int at = starts[k] / comb->bin;
            int best = -1;
            for (int y = std::max(0, at - 2 * comb->d); y <= std::min(comb->n - 1, at + 2 * comb->d); ++y) {
                const auto [first, last] = comb->stripe(y);
                if (first < at && at <= last && (best < 0 || std::abs(y - at) < std::abs(best - at)) &&
                    comb->isComb(y))
                    best = y;
            }
            if (best >= 0)
                starts[k] =
                    std::max({starts[k - 1] + 1, 0, (comb->stripe(best).first - comb->d / 2) * comb->bin});
        }
        // Each tier's bands start below its comb's rims, where they can be seen.
        for (size_t t = 0; t + 1 < starts.size(); ++t) {
            combSlots.emplace_back(0, -1);
            tops.push_back(gelTop(wk, starts[t], starts[t + 1] - 1));
            const int end = firstCombEnd(*comb, tops.back(), starts[t + 1] - 1, combSlots.back());
            wellsEnd.push_back(t > 0 && t - 1 < second.size() ? std::max(end, second[t - 1]) : end);
        }
        if (parted) whole.clear();
    }
    const int tierCount = static_cast<int>(starts.size()) - 1;
    std::vector<TierLanes> tiers;
    int first = 0;
    for (int t = 0; t < tierCount; ++t) {
        const int y0 = starts[static_cast<size_t>(t)], y1 = starts[static_cast<size_t>(t) + 1] - 1;
        const bool one = tierCount == 1 && !whole.empty();
        const std::pair<int, int> slots =
            static_cast<size_t>(t) < combSlots.size() ? combSlots[static_cast<size_t>(t)] : std::pair{0, -1};
        const int top =
            static_cast<size_t>(t) < tops.size() ? tops[static_cast<size_t>(t)] : gelTop(wk, y0, y1);
        tiers.push_back(
            one ? tierWith(wk, t, y0, y1, top, whole, &wholeContrast, o.laneCount == 0, slots)
                : tierWith(wk, t, y0, y1, top, tierLanes(wk, y0, y1, o), nullptr, o.laneCount == 0, slots));
        if (static_cast<size_t>(t) < wellsEnd.size())
            tiers.back().tier.firstBandRow = std::max(tiers.back().tier.firstBandRow,
                                                      std::min(y1, wellsEnd[static_cast<size_t>(t)]) + wk.y0);
    }
    keepUnderCombs(tiers);
    for (TierLanes& t : tiers) {
        placeInTier(t.lanes, wk, t.tier, first);
        first += static_cast<int>(t.lanes.size());
    }
    return tiers;
}

} // namespace

std::unique_ptr<Work> levelled(const Work& wk, double slope, double column, double drift, double row) {
    auto level = std::make_unique<Work>(wk.w, wk.h);
    Work& out = *level;
    out.imageWidth = wk.imageWidth;
    out.imageHeight = wk.imageHeight;
    out.region = wk.region;
    out.x0 = wk.x0;
    out.y0 = wk.y0;
    out.w = wk.w;
    out.h = wk.h;
    out.maxValue = wk.maxValue;
    out.polarity = wk.polarity;
    out.polarityDetected = wk.polarityDetected;
    out.darkest = wk.darkest;
    // Runs of columns that move alike, each copied as a whole.
    struct Run {
        int x, width, drop;
    };
    std::vector<Run> runs;
    for (int x = 0; x < wk.w; ++x) {
        const int drop = static_cast<int>(std::lround(slope * (x - column)));
        if (runs.empty() || runs.back().drop != drop)
            runs.push_back({x, 1, drop});
        else
            ++runs.back().width;
    }
    kestro::detail::parallelRows(wk.h, static_cast<size_t>(wk.w) * 2, [&](long y0, long y1) {
        for (long y = y0; y < y1; ++y) {
            const int dx = static_cast<int>(std::lround(drift * (static_cast<double>(y) - row)));
            for (const Run& r : runs) {
                const size_t to = static_cast<size_t>(y) * wk.w,
                             from =
                                 static_cast<size_t>(std::clamp(static_cast<int>(y) + r.drop, 0, wk.h - 1)) *
                                 wk.w;
                // Columns a..b of the run read columns a + dx..b + dx, those in the raster
                // from lo to hi.
                const int a = r.x, b = r.x + r.width;
                const int lo = std::clamp(-dx, a, b), hi = std::clamp(wk.w - dx, lo, b);
                const std::pair<const int*, int*> planes[] = {{wk.values.pixels, out.values.pixels},
                                                              {wk.background.pixels, out.background.pixels}};
                for (const auto& [source, target] : planes) {
                    const int* in = source + from;
                    int* o = target + to;
                    std::fill(o + a, o + lo, in[0]);
                    std::copy_n(in + lo + dx, hi - lo, o + lo);
                    std::fill(o + hi, o + b, in[wk.w - 1]);
                }
            }
        }
    });
    return level;
}

double laneDrift(const Work& wk) {
    // The pixels in blocks of bin x bin, about a thousand rows in all, summed over bands of eight
    // rows of blocks: within a band a drift moves a lane by a fraction of a block. Not their
    // signal above the background: a moving minimum's flat steps stand upright in any scan.
    const int bin = std::max(1, wk.h / 1024), n = wk.h / bin, w = wk.w / bin;
    constexpr int band = 8;
    const int bands = n / band, rows = bands * band;
    if (bands < 4 || w < 64) return 0;
    std::vector<double> sums(static_cast<size_t>(bands) * w, 0.0);
    kestro::detail::parallelRows(bands, static_cast<size_t>(w) * bin * bin * band, [&](long b0, long b1) {
        for (long b = b0; b < b1; ++b) {
            double* s = sums.data() + static_cast<size_t>(b) * w;
            for (int y = static_cast<int>(b) * band * bin; y < (static_cast<int>(b) + 1) * band * bin; ++y) {
                const int* v = wk.row(y);
                for (int x = 0; x < w; ++x)
                    for (int k = 0; k < bin; ++k)
                        s[x] += v[x * bin + k];
            }
        }
    });
    // Drifts in steps that move the bottom band by a block against the top; the profile is read
    // over the middle 80% of the columns (a glowing cut edge or a tray's wall, steeper than any
    // lane, stands beyond them), which every band reaches at every drift, and scored by its
    // squared steps.
    const int steps = static_cast<int>(std::ceil(kMostSlope * rows));
    const int margin = std::max(steps / 2 + 1, w / 10);
    if (w - 2 * margin < 32) return 0;
    std::vector<double> score(static_cast<size_t>(2 * steps + 1), 0.0);
    kestro::detail::runBands(2 * steps + 1, [&](int i) {
        const double drift = static_cast<double>(i - steps) / rows;
        std::vector<double> profile(static_cast<size_t>(w), 0.0);
        for (int b = 0; b < bands; ++b) {
            const int shift = static_cast<int>(std::lround(drift * ((b + 0.5) * band - 0.5 * rows)));
            const double* s = sums.data() + static_cast<size_t>(b) * w;
            for (int x = margin; x < w - margin; ++x)
                profile[static_cast<size_t>(x)] += s[x + shift];
        }
        double sum = 0;
        for (int x = margin; x + 1 < w - margin; ++x) {
            const double step = profile[static_cast<size_t>(x) + 1] - profile[static_cast<size_t>(x)];
            sum += step * step;
        }
        score[static_cast<size_t>(i)] = sum;
    });
    const auto best = std::max_element(score.begin(), score.end());
    // Lanes that stand upright give a profile no drift sharpens by a tenth.
    if (!(*best >= kSlopeGain * score[static_cast<size_t>(steps)])) return 0;
    return static_cast<double>(best - score.begin() - steps) / rows;
}

std::vector<TierLanes> layout(const Work& wk, const Options& o) {
    return layoutLevel(wk, o, true);
}

} // namespace detail

using namespace detail;

std::vector<Tier> findTiers(const PreparedGel& gel, const Options& options) {
    std::vector<Tier> tiers;
    for (const TierLanes& t : layout(gel.work(), options))
        tiers.push_back(t.tier);
    return tiers;
}

std::vector<Tier> tiersAt(const PreparedGel& gel, const std::vector<int>& startRows, const Options& options) {
    const Work& wk = gel.work();
    std::vector<int> starts{0};
    for (size_t k = 0; k < startRows.size(); ++k) {
        const long long s = static_cast<long long>(startRows[k]) - wk.y0;
        if (s < starts.back() + 16 || s > wk.h - 16)
            throw ArgumentError(
                "the tiers must start at rising rows inside the region, 16 rows apart at least");
        starts.push_back(static_cast<int>(s));
    }
    starts.push_back(wk.h);
    std::vector<Tier> tiers;
    for (size_t t = 0; t + 1 < starts.size(); ++t) {
        const int y0 = starts[t], y1 = starts[t + 1] - 1;
        tiers.push_back(tierWith(wk, static_cast<int>(t), y0, y1, gelTop(wk, y0, y1),
                                 tierLanes(wk, y0, y1, options), nullptr, false)
                            .tier);
    }
    return tiers;
}

} // namespace kestro::gel
