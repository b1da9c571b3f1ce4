#include "raster/RasterImageGS16.h"

#include "RasterTestSupport.h"
#include "support/ThreadCounts.h"

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include <climits>
#include <memory>
#include <random>
#include <tuple>
#include <vector>

using namespace rastertest;

namespace {

using Ints = std::vector<int>;

Ints values(const CIntDataArray& a) {
    return a.GetSize() ? Ints(a.GetData(), a.GetData() + a.GetSize()) : Ints();
}

Ints fields(const RasterImage& r) {
    return {r.width, r.height, r.bpp, r.maxPixelValue};
}

/// A raster of the given size with pixel (x, y) = f(x, y), statistics computed.
template <class F> std::unique_ptr<RasterImageGS16> rasterOf(int w, int h, F f) {
    auto r = std::make_unique<RasterImageGS16>(w, h);
    for (int i = 0; i < w * h; ++i)
        r->pixels[i] = f(i % w, i / w);
    r->calculateStatistics();
    return r;
}

/// Minimum, maximum and mean worked out here, the mean as the serial double sum.
void expectStatisticsOf(const RasterImageGS16& r, const std::string& what) {
    int lo = INT_MAX, hi = INT_MIN;
    double sum = 0;
    for (int v : pixelsOf(r))
        lo = std::min(lo, v), hi = std::max(hi, v), sum += v;
    EXPECT_EQ(r.minValue, lo) << what;
    EXPECT_EQ(r.maxValue, hi) << what;
    EXPECT_EQ(r.mean, sum / (double(r.width) * r.height)) << what;
}

/// The histogram loop as written: zero bins, then a checked increment per pixel.
void literalHistogram(const RasterImageGS16& r, CIntDataArray& h) {
    h.RemoveAll();
    for (int i = 0; i <= r.maxPixelValue; ++i)
        h.Add(0);
    for (int i = 0; i < r.width * r.height; ++i)
        h[r.pixels[i]] += 1;
}

} // namespace

TEST(RasterImageGS16, TheMaximumOfEachDepth) {
    const int maxima[][2] = {{1, 1},           {8, 255},      {16, 65535},  {24, 16777215},
                             {30, 1073741823}, {31, INT_MAX}, {32, INT_MAX}};
    for (const auto& m : maxima)
        EXPECT_EQ(RasterImage::maxPixelValueForDepth(m[0]), m[1]) << m[0];
}

TEST(RasterImageGS16, SizedRastersStartAtZero) {
    RasterImageGS16 sized(5, 3);
    EXPECT_EQ(fields(sized), (Ints{5, 3, 16, 65535}));
    EXPECT_EQ(pixelsOf(sized), Ints(15, 0));
}

TEST(RasterImageGS16, EmptyRastersHaveTheStatisticsOfNoPixels) {
    RasterImageGS16 negative(-4, 3), none;
    DalvoImage noBitmap;
    RasterImageGS16 fromNothing(&noBitmap);
    for (RasterImageGS16* r : {&negative, &none, &fromNothing}) {
        r->extraStatistic = 3;
        r->calculateStatistics();
        EXPECT_EQ(r->pixels, nullptr);
        EXPECT_EQ((Ints{r->width, r->minValue, r->maxValue, int(r->extraStatistic)}),
                  (Ints{0, INT_MAX, INT_MIN, 0}));
        EXPECT_TRUE(std::isnan(r->mean));
    }
}

TEST(RasterImageGS16, ReadsAnImageUprightByItsKind) {
    testsupport::atEveryThreadCount([] {
        const int w = 7, h = 5; // 14 bytes of 16-bit pixels in a 16-byte scan line, 7 bytes in 8
        auto quadrant = [&](int x, int y) { return quadrantValue(x, y, w, h); };
        auto small = [](int x, int y) { return 40 * y + 7 * x + 1; };
        std::unique_ptr<DalvoImage> wide(grayImage<WORD>(w, h, quadrant)),
            narrow(grayImage<BYTE>(w, h, small)), colour(new DalvoImage(FIT_BITMAP, w, h, 24)),
            floats(new DalvoImage(FIT_FLOAT, w, h, 32));
        RGBQUAD* palette = FreeImage_GetPalette(*narrow); // inverted: the index must be read, not the colour
        for (int i = 0; i < 256; ++i)
            palette[i] = RGBQUAD{BYTE(255 - i), BYTE(255 - i), BYTE(255 - i), 0};
        std::memset(FreeImage_GetBits(*colour), 0x77, FreeImage_GetPitch(*colour) * h);
        for (DalvoImage* image : {wide.get(), narrow.get(), colour.get(), floats.get()}) {
            RasterImageGS16 r(image);
            const int bpp = image->getBitsPerPixel();
            ASSERT_EQ(fields(r), (Ints{w, h, bpp, RasterImage::maxPixelValueForDepth(bpp)}));
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    const int want = bpp == 16 ? quadrant(x, y) : bpp == 8 ? small(x, y) : 0;
                    EXPECT_EQ(r.getPixel(CPoint(x, y)), want) << bpp << ": " << x << "," << y;
                }
            expectStatisticsOf(r, std::to_string(bpp));
        }
    });
}

TEST(RasterImageGS16, MatrixConstructorTakesRowsUnflippedThroughThePitch) {
    cv::Mat big(6, 9, CV_16UC1), bytes(2, 3, CV_8UC1, cv::Scalar(255)),
        floats(2, 3, CV_32FC1, cv::Scalar(9.0));
    for (int i = 0; i < 54; ++i)
        big.at<unsigned short>(i / 9, i % 9) = static_cast<unsigned short>(1000 * (i / 9) + i % 9);
    cv::Mat roi = big(cv::Rect(2, 1, 5, 4)); // not continuous: row step of the big matrix
    RasterImageGS16 r(&roi), b(&bytes), f(&floats);
    EXPECT_EQ(fields(RasterImage(&roi)), (Ints{5, 4, 0, 0}));
    EXPECT_EQ(fields(r), (Ints{5, 4, 16, 65535}));
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(r.pixels[i], 1000 * (i / 5 + 1) + i % 5 + 2) << i;
    EXPECT_EQ(fields(b), (Ints{3, 2, 8, 255}));
    EXPECT_EQ(pixelsOf(b), Ints(6, 255));
    EXPECT_EQ(fields(f), (Ints{3, 2, 1, 1}));
    EXPECT_EQ(pixelsOf(f), Ints(6, 0));
}

TEST(RasterImageGS16, CopiesAreDeepCarryingOrRecomputingStatistics) {
    auto src = rasterOf(4, 3, [](int x, int y) { return 10 * y + x; });
    src->extraStatistic = 2.5;
    src->setPixel(0, 0, 99); // statistics now stale: max still 23
    RasterImageGS16 copied(*src), recomputed(src.get()), assigned(2, 2), small(2, 2), large(6, 4);
    assigned = *src;
    RasterImageGS16& alias = assigned;
    assigned = alias; // to itself
    for (RasterImageGS16* r : {&copied, &assigned}) {
        EXPECT_EQ(pixelsOf(*r), pixelsOf(*src));
        EXPECT_EQ(r->maxValue, 23); // carried over, stale as in the source
        EXPECT_EQ(r->extraStatistic, 2.5);
    }
    EXPECT_EQ((Ints{recomputed.minValue, recomputed.maxValue, int(recomputed.extraStatistic)}),
              (Ints{1, 99, 0}));
    copied.setPixel(1, 1, -5);
    EXPECT_EQ(src->getPixel(1, 1), 11); // deep copy
    // copy() from a source of another size fills the overlap and keeps this raster's size.
    small.copy(*src);
    large.copy(*src);
    EXPECT_EQ(pixelsOf(small), (Ints{99, 1, 10, 11}));
    EXPECT_EQ(small.maxValue, 23);
    EXPECT_EQ(pixelsOf(large),
              (Ints{99, 1, 2, 3, 0, 0, 10, 11, 12, 13, 0, 0, 20, 21, 22, 23, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(RasterImageGS16, PolarPixelMatchesLiteralReferenceAtEveryAngle) {
    const int w = 41, h = 37;
    auto r = rasterOf(w, h, [](int x, int y) { return 1 + 100 * y + x; });
    for (CPoint c : {CPoint(20, 18), CPoint(3, 33), CPoint(0, 0)})
        for (float radius : {0.0f, 1.0f, 2.5f, 7.3f, 15.0f, 60.0f})
            for (int angle = 0; angle < 360; ++angle) {
                int x, y;
                const bool inside = polarReference(c.x, c.y, radius, float(angle), w, h, x, y);
                ASSERT_EQ(r->getPolarPixel(c, radius, float(angle)), inside ? 1 + 100 * y + x : 0)
                    << c.x << "," << c.y << " r=" << radius << " a=" << angle;
            }
    // By hand: 90 degrees points down; just outside each side, and an offset beyond any int, give 0.
    EXPECT_EQ(r->getPolarPixel(CPoint(20, 18), 5, 90), 1 + 100 * 23 + 20);
    EXPECT_EQ(r->getPolarPixel(CPoint(20, 18), 5, 180), 1 + 100 * 18 + 15);
    for (auto [x, y, angle] : {std::tuple{40, 36, 0}, {40, 36, 90}, {0, 0, 180}, {0, 0, 270}})
        EXPECT_EQ(r->getPolarPixel(CPoint(x, y), 1, float(angle)), 0) << angle;
    EXPECT_EQ(r->getPolarPixel(CPoint(20, 18), 1e30f, 45), 0);
}

TEST(RasterImageGS16, ReadoutsInTheirOrders) {
    auto r = rasterOf(6, 4, [](int x, int y) { return 10 * y + x; });
    CIntDataArray a;
    a.Add(-1);
    r->copyTo(&a);
    EXPECT_EQ(values(a), pixelsOf(*r));
    CPointArray pts;
    for (CPoint p : {CPoint(5, 3), CPoint(0, 0), CPoint(2, 1), CPoint(2, 1)})
        pts.Add(p);
    r->getPixelsFor(&pts, &a);
    EXPECT_EQ(values(a), (Ints{35, 0, 12, 12}));
    r->getPixelsFor(CRect(0, 0, 2, 2), &a);
    EXPECT_EQ(values(a), (Ints{0, 10, 1, 11}));
    r->getPixelsFor(CRect(3, 1, 5, 4), &a);
    EXPECT_EQ(values(a), (Ints{13, 23, 33, 14, 24, 34}));
    r->getPixelsFor(CRect(4, 1, 4, 3), &a);
    EXPECT_EQ(a.GetSize(), 0);
    a.Add(-7);
    for (auto [x1, x2] : {std::pair{2, 5}, {5, 2}, {3, 3}, {4, 3}})
        r->getHorizontalPixels(&a, x1, x2, 1);
    for (auto [y1, y2] : {std::pair{0, 4}, {3, 0}, {1, 1}})
        r->getVerticalPixels(&a, y1, y2, 2);
    EXPECT_EQ(values(a), (Ints{-7, 12, 13, 14, 15, 14, 2, 12, 22, 32, 32, 22})); // falling by one: nothing
}

// The sum of columns [x1, x2) clamped to the raster, over all rows, divided by x2 - x1 + 1 and
// rounded half up; empty ranges give 0, sums beyond the int range saturate.
TEST(RasterImageGS16, BeamProfileAveragesClampedColumns) {
    auto r = rasterOf(6, 4, [](int x, int y) { return 10 * y + x; });
    CIntDataArray a;
    const int ranges[][2] = {{1, 3}, {-4, 99}, {5, 6}, {3, 3}, {4, 2}, {7, 9}};
    for (const auto& x : ranges)
        r->getxAveregedVertricalBeamProfile(&a, x[0], x[1]);
    for (int v : {INT_MAX, INT_MIN})
        rasterOf(1, 4, [&](int, int) { return v; })->getxAveregedVertricalBeamProfile(&a, 0, 1);
    // (12 + 120) / 3 = 44; 420 / 7 = 60; 80 / 2 = 40.
    EXPECT_EQ(values(a), (Ints{44, 60, 40, 0, 0, 0, INT_MAX, INT_MIN}));
}

TEST(RasterImageGS16, HistogramMatchesTheLiteralLoopEvenWhenItThrows) {
    std::mt19937 rng(7);
    const int w = 301, h = 97; // several blocks of the fast path
    std::unique_ptr<DalvoImage> image8(
        grayImage<BYTE>(13, 11, [](int x, int y) { return (x * y * 37 + x) % 256; })),
        image16(grayImage<WORD>(w, h, [&](int, int) { return rng() % 4 == 0 ? 65535 : rng() % 300; }));
    RasterImageGS16 r8(image8.get()), r16(image16.get());
    for (RasterImageGS16* r : {&r8, &r16}) {
        const int n = r->width * r->height;
        CIntDataArray whole, wholeWant;
        r->getHistogram(&whole);
        literalHistogram(*r, wholeWant);
        EXPECT_EQ(values(whole), values(wholeWant));
        EXPECT_EQ(whole.GetSum(), n);
        // A bad value: the counts of every pixel before it stay, nothing after it. Every position
        // within a group of neighbours, the middle, the last pixel but one and the last.
        for (int at : {0, 1, 2, 3, 4, 5, 6, 7, n / 2, n - 2, n - 1})
            for (int bad : {r->maxPixelValue + 1, -1, INT_MIN, INT_MAX}) {
                RasterImageGS16 broken(*r);
                broken.pixels[at] = bad;
                CIntDataArray got, want;
                EXPECT_THROW(broken.getHistogram(&got), CInvalidArgException);
                EXPECT_THROW(literalHistogram(broken, want), CInvalidArgException);
                ASSERT_EQ(got.GetSize(), r->maxPixelValue + 1);
                EXPECT_EQ(values(got), values(want)) << bad << " at " << at;
                EXPECT_EQ(got.GetSum(), at);
            }
    }
}

TEST(RasterImageGS16, MeanIsTheSerialDoubleSumEvenBeyondTwoToThe53) {
    // 2^22 + 64 pixels of INT_MAX push the running double sum past 2^53, where adding 1 is lost;
    // the mean must still equal the literal serial double sum, not the exact integer sum.
    const int w = 2048, h = 2080, big = (1 << 22) + 64;
    auto r =
        rasterOf(w, h, [&](int x, int y) { return y * w + x < big ? INT_MAX : ((y * w + x) % 3 ? 1 : -2); });
    expectStatisticsOf(*r, "beyond 2^53");
    long long exact = 0;
    double sum = 0;
    for (int v : pixelsOf(*r))
        exact += v, sum += v;
    EXPECT_NE(static_cast<double>(exact), sum); // the case really differs from an exact sum
}

TEST(RasterImageGS16, SubtractClampsAtZeroRecomputingStatistics) {
    testsupport::atEveryThreadCount([] {
        auto a = rasterOf(4, 3, [](int x, int y) { return 10 * y + x; });
        RasterImageGS16 self(*a);
        self.subtractImage(&self);
        EXPECT_EQ(pixelsOf(self), Ints(12, 0));
        EXPECT_EQ(self.maxValue, 0);
        // The other raster is wider: it is indexed with its own width.
        auto b = rasterOf(6, 3, [](int x, int y) { return x == 1 ? 100 : 5 * y + x; });
        a->extraStatistic = 9;
        a->subtractImage(b.get());
        EXPECT_EQ(pixelsOf(*a), (Ints{0, 0, 0, 0, 5, 0, 5, 5, 10, 0, 10, 10}));
        expectStatisticsOf(*a, "after subtracting");
        EXPECT_EQ(a->extraStatistic, 0);
        // Extreme values neither overflow nor wrap.
        auto c = rasterOf(2, 1, [](int x, int) { return x ? INT_MAX : INT_MIN; });
        auto d = rasterOf(2, 1, [](int x, int) { return x ? -5 : 5; });
        c->subtractImage(d.get());
        EXPECT_EQ(pixelsOf(*c), (Ints{0, INT_MAX}));
        // A smaller one counts as 0 where it does not reach: there the pixels are only clamped.
        const int values[] = {7, 8, -3, -1, 4, 6};
        auto e = rasterOf(3, 2, [&](int x, int y) { return values[3 * y + x]; });
        e->subtractImage(rasterOf(2, 1, [](int, int) { return 5; }).get());
        EXPECT_EQ(pixelsOf(*e), (Ints{2, 3, 0, 0, 4, 6}));
    });
}

TEST(RasterImageGS16, ConvertKeepsTheLowBitsThatReadBack) {
    testsupport::atEveryThreadCount([] {
        RasterImageGS16 none;
        EXPECT_FALSE(std::unique_ptr<DalvoImage>(none.convert2DalvoImage())->isValid());
        for (int bpp : {8, 16, 24}) { // any depth but 8 gives a 16-bit image
            auto r = rasterOf(5, 3, [](int x, int y) { return quadrantValue(x, y, 5, 3); });
            r->bpp = bpp, r->maxPixelValue = RasterImage::maxPixelValueForDepth(bpp);
            for (auto [x, v] : {std::pair{1, 300}, {2, -1}, {3, 70000}, {4, 0x12345}})
                r->setPixel(x, 2, v);
            std::unique_ptr<DalvoImage> image(r->convert2DalvoImage());
            const bool bytes = bpp == 8;
            ASSERT_TRUE(image->isValid());
            EXPECT_EQ(image->getImageType(), bytes ? FIT_BITMAP : FIT_UINT16);
            EXPECT_EQ(image->getBitsPerPixel(), bytes ? 8u : 16u);
            RasterImageGS16 back(image.get());
            for (int i = 0; i < 15; ++i) {
                const int want = r->pixels[i] & (bytes ? 0xFF : 0xFFFF); // 300 -> 44, -1 -> 255 in 8 bits
                const BYTE* row = pictureRow(*image, i / 5);
                EXPECT_EQ(bytes ? row[i % 5] : reinterpret_cast<const WORD*>(row)[i % 5], want)
                    << bpp << ": " << i;
                EXPECT_EQ(back.pixels[i], want) << bpp << ": " << i;
            }
        }
    });
}
