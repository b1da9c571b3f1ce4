// The moving minimum and moving average against literal implementations of their loops.
#include "analysis/ImageProcessing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

namespace {

using Raster = std::unique_ptr<RasterImageGS16>;

enum class Values { Depth16, FullInt, FewLevels };

Raster randomRaster(int w, int h, Values kind, std::uint32_t seed) {
    Raster r(new RasterImageGS16(w, h));
    std::mt19937 gen(seed);
    std::uniform_int_distribution<int> depth16(0, 65535), full(INT_MIN, INT_MAX), few(-3, 3);
    for (int i = 0; i < w * h; ++i)
        r->pixels[i] = kind == Values::Depth16 ? depth16(gen) : kind == Values::FullInt ? full(gen) : few(gen);
    return r;
}

std::vector<int> pixelsOf(const RasterImageGS16& r) {
    return std::vector<int>(r.pixels, r.pixels + static_cast<size_t>(r.width) * r.height);
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

// The smoothing loops as written: a working copy, double sums of the 2r x 2r window (rows top
// to bottom, each left to right), the quotient truncated, the interior copied back.
void literalSmooth(RasterImageGS16& r, int radius) {
    const long w = r.width, h = r.height;
    std::vector<int> copy = pixelsOf(r);
    for (long x = radius; x <= w - radius - 1; ++x)
        for (long y = radius; y <= h - radius - 1; ++y) {
            double sum = 0;
            int n = 0;
            for (long yy = y - radius; yy < y + radius; ++yy)
                for (long xx = x - radius; xx < x + radius; ++xx) sum += r.pixels[yy * w + xx], ++n;
            copy[y * w + x] = static_cast<int>(sum / n);
        }
    for (long x = radius; x <= w - radius - 1; ++x)
        for (long y = radius; y <= h - radius - 1; ++y) r.pixels[y * w + x] = copy[y * w + x];
}

void expectBackgroundMatches(const RasterImageGS16& src, int halfWidth, int halfHeight, int bgWidth, int bgHeight) {
    ImageProcessing ip;
    RasterImageGS16 ours(bgWidth, bgHeight), expected(bgWidth, bgHeight);
    for (int i = 0; i < bgWidth * bgHeight; ++i) ours.pixels[i] = expected.pixels[i] = -7 - i;
    RasterImageGS16 source(src);
    ip.generateBGViaMinFilter(&source, &ours, halfWidth, halfHeight);
    literalBackground(src, expected, halfWidth, halfHeight);
    ASSERT_EQ(pixelsOf(ours), pixelsOf(expected))
        << src.width << "x" << src.height << " half " << halfWidth << "x" << halfHeight;
    ASSERT_EQ(pixelsOf(source), pixelsOf(src)) << "the source must stay as it was";
}

void expectSmoothingMatches(const RasterImageGS16& src, int radius) {
    ImageProcessing ip;
    RasterImageGS16 ours(src), expected(src);
    ip.smoothenViaAverageFilter(&ours, radius);
    literalSmooth(expected, radius);
    ASSERT_EQ(pixelsOf(ours), pixelsOf(expected)) << src.width << "x" << src.height << " radius " << radius;
}

const int kShapes[][2] = {{1, 1}, {1, 9}, {9, 1}, {2, 2}, {7, 5}, {5, 7}, {16, 3}, {23, 17}};

} // namespace

TEST(MovingMinimum, MatchesLiteralLoopsForEveryHalfSizeOnSmallRasters) {
    std::uint32_t seed = 1;
    for (const auto& shape : kShapes)
        for (Values kind : {Values::Depth16, Values::FullInt, Values::FewLevels}) {
            Raster src = randomRaster(shape[0], shape[1], kind, seed++);
            for (int hw = 0; hw <= shape[0] + 2; ++hw)
                for (int hh = 0; hh <= shape[1] + 2; ++hh) expectBackgroundMatches(*src, hw, hh, shape[0], shape[1]);
        }
}

TEST(MovingMinimum, MatchesLiteralLoopsOnLargerRastersAndNonSquareWindows) {
    const int sizes[][2] = {{257, 129}, {64, 300}, {1000, 3}, {3, 700}};
    const int halves[][2] = {{1, 1}, {1, 7}, {9, 2}, {3, 3}, {25, 4}, {4, 25}, {2, 1000}, {1000, 2}, {INT_MAX, 1}, {1, INT_MAX}};
    std::uint32_t seed = 100;
    for (const auto& size : sizes) {
        Raster src = randomRaster(size[0], size[1], seed % 2 ? Values::Depth16 : Values::FullInt, seed);
        ++seed;
        for (const auto& half : halves) expectBackgroundMatches(*src, half[0], half[1], size[0], size[1]);
    }
}

TEST(MovingMinimum, WritesIntoALargerBackgroundWithItsOwnWidthAndLeavesTheRest) {
    Raster src = randomRaster(37, 21, Values::Depth16, 7);
    for (int half : {0, 1, 4, 30}) expectBackgroundMatches(*src, half, half + 1, 50, 29);
}

TEST(MovingMinimum, EmptyWindowsGiveTheBackgroundsOwnMaximumAndNegativeHalfSizesAreEmpty) {
    ImageProcessing ip;
    Raster src = randomRaster(6, 4, Values::FullInt, 3);
    RasterImageGS16 bg(6, 4);
    bg.maxPixelValue = 1234;
    for (int half : {0, -1, INT_MIN}) {
        ip.generateBGViaMinFilter(src.get(), &bg, half, 3);
        EXPECT_EQ(pixelsOf(bg), std::vector<int>(24, 1234));
        ip.generateBGViaMinFilter(src.get(), &bg, 3, half);
        EXPECT_EQ(pixelsOf(bg), std::vector<int>(24, 1234));
    }
    // Source values above the start value never enter.
    RasterImageGS16 bright(5, 5);
    std::fill(bright.pixels, bright.pixels + 25, 5000);
    ip.generateBGViaMinFilter(&bright, &bg, 2, 2);
    EXPECT_EQ(bg.getPixel(2, 2), 1234);
}

TEST(MovingMinimum, DarkPixelReachesTheWindowsThatContainIt) {
    ImageProcessing ip;
    RasterImageGS16 src(20, 16), bg(20, 16);
    std::fill(src.pixels, src.pixels + 320, 900);
    src.setPixel(8, 6, 3);
    ip.generateBGViaMinFilter(&src, &bg, 3, 2);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 20; ++x) {
            const bool reached = x >= 8 - 3 + 1 && x <= 8 + 3 && y >= 6 - 2 + 1 && y <= 6 + 2;
            EXPECT_EQ(bg.getPixel(x, y), reached ? 3 : 900) << x << "," << y;
        }
}

TEST(MovingMinimum, BackgroundMayBeTheSourceItself) {
    ImageProcessing ip;
    Raster src = randomRaster(40, 30, Values::Depth16, 11);
    RasterImageGS16 expected(40, 30);
    literalBackground(*src, expected, 5, 3);
    ip.generateBGViaMinFilter(src.get(), src.get(), 5, 3);
    EXPECT_EQ(pixelsOf(*src), pixelsOf(expected));
}

TEST(MovingMinimum, SmallerBackgroundOrNullRastersAreLeftAlone) {
    ImageProcessing ip;
    Raster src = randomRaster(10, 10, Values::Depth16, 5);
    RasterImageGS16 narrow(9, 10), low(10, 9);
    ip.generateBGViaMinFilter(src.get(), &narrow, 2, 2);
    ip.generateBGViaMinFilter(src.get(), &low, 2, 2);
    EXPECT_EQ(pixelsOf(narrow), std::vector<int>(90, 0));
    EXPECT_EQ(pixelsOf(low), std::vector<int>(90, 0));
    ip.generateBGViaMinFilter(nullptr, &low, 2, 2);
    ip.generateBGViaMinFilter(src.get(), nullptr, 2, 2);
    RasterImageGS16 empty;
    ip.generateBGViaMinFilter(&empty, &low, 2, 2);
    EXPECT_EQ(pixelsOf(low), std::vector<int>(90, 0));
}

TEST(MinValue, LowersButNeverRaisesAndSkipsWhatLiesOutside) {
    ImageProcessing ip;
    RasterImageGS16 r(4, 3);
    for (int i = 0; i < 12; ++i) r.pixels[i] = 100 + i;
    r.setPixel(3, 2, 7); // outside the half-open rectangle below
    int m = 1000;
    ip.getMinValue(&r, 1, 1, 3, 2, m);
    EXPECT_EQ(m, 105);
    m = 50;
    ip.getMinValue(&r, 0, 0, 4, 3, m);
    EXPECT_EQ(m, 7);
    m = 50;
    ip.getMinValue(&r, 0, 0, 3, 2, m);
    EXPECT_EQ(m, 50);
    m = 1000;
    ip.getMinValue(&r, 2, 2, 2, 3, m);
    EXPECT_EQ(m, 1000);
    ip.getMinValue(&r, -5, -5, 50, 50, m);
    EXPECT_EQ(m, 7);
}

TEST(MovingAverage, MatchesLiteralLoopsForEveryRadiusOnSmallRasters) {
    std::uint32_t seed = 200;
    const int more[][2] = {{40, 40}, {33, 9}, {9, 33}};
    std::vector<std::pair<int, int>> shapes;
    for (const auto& s : kShapes) shapes.emplace_back(s[0], s[1]);
    for (const auto& s : more) shapes.emplace_back(s[0], s[1]);
    for (const auto& shape : shapes)
        for (Values kind : {Values::Depth16, Values::FullInt, Values::FewLevels}) {
            Raster src = randomRaster(shape.first, shape.second, kind, seed++);
            for (int radius = 1; radius <= std::max(shape.first, shape.second) / 2 + 2; ++radius)
                expectSmoothingMatches(*src, radius);
        }
}

TEST(MovingAverage, MatchesLiteralLoopsOnLargerRasters) {
    const int sizes[][2] = {{257, 129}, {64, 300}, {1000, 12}};
    std::uint32_t seed = 300;
    for (const auto& size : sizes)
        for (Values kind : {Values::Depth16, Values::FullInt}) {
            Raster src = randomRaster(size[0], size[1], kind, seed++);
            for (int radius : {1, 2, 3, 5, 8, 9, 31, 64, 65})
                if (2 * radius < size[0] && 2 * radius < size[1]) expectSmoothingMatches(*src, radius);
        }
}

TEST(MovingAverage, HandCheckedBlockMeanTruncatesTowardZero) {
    ImageProcessing ip;
    RasterImageGS16 r(4, 4);
    const int values[16] = {-1, 0, 0, 9, //
                            0, 0, -7, 9, //
                            9, 9, 9, 9,  //
                            9, 9, 9, 9};
    std::copy(values, values + 16, r.pixels);
    ip.smoothenViaAverageFilter(&r, 1);
    // (1,1): mean of -1, 0, 0, 0 is -0.25, which truncates to 0, not -1.
    EXPECT_EQ(r.getPixel(1, 1), 0);
    // (2,1): 0, 0, 0, -7 -> -1.75 -> -1.  (1,2): 0, 0, 9, 9 -> 4.5 -> 4.  (2,2): 0, -7, 9, 9 -> 2.75 -> 2.
    EXPECT_EQ(r.getPixel(2, 1), -1);
    EXPECT_EQ(r.getPixel(1, 2), 4);
    EXPECT_EQ(r.getPixel(2, 2), 2);
    // The border stays.
    for (int i : {0, 1, 2, 3, 4, 7, 8, 11, 12, 13, 14, 15}) EXPECT_EQ(r.pixels[i], values[i]) << i;
}

TEST(MovingAverage, ConstantRasterStaysConstant) {
    ImageProcessing ip;
    for (int v : {0, 65535, -40000, INT_MAX, INT_MIN}) {
        RasterImageGS16 r(30, 20);
        std::fill(r.pixels, r.pixels + 600, v);
        for (int radius : {1, 4, 9}) ip.smoothenViaAverageFilter(&r, radius);
        EXPECT_EQ(pixelsOf(r), std::vector<int>(600, v)) << v;
    }
}

TEST(MovingAverage, RadiusBelowOneOrTooLargeChangesNothing) {
    ImageProcessing ip;
    Raster src = randomRaster(12, 8, Values::FullInt, 9);
    const std::vector<int> before = pixelsOf(*src);
    for (int radius : {0, -1, INT_MIN, 4, 5, 6, INT_MAX}) {
        ip.smoothenViaAverageFilter(src.get(), radius);
        EXPECT_EQ(pixelsOf(*src), before) << radius;
    }
    ip.smoothenViaAverageFilter(nullptr, 2);
    RasterImageGS16 empty;
    ip.smoothenViaAverageFilter(&empty, 1);
    EXPECT_EQ(empty.pixels, nullptr);
}

TEST(MovingAverage, SumsBeyondTwoToThe53AreAddedAsTheLiteralLoopsAddThem) {
    // One interior pixel whose window of 2200 x 2200 values near INT_MAX runs past 2^53: the
    // double sum rounds, and the rounded sum, not the exact one, decides the result.
    const int radius = 1100, side = 2 * radius + 1;
    Raster src(new RasterImageGS16(side, side));
    const double count = 4.0 * radius * radius;
    const size_t n = static_cast<size_t>(side) * side;
    bool found = false;
    for (std::uint32_t seed = 1; seed < 64 && !found; ++seed) {
        std::uint32_t state = seed;
        for (size_t i = 0; i < n; ++i) {
            state ^= state << 13, state ^= state >> 17, state ^= state << 5;
            src->pixels[i] = INT_MAX - static_cast<int>(state % 1000);
        }
        // Make the exact sum a multiple of the count, so that rounding either way is visible.
        std::int64_t exact = 0;
        double rounded = 0;
        for (long y = 0; y < 2 * radius; ++y)
            for (long x = 0; x < 2 * radius; ++x) exact += src->pixels[y * side + x];
        const std::int64_t excess = exact % static_cast<std::int64_t>(count);
        src->pixels[0] -= static_cast<int>(excess);
        exact -= excess;
        for (long y = 0; y < 2 * radius; ++y)
            for (long x = 0; x < 2 * radius; ++x) rounded += src->pixels[y * side + x];
        found = static_cast<int>(rounded / count) != static_cast<int>(exact / static_cast<std::int64_t>(count));
    }
    ASSERT_TRUE(found) << "no window found where the rounded sum differs from the exact one";
    RasterImageGS16 expected(*src);
    literalSmooth(expected, radius);
    ImageProcessing ip;
    ip.smoothenViaAverageFilter(src.get(), radius);
    EXPECT_EQ(pixelsOf(*src), pixelsOf(expected));
}
