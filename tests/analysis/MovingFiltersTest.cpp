// The moving minimum and moving average, and the comb search's moving maximum, against literal
// implementations of their loops; the first two at every thread count.
#include "analysis/ImageProcessing.h"
#include "analysis/gel/Internal.h"
#include "raster/RasterTestSupport.h"
#include "support/ThreadCounts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

using rastertest::pixelsOf;

namespace {

using Raster = std::unique_ptr<RasterImageGS16>;
using Ints = std::vector<int>;

enum class Values { Depth16, FullInt, FewLevels, Top16 };
const int kRanges[][2] = {{0, 65535}, {INT_MIN, INT_MAX}, {-3, 3}, {65280, 65535}}; // by Values

Raster randomRaster(int w, int h, Values kind, std::uint32_t seed) {
    Raster r(new RasterImageGS16(w, h));
    std::mt19937 gen(seed);
    const int* range = kRanges[static_cast<int>(kind)];
    std::uniform_int_distribution<int> value(range[0], range[1]);
    for (int i = 0; i < w * h; ++i)
        r->pixels[i] = value(gen);
    return r;
}

// The background loops as written: columns outer, rows inner, window clamped at width - 1 and
// height - 1 (which stay excluded), start value the background's maxPixelValue.
void literalBackground(const RasterImageGS16& src, RasterImageGS16& bg, int halfWidth, int halfHeight) {
    const long w = src.width, h = src.height;
    for (long x = 0; x < w; ++x)
        for (long y = 0; y < h; ++y) {
            int m = bg.maxPixelValue;
            const long x0 = std::max(0L, x - halfWidth), x1 = std::min(x + halfWidth, w - 1);
            const long y0 = std::max(0L, y - halfHeight), y1 = std::min(y + halfHeight, h - 1);
            for (long xx = x0; xx < x1; ++xx)
                for (long yy = y0; yy < y1; ++yy)
                    if (src.pixels[yy * w + xx] < m) m = src.pixels[yy * w + xx];
            bg.pixels[y * bg.width + x] = m;
        }
}

// The smoothing loops as written: double sums of the 2r x 2r window (rows top to bottom, each left
// to right), the quotient truncated into a working copy of the raster, which then replaces it.
void literalSmooth(RasterImageGS16& r, int radius) {
    const long w = r.width, h = r.height;
    Ints copy = pixelsOf(r);
    for (long x = radius; x <= w - radius - 1; ++x)
        for (long y = radius; y <= h - radius - 1; ++y) {
            double sum = 0;
            int n = 0;
            for (long yy = y - radius; yy < y + radius; ++yy)
                for (long xx = x - radius; xx < x + radius; ++xx)
                    sum += r.pixels[yy * w + xx], ++n;
            copy[y * w + x] = static_cast<int>(sum / n);
        }
    std::copy(copy.begin(), copy.end(), r.pixels);
}

// The background may be larger than the source: written with its own width, the rest kept. Its
// start value is not the depth's maximum, so that an empty window shows where it comes from.
void expectBackgroundMatches(const RasterImageGS16& src, int halfWidth, int halfHeight, int bgWidth,
                             int bgHeight) {
    RasterImageGS16 ours(bgWidth, bgHeight), expected(bgWidth, bgHeight), source(src);
    ours.maxPixelValue = expected.maxPixelValue = 40000;
    for (int i = 0; i < bgWidth * bgHeight; ++i)
        ours.pixels[i] = expected.pixels[i] = -7 - i;
    ImageProcessing().generateBGViaMinFilter(&source, &ours, halfWidth, halfHeight);
    literalBackground(src, expected, halfWidth, halfHeight);
    ASSERT_EQ(pixelsOf(ours), pixelsOf(expected)) << src.width << "x" << src.height << " half " << halfWidth
                                                  << "x" << halfHeight << " into " << bgWidth;
    ASSERT_EQ(pixelsOf(source), pixelsOf(src)) << "the source must stay as it was";
}

void expectSmoothingMatches(const RasterImageGS16& src, int radius) {
    RasterImageGS16 ours(src), expected(src);
    ImageProcessing().smoothenViaAverageFilter(&ours, radius);
    literalSmooth(expected, radius);
    ASSERT_EQ(pixelsOf(ours), pixelsOf(expected)) << src.width << "x" << src.height << " radius " << radius;
}

const std::vector<std::pair<int, int>> kSmallShapes = {{1, 1}, {1, 9}, {9, 1},  {2, 2},
                                                       {7, 5}, {5, 7}, {16, 3}, {23, 17}};

} // namespace

TEST(MovingMinimum, MatchesLiteralLoopsForEveryWindowOnEveryShape) {
    testsupport::atEveryThreadCount([] {
        std::uint32_t seed = 1;
        // Small rasters: every half size from empty windows up to beyond the raster.
        for (auto [w, h] : kSmallShapes)
            for (Values kind : {Values::Depth16, Values::FullInt, Values::FewLevels}) {
                Raster src = randomRaster(w, h, kind, seed++);
                for (int hw = -1; hw <= w + 2; ++hw)
                    for (int hh = -1; hh <= h + 2; ++hh)
                        expectBackgroundMatches(*src, hw, hh, w, h);
            }
        // Larger rasters with square, tall, wide, overflowing and empty windows; a larger background.
        const int halves[][2] = {{1, 1},       {1, 7},       {9, 2},       {3, 3},
                                 {25, 4},      {4, 25},      {2, 1000},    {1000, 2},
                                 {INT_MAX, 1}, {1, INT_MAX}, {INT_MIN, 3}, {3, INT_MIN}};
        for (auto [w, h] : {std::pair{257, 129}, {64, 300}, {1000, 3}, {3, 700}}) {
            Raster src = randomRaster(w, h, seed % 2 ? Values::Depth16 : Values::FullInt, seed);
            ++seed;
            for (const auto& half : halves)
                expectBackgroundMatches(*src, half[0], half[1], w, h);
        }
        Raster src = randomRaster(37, 21, Values::Depth16, 7);
        for (int half : {0, 1, 4, 30})
            expectBackgroundMatches(*src, half, half + 1, 50, 29);
    });
}

// The comb search's largest of the values just before (or after) each: against the literal loop,
// for every reach from none to beyond the column, on values with many ties.
TEST(MovingMaximum, ComparesWithTheLiteralLoopBothWays) {
    std::mt19937 gen(5);
    std::uniform_int_distribution<int> level(0, 6);
    std::vector<float> out, scratch;
    for (int n : {0, 1, 2, 5, 17, 64, 301}) {
        std::vector<float> c(static_cast<size_t>(n));
        for (float& v : c)
            v = static_cast<float>(level(gen)) * 0.5f;
        for (int reach = 0; reach <= n + 2; reach += reach < 9 ? 1 : 23)
            for (bool backwards : {false, true}) {
                kestro::gel::detail::maxWithin(c.data(), n, reach, backwards, out, scratch);
                ASSERT_EQ(out.size(), c.size());
                for (int y = 0; y < n; ++y) {
                    // The values within reach on the one side; the value itself where there are none.
                    const int from = backwards ? y + 1 : std::max(0, y - reach);
                    const int to = backwards ? std::min(n - 1, y + reach) : y - 1;
                    float most = c[static_cast<size_t>(from <= to ? from : y)];
                    for (int j = from; j <= to; ++j)
                        most = std::max(most, c[static_cast<size_t>(j)]);
                    ASSERT_EQ(out[static_cast<size_t>(y)], most)
                        << n << " " << reach << " " << backwards << " " << y;
                }
            }
    }
}

TEST(MovingMinimum, ADarkPixelReachesExactlyTheWindowsHoldingIt) {
    RasterImageGS16 bright(20, 16), bg(20, 16);
    std::fill(bright.pixels, bright.pixels + 320, 900);
    bright.setPixel(8, 6, 3);
    bg.maxPixelValue = 800;
    ImageProcessing().generateBGViaMinFilter(&bright, &bg, 3, 2);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 20; ++x) {
            const bool reached = x >= 8 - 3 + 1 && x <= 8 + 3 && y >= 6 - 2 + 1 && y <= 6 + 2;
            EXPECT_EQ(bg.getPixel(x, y), reached ? 3 : 800) << x << "," << y;
        }
}

TEST(MovingFilters, NullEmptyOrTooSmallRastersAreLeftAlone) {
    ImageProcessing ip;
    Raster src = randomRaster(40, 30, Values::Depth16, 11);
    RasterImageGS16 before(*src), narrow(39, 30), low(40, 29), empty;
    for (RasterImageGS16* bg : {&narrow, &low})
        ip.generateBGViaMinFilter(src.get(), bg, 2, 2);
    ip.generateBGViaMinFilter(nullptr, &low, 2, 2);
    ip.generateBGViaMinFilter(&empty, &low, 2, 2);
    ip.generateBGViaMinFilter(src.get(), nullptr, 2, 2);
    EXPECT_EQ(pixelsOf(narrow), Ints(39 * 30, 0));
    EXPECT_EQ(pixelsOf(low), Ints(40 * 29, 0));
    // Smoothing with a radius below one changes nothing.
    for (int radius : {0, -1, INT_MIN})
        ip.smoothenViaAverageFilter(src.get(), radius);
    ip.smoothenViaAverageFilter(nullptr, 2);
    ip.smoothenViaAverageFilter(&empty, 1);
    EXPECT_EQ(pixelsOf(*src), pixelsOf(before));
    EXPECT_EQ(empty.pixels, nullptr);
}

TEST(MovingFilters, TheBackgroundMayBeTheSource) {
    Raster src = randomRaster(40, 30, Values::Depth16, 11);
    RasterImageGS16 expected(40, 30);
    literalBackground(*src, expected, 5, 3);
    ImageProcessing().generateBGViaMinFilter(src.get(), src.get(), 5, 3);
    EXPECT_EQ(pixelsOf(*src), pixelsOf(expected));
}

TEST(MinValue, LowersButNeverRaisesWithinTheHalfOpenRectangle) {
    RasterImageGS16 r(4, 3);
    for (int i = 0; i < 12; ++i)
        r.pixels[i] = 100 + i;
    r.setPixel(3, 2, 7); // outside the half-open rectangles that stop at column 3 or row 2
    const int cases[][6] = {{1, 1, 3, 2, 1000, 105},
                            {0, 0, 4, 3, 50, 7},
                            {0, 0, 3, 2, 50, 50},
                            {2, 2, 2, 3, 1000, 1000},
                            {-5, -5, 50, 50, 1000, 7}}; // x1 y1 x2 y2 start result
    for (const auto& c : cases) {
        int m = c[4];
        ImageProcessing().getMinValue(&r, c[0], c[1], c[2], c[3], m);
        EXPECT_EQ(m, c[5]) << c[0] << "," << c[1] << " " << c[2] << "," << c[3];
    }
}

TEST(MovingAverage, MatchesLiteralLoopsForEveryRadiusOnEveryShape) {
    testsupport::atEveryThreadCount([] {
        std::uint32_t seed = 200;
        // Small rasters: every radius up to beyond half the raster.
        std::vector<std::pair<int, int>> shapes = kSmallShapes;
        shapes.insert(shapes.end(), {{40, 40}, {33, 9}, {9, 33}});
        for (auto [w, h] : shapes)
            for (Values kind : {Values::Depth16, Values::FullInt, Values::FewLevels}) {
                Raster src = randomRaster(w, h, kind, seed++);
                for (int radius = 1; radius <= std::max(w, h) / 2 + 2; ++radius)
                    expectSmoothingMatches(*src, radius);
            }
        for (auto [w, h] : {std::pair{257, 129}, {64, 300}, {1000, 12}})
            for (Values kind : {Values::Depth16, Values::FullInt}) {
                Raster src = randomRaster(w, h, kind, seed++);
                for (int radius : {1, 2, 3, 5, 8, 9, 31, 64, 65, INT_MAX})
                    expectSmoothingMatches(*src, radius);
            }
        // One row of other values anywhere: the sums change their kind from that row on. Around
        // small values the others are zero, so that the windows holding them sum below zero.
        for (Values kind : {Values::FullInt, Values::FewLevels})
            for (int row : {0, 5, 37, 150, 299}) {
                Raster src = kind == Values::FullInt ? randomRaster(64, 300, Values::Depth16, seed++)
                                                     : Raster(new RasterImageGS16(64, 300));
                const Raster other = randomRaster(64, 1, kind, seed++);
                std::copy_n(other->pixels, 64, src->pixels + row * 64);
                for (int radius : {2, 20})
                    expectSmoothingMatches(*src, radius);
            }
        // Window sums just below 2^32, by a power of two and by another count.
        Raster top = randomRaster(270, 262, Values::Top16, seed++);
        for (int radius : {127, 128})
            expectSmoothingMatches(*top, radius);
    });
}

TEST(MovingAverage, HandCheckedMeansTruncateTowardZero) {
    RasterImageGS16 r(4, 4);
    const int values[16] = {-1, 0, 0, 9, 0, 0, -7, 9, 9, 9, 9, 9, 9, 9, 9, 9};
    std::copy(values, values + 16, r.pixels);
    ImageProcessing().smoothenViaAverageFilter(&r, 1);
    // (1,1): -1, 0, 0, 0 -> -0.25 -> 0, not -1.  (2,1): 0, 0, 0, -7 -> -1.75 -> -1.
    // (1,2): 0, 0, 9, 9 -> 4.5 -> 4.  (2,2): 0, -7, 9, 9 -> 2.75 -> 2.  The border stays.
    EXPECT_EQ(pixelsOf(r), (Ints{-1, 0, 0, 9, 0, 0, -1, 9, 9, 4, 2, 9, 9, 9, 9, 9}));
}

TEST(MovingAverage, SumsBeyondTwoToThe53AreAddedAsTheLiteralLoopsAddThem) {
    // One interior pixel whose window of 2200 x 2200 values near INT_MAX runs past 2^53: the
    // double sum rounds, and the rounded sum, not the exact one, decides the result.
    const int radius = 1100, side = 2 * radius + 1;
    Raster src(new RasterImageGS16(side, side));
    const std::int64_t count = 4LL * radius * radius;
    auto windowSum = [&](auto zero) {
        for (long y = 0; y < 2 * radius; ++y)
            for (long x = 0; x < 2 * radius; ++x)
                zero += src->pixels[y * side + x];
        return zero;
    };
    bool found = false;
    for (std::uint32_t seed = 1; seed < 64 && !found; ++seed) {
        std::uint32_t state = seed;
        for (int i = 0; i < side * side; ++i) {
            state ^= state << 13, state ^= state >> 17, state ^= state << 5;
            src->pixels[i] = INT_MAX - static_cast<int>(state % 1000);
        }
        // Make the exact sum a multiple of the count, so that rounding either way is visible.
        src->pixels[0] -= static_cast<int>(windowSum(std::int64_t(0)) % count);
        found =
            static_cast<int>(windowSum(0.0) / count) != static_cast<int>(windowSum(std::int64_t(0)) / count);
    }
    ASSERT_TRUE(found) << "no window found where the rounded sum differs from the exact one";
    expectSmoothingMatches(*src, radius);
}
