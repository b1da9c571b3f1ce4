#include "raster/RasterImageGS16.h"

#include "RasterTestSupport.h"

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include <climits>
#include <cmath>
#include <memory>

using namespace rastertest;

namespace {

std::vector<int> values(const CIntDataArray& a) {
    std::vector<int> v;
    for (INT_PTR i = 0; i < a.GetSize(); ++i) v.push_back(a[i]);
    return v;
}

/// A raster of the given size with pixel (x, y) = f(x, y), statistics computed.
template <class F>
std::unique_ptr<RasterImageGS16> rasterOf(int w, int h, F f) {
    auto r = std::make_unique<RasterImageGS16>(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) r->pixels[w * y + x] = f(x, y);
    r->calculateStatistics();
    return r;
}

} // namespace

TEST(RasterImage, FieldsOfEveryConstructorAndDepthMaxima) {
    EXPECT_EQ(RasterImage::maxPixelValueForDepth(1), 1);
    EXPECT_EQ(RasterImage::maxPixelValueForDepth(8), 255);
    EXPECT_EQ(RasterImage::maxPixelValueForDepth(16), 65535);
    EXPECT_EQ(RasterImage::maxPixelValueForDepth(24), 16777215);
    EXPECT_EQ(RasterImage::maxPixelValueForDepth(30), 1073741823);
    EXPECT_EQ(RasterImage::maxPixelValueForDepth(31), INT_MAX);
    EXPECT_EQ(RasterImage::maxPixelValueForDepth(32), INT_MAX);

    RasterImage none;
    EXPECT_EQ(none.getWidth() | none.getHeight() | none.getBPP() | none.getMaxPixelValue(), 0);
    RasterImage sized(7, 5, 24);
    EXPECT_EQ(sized.getWidth(), 7);
    EXPECT_EQ(sized.getHeight(), 5);
    EXPECT_EQ(sized.getBPP(), 24);
    EXPECT_EQ(sized.getMaxPixelValue(), 16777215);
    RasterImage copied(sized), fromPointer(&sized), assigned;
    assigned = sized;
    for (const RasterImage* r : {&copied, &fromPointer, &assigned}) {
        EXPECT_EQ(r->width, 7);
        EXPECT_EQ(r->height, 5);
        EXPECT_EQ(r->bpp, 24);
        EXPECT_EQ(r->maxPixelValue, 16777215);
    }
    cv::Mat m(3, 4, CV_16UC1);
    RasterImage fromMatrix(&m);
    EXPECT_EQ(fromMatrix.width, 4);
    EXPECT_EQ(fromMatrix.height, 3);
    EXPECT_EQ(fromMatrix.bpp, 0);
    EXPECT_EQ(fromMatrix.maxPixelValue, 0);

    std::unique_ptr<DalvoImage> image(new DalvoImage(FIT_BITMAP, 9, 2, 1));
    RasterImage fromImage(image.get());
    EXPECT_EQ(fromImage.width, 9);
    EXPECT_EQ(fromImage.height, 2);
    EXPECT_EQ(fromImage.bpp, 1);
    EXPECT_EQ(fromImage.maxPixelValue, 1);
}

TEST(RasterImageGS16, RunTimeClassesAndSerializeWritesNothing) {
    const CRuntimeClass* base = RUNTIME_CLASS(RasterImage);
    const CRuntimeClass* gray = RUNTIME_CLASS(RasterImageGS16);
    EXPECT_STREQ(base->m_lpszClassName, "RasterImage");
    EXPECT_EQ(base->m_wSchema, VERSIONABLE_SCHEMA | 0);
    EXPECT_EQ(base->m_pBaseClass, RUNTIME_CLASS(CObject));
    EXPECT_STREQ(gray->m_lpszClassName, "RasterImageGS16");
    EXPECT_EQ(gray->m_wSchema, VERSIONABLE_SCHEMA | 0);
    EXPECT_EQ(gray->m_pBaseClass, base);

    std::unique_ptr<CObject> made(CRuntimeClass::CreateObject("RasterImageGS16"));
    ASSERT_TRUE(made);
    EXPECT_TRUE(made->IsKindOf(base));

    // An object written and read back comes back as a fresh raster: no pixel data travels.
    auto r = rasterOf(3, 2, [](int x, int y) { return x + y; });
    CMemFile file;
    {
        CArchive ar(&file, CArchive::store);
        ar.WriteObject(r.get());
        ar.Close();
    }
    const ULONGLONG written = file.GetLength();
    RasterImageGS16 empty;
    CMemFile emptyFile;
    {
        CArchive ar(&emptyFile, CArchive::store);
        ar.WriteObject(&empty);
        ar.Close();
    }
    EXPECT_EQ(written, emptyFile.GetLength());
    file.Seek(0, CFile::begin);
    CArchive in(&file, CArchive::load);
    std::unique_ptr<CObject> back(in.ReadObject(gray));
    ASSERT_TRUE(back);
    auto* g = static_cast<RasterImageGS16*>(back.get());
    EXPECT_EQ(g->width, 0);
    EXPECT_EQ(g->pixels, nullptr);
}

TEST(RasterImageGS16, ConstructorTableDefaults) {
    RasterImageGS16 none;
    EXPECT_EQ(none.width, 0);
    EXPECT_EQ(none.bpp, 0);
    EXPECT_EQ(none.pixels, nullptr);
    EXPECT_EQ(none.minValue, INT_MIN);
    EXPECT_EQ(none.maxValue, INT_MAX);
    EXPECT_EQ(none.mean, 0);

    RasterImageGS16 sized(5, 3);
    EXPECT_EQ(sized.bpp, 16);
    EXPECT_EQ(sized.maxPixelValue, 65535);
    EXPECT_EQ(sized.minValue, INT_MIN);
    EXPECT_EQ(sized.maxValue, INT_MAX);
    EXPECT_EQ(sized.mean, 0);
    for (int i = 0; i < 15; ++i) EXPECT_EQ(sized.pixels[i], 0);
    sized.calculateStatistics();
    EXPECT_EQ(sized.minValue, 0);
    EXPECT_EQ(sized.maxValue, 0);

    RasterImageGS16 negative(-4, 3); // a negative size is taken as 0
    EXPECT_EQ(negative.width, 0);
    EXPECT_EQ(negative.pixels, nullptr);
}

TEST(RasterImageGS16, ReadsUint16ImageUprightWithOddWidth) {
    const int w = 7, h = 5; // pitch 16 bytes for 14 bytes of pixels
    std::unique_ptr<DalvoImage> image(uint16Image(w, h, [&](int x, int y) { return quadrantValue(x, y, w, h); }));
    RasterImageGS16 r(image.get());
    ASSERT_EQ(r.width, w);
    ASSERT_EQ(r.height, h);
    EXPECT_EQ(r.bpp, 16);
    EXPECT_EQ(r.maxPixelValue, 65535);
    int lo = INT_MAX, hi = INT_MIN;
    double sum = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int v = quadrantValue(x, y, w, h);
            EXPECT_EQ(r.pixels[w * y + x], v) << x << "," << y;
            EXPECT_EQ(r.getPixel(x, y), v);
            CPoint p(x, y);
            EXPECT_EQ(r.getPixel(p), v);
            lo = std::min(lo, v), hi = std::max(hi, v), sum += v;
        }
    EXPECT_EQ(r.minValue, lo);
    EXPECT_EQ(r.maxValue, hi);
    EXPECT_EQ(r.mean, sum / (w * h));
    EXPECT_EQ(r.extraStatistic, 0);
    // Top-left is quadrant 0, bottom-right quadrant 3.
    EXPECT_EQ(r.getPixel(0, 0), 10000);
    EXPECT_EQ(r.getPixel(w - 1, h - 1), 40000 + 100 * (h - 1) + w - 1);
}

TEST(RasterImageGS16, Reads8BitIndicesRawAndOtherDepthsAsZeros) {
    const int w = 5, h = 3; // pitch 8 bytes
    std::unique_ptr<DalvoImage> image(uint8Image(w, h, [](int x, int y) { return 40 * y + 7 * x + 1; }));
    RGBQUAD* palette = FreeImage_GetPalette(*image);
    for (int i = 0; i < 256; ++i) palette[i] = RGBQUAD{BYTE(255 - i), BYTE(255 - i), BYTE(255 - i), 0};
    RasterImageGS16 r(image.get());
    EXPECT_EQ(r.bpp, 8);
    EXPECT_EQ(r.maxPixelValue, 255);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) EXPECT_EQ(r.getPixel(x, y), 40 * y + 7 * x + 1); // index, not colour
    EXPECT_EQ(r.minValue, 1);
    EXPECT_EQ(r.maxValue, 80 + 28 + 1);

    std::unique_ptr<DalvoImage> colour(new DalvoImage(FIT_BITMAP, 4, 2, 24));
    std::memset(FreeImage_GetBits(*colour), 0x77, FreeImage_GetPitch(*colour) * 2);
    RasterImageGS16 c(colour.get());
    EXPECT_EQ(c.bpp, 24);
    EXPECT_EQ(c.maxPixelValue, 16777215);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(c.pixels[i], 0);
    EXPECT_EQ(c.minValue, 0);
    EXPECT_EQ(c.maxValue, 0);
    EXPECT_EQ(c.mean, 0);

    std::unique_ptr<DalvoImage> floats(new DalvoImage(FIT_FLOAT, 3, 3, 32));
    RasterImageGS16 f(floats.get());
    EXPECT_EQ(f.bpp, 32);
    EXPECT_EQ(f.maxPixelValue, INT_MAX);
    EXPECT_EQ(f.getPixel(2, 2), 0);

    DalvoImage empty;
    RasterImageGS16 e(&empty);
    EXPECT_EQ(e.width, 0);
    EXPECT_EQ(e.pixels, nullptr);
    EXPECT_EQ(e.minValue, INT_MAX);
    EXPECT_EQ(e.maxValue, INT_MIN);
    EXPECT_TRUE(std::isnan(e.mean));
}

TEST(RasterImageGS16, MatrixConstructorTakesRowsUnflippedAndPitchAware) {
    cv::Mat big(6, 9, CV_16UC1);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 9; ++x) big.at<unsigned short>(y, x) = static_cast<unsigned short>(1000 * y + x);
    cv::Mat roi = big(cv::Rect(2, 1, 5, 4)); // not continuous: row step of the big matrix
    RasterImageGS16 r(&roi);
    EXPECT_EQ(r.width, 5);
    EXPECT_EQ(r.height, 4);
    EXPECT_EQ(r.bpp, 16);
    EXPECT_EQ(r.maxPixelValue, 65535);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 5; ++x) EXPECT_EQ(r.getPixel(x, y), 1000 * (y + 1) + x + 2);
    EXPECT_EQ(r.minValue, INT_MIN); // not computed
    EXPECT_EQ(r.maxValue, INT_MAX);
    r.calculateStatistics();
    EXPECT_EQ(r.minValue, 1002);
    EXPECT_EQ(r.maxValue, 4006);

    cv::Mat bytes(2, 3, CV_8UC1);
    for (int i = 0; i < 6; ++i) bytes.data[i] = static_cast<unsigned char>(250 + i % 6);
    RasterImageGS16 b(&bytes);
    EXPECT_EQ(b.bpp, 8);
    EXPECT_EQ(b.maxPixelValue, 255);
    EXPECT_EQ(b.getPixel(2, 1), 255);

    cv::Mat floats(2, 3, CV_32FC1, cv::Scalar(9.0));
    RasterImageGS16 f(&floats);
    EXPECT_EQ(f.bpp, 1);
    EXPECT_EQ(f.maxPixelValue, 1);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(f.pixels[i], 0);
}

TEST(RasterImageGS16, CopiesAreDeepAndCarryOrRecomputeStatistics) {
    auto src = rasterOf(4, 3, [](int x, int y) { return 10 * y + x; });
    src->extraStatistic = 2.5;
    src->setPixel(0, 0, 99); // statistics now stale: max still 23
    RasterImageGS16 copied(*src);
    EXPECT_EQ(copied.width, 4);
    EXPECT_EQ(copied.getPixel(0, 0), 99);
    EXPECT_EQ(copied.maxValue, 23); // carried over, stale as in the source
    EXPECT_EQ(copied.extraStatistic, 2.5);
    RasterImageGS16 recomputed(src.get());
    EXPECT_EQ(recomputed.maxValue, 99);
    EXPECT_EQ(recomputed.minValue, 1);
    EXPECT_EQ(recomputed.extraStatistic, 0);
    RasterImageGS16 assigned(2, 2);
    assigned = *src;
    EXPECT_EQ(assigned.width, 4);
    EXPECT_EQ(assigned.height, 3);
    EXPECT_EQ(assigned.getPixel(3, 2), 23);
    assigned = assigned;
    EXPECT_EQ(assigned.getPixel(3, 2), 23);
    copied.setPixel(1, 1, -5);
    EXPECT_EQ(src->getPixel(1, 1), 11); // deep copy

    // copy() from a source of another size fills the overlap and keeps this raster's size.
    RasterImageGS16 small(2, 2);
    small.copy(*src);
    EXPECT_EQ(small.width, 2);
    EXPECT_EQ(small.getPixel(1, 1), 11);
    EXPECT_EQ(small.getPixel(0, 1), 10);
    EXPECT_EQ(small.maxValue, 23);
    RasterImageGS16 large(6, 4);
    large.copy(*src);
    EXPECT_EQ(large.getPixel(3, 2), 23);
    EXPECT_EQ(large.getPixel(5, 3), 0);
    EXPECT_EQ(large.getPixel(4, 0), 0);

    int x = 2, y = 1;
    *src->getPixelPntr(x, y) = 77;
    EXPECT_EQ(src->getPixel(2, 1), 77);
}

TEST(RasterImageGS16, PolarPixelMatchesLiteralReferenceAtEveryAngle) {
    const int w = 41, h = 37;
    auto r = rasterOf(w, h, [](int x, int y) { return 1 + 100 * y + x; });
    for (CPoint centre : {CPoint(20, 18), CPoint(3, 33), CPoint(0, 0)}) {
        for (float radius : {0.0f, 1.0f, 2.5f, 7.3f, 15.0f, 60.0f}) {
            for (int angle = 0; angle < 360; ++angle) {
                int x, y;
                const bool inside = polarReference(centre.x, centre.y, radius, float(angle), w, h, x, y);
                const int expected = inside ? 1 + 100 * y + x : 0;
                ASSERT_EQ(r->getPolarPixel(centre, radius, float(angle)), expected)
                    << centre.x << "," << centre.y << " r=" << radius << " a=" << angle;
            }
        }
    }
    CPoint c(20, 18);
    EXPECT_EQ(r->getPolarPixel(c, 0, 123), r->getPixel(20, 18));
    EXPECT_EQ(r->getPolarPixel(c, 5, 90), r->getPixel(20, 23)); // 90 degrees points down
    EXPECT_EQ(r->getPolarPixel(c, 5, 0), r->getPixel(25, 18));
    EXPECT_EQ(r->getPolarPixel(c, 5, 180), r->getPixel(15, 18));
    EXPECT_EQ(r->getPolarPixel(CPoint(40, 36), 1, 0), 0);  // just right of the raster
    EXPECT_EQ(r->getPolarPixel(CPoint(40, 36), 1, 90), 0); // just below
    EXPECT_EQ(r->getPolarPixel(CPoint(0, 0), 1, 180), 0);  // just left
    EXPECT_EQ(r->getPolarPixel(CPoint(0, 0), 1, 270), 0);  // just above
    EXPECT_EQ(r->getPolarPixel(c, 1e30f, 45), 0);          // offset beyond any int
}

TEST(RasterImageGS16, ReadoutsInTheirOrders) {
    auto r = rasterOf(6, 4, [](int x, int y) { return 10 * y + x; });
    CIntDataArray a;
    a.Add(-1);
    r->copyTo(&a);
    ASSERT_EQ(a.GetSize(), 24);
    for (int i = 0; i < 24; ++i) EXPECT_EQ(a[i], 10 * (i / 6) + i % 6);

    CPointArray pts;
    for (CPoint p : {CPoint(5, 3), CPoint(0, 0), CPoint(2, 1), CPoint(2, 1)}) pts.Add(p);
    r->getPixelsFor(&pts, &a);
    EXPECT_EQ(values(a), (std::vector<int>{35, 0, 12, 12}));

    r->getPixelsFor(CRect(0, 0, 2, 2), &a);
    EXPECT_EQ(values(a), (std::vector<int>{0, 10, 1, 11})); // (0,0) (0,1) (1,0) (1,1)
    r->getPixelsFor(CRect(3, 1, 5, 4), &a);
    EXPECT_EQ(values(a), (std::vector<int>{13, 23, 33, 14, 24, 34}));
    r->getPixelsFor(CRect(4, 1, 4, 3), &a);
    EXPECT_EQ(a.GetSize(), 0);

    a.RemoveAll();
    a.Add(-7);
    r->getHorizontalPixels(&a, 2, 5, 1);
    r->getHorizontalPixels(&a, 5, 2, 1);
    r->getHorizontalPixels(&a, 3, 3, 1);
    r->getHorizontalPixels(&a, 4, 3, 1); // falling by one: nothing
    EXPECT_EQ(values(a), (std::vector<int>{-7, 12, 13, 14, 15, 14}));

    a.RemoveAll();
    r->getVerticalPixels(&a, 0, 4, 2);
    r->getVerticalPixels(&a, 3, 0, 2);
    r->getVerticalPixels(&a, 1, 1, 2);
    EXPECT_EQ(values(a), (std::vector<int>{2, 12, 22, 32, 32, 22}));
}

TEST(RasterImageGS16, BeamProfileIsOneSumOverColumnsPlusOne) {
    const int w = 5, h = 3;
    auto r = rasterOf(w, h, [](int x, int y) { return 7 * y + 3 * x + 1; });
    auto literal = [&](int x1, int x2) {
        x1 = std::max(x1, 0);
        x2 = std::min(x2, w);
        double sum = 0;
        for (int y = 0; y < h; ++y)
            for (int x = x1; x < x2; ++x) sum += r->getPixel(x, y);
        return (int)floor(sum / (x2 - x1 + 1) + 0.5);
    };
    CIntDataArray a;
    a.Add(42);
    r->getxAveregedVertricalBeamProfile(&a, 1, 3);
    r->getxAveregedVertricalBeamProfile(&a, -4, 99);
    r->getxAveregedVertricalBeamProfile(&a, 4, 5);
    ASSERT_EQ(a.GetSize(), 4);
    EXPECT_EQ(a[0], 42);
    EXPECT_EQ(a[1], literal(1, 3));
    EXPECT_EQ(a[1], 25);            // columns 1 and 2: (4+7+11+14+18+21) / 3
    EXPECT_EQ(a[2], literal(0, 5));
    EXPECT_EQ(a[3], literal(4, 5));
    // Empty ranges append 0.
    r->getxAveregedVertricalBeamProfile(&a, 3, 3);
    r->getxAveregedVertricalBeamProfile(&a, 4, 2);
    r->getxAveregedVertricalBeamProfile(&a, 7, 9);
    EXPECT_EQ(a.GetSize(), 7);
    EXPECT_EQ(a[4] | a[5] | a[6], 0);
}

namespace {
/// The histogram loop as written: zero bins, then a checked increment per pixel.
void literalHistogram(const RasterImageGS16& r, CIntDataArray& h) {
    h.RemoveAll();
    for (int i = 0; i <= r.maxPixelValue; ++i) h.Add(0);
    for (int i = 0; i < r.width * r.height; ++i) h[r.pixels[i]] += 1;
}
} // namespace

TEST(RasterImageGS16, HistogramBinsAndRangeCheckKeepsCountsSoFar) {
    std::unique_ptr<DalvoImage> image8(uint8Image(13, 11, [](int x, int y) { return (x * y * 37 + x) % 256; }));
    RasterImageGS16 r8(image8.get());
    CIntDataArray h, expected;
    r8.getHistogram(&h);
    literalHistogram(r8, expected);
    EXPECT_EQ(h.GetSize(), 256);
    EXPECT_EQ(values(h), values(expected));

    Lcg rng(7);
    const int w = 301, h16 = 97; // several blocks of the fast path
    std::unique_ptr<DalvoImage> image16(uint16Image(w, h16, [&](int, int) { return rng.next() % 4 == 0 ? 65535 : rng.next() % 300; }));
    RasterImageGS16 r16(image16.get());
    r16.getHistogram(&h);
    literalHistogram(r16, expected);
    EXPECT_EQ(h.GetSize(), 65536);
    EXPECT_EQ(values(h), values(expected));
    EXPECT_EQ(h.GetSum(), w * h16);

    // A bad value deep inside: the counts of every pixel before it stay, nothing after it.
    for (int bad : {65536, -1, INT_MIN, INT_MAX}) {
        for (int at : {0, 5000, w * h16 - 1}) {
            RasterImageGS16 broken(r16);
            broken.pixels[at] = bad;
            CIntDataArray got, want;
            EXPECT_THROW(broken.getHistogram(&got), CInvalidArgException);
            EXPECT_THROW(literalHistogram(broken, want), CInvalidArgException);
            ASSERT_EQ(got.GetSize(), 65536);
            EXPECT_EQ(values(got), values(want)) << bad << " at " << at;
            EXPECT_EQ(got.GetSum(), at);
        }
    }
    // Every position within a group of neighbours, and the last pixel, for the 8-bit raster.
    for (int at : {0, 1, 2, 3, 4, 5, 6, 7, 140, 141, 142}) {
        RasterImageGS16 over8(r8);
        over8.pixels[at] = at % 2 ? 256 : -3; // just outside the 8-bit range
        CIntDataArray got, want;
        EXPECT_THROW(over8.getHistogram(&got), CInvalidArgException);
        EXPECT_THROW(literalHistogram(over8, want), CInvalidArgException);
        EXPECT_EQ(values(got), values(want)) << at;
        EXPECT_EQ(got.GetSum(), at);
    }
}

TEST(RasterImageGS16, StatisticsAndTheirEmptyCase) {
    RasterImageGS16 empty;
    empty.extraStatistic = 3;
    empty.calculateStatistics();
    EXPECT_EQ(empty.minValue, INT_MAX);
    EXPECT_EQ(empty.maxValue, INT_MIN);
    EXPECT_TRUE(std::isnan(empty.mean));
    EXPECT_EQ(empty.extraStatistic, 0);

    auto r = rasterOf(3, 3, [](int x, int y) { return x - 4 * y; });
    EXPECT_EQ(r->minValue, -8);
    EXPECT_EQ(r->maxValue, 2);
    EXPECT_EQ(r->mean, -27.0 / 9);
}

TEST(RasterImageGS16, MeanIsTheSerialDoubleSumEvenBeyondTwoToThe53) {
    // 2^22 + 64 pixels of INT_MAX push the running double sum past 2^53, where adding 1 is lost;
    // the mean must still equal the literal serial double sum, not the exact integer sum.
    const int w = 2048, h = 2080;
    auto r = std::make_unique<RasterImageGS16>(w, h);
    const int bigCount = (1 << 22) + 64;
    for (int i = 0; i < w * h; ++i) r->pixels[i] = i < bigCount ? INT_MAX : (i % 3 ? 1 : -2);
    r->calculateStatistics();
    double sum = 0;
    for (int i = 0; i < w * h; ++i) sum += r->pixels[i];
    EXPECT_EQ(r->mean, sum / (w * h));
    long long exact = 0;
    for (int i = 0; i < w * h; ++i) exact += r->pixels[i];
    EXPECT_NE(static_cast<double>(exact), sum); // the case really differs from an exact sum
    EXPECT_EQ(r->minValue, -2);
    EXPECT_EQ(r->maxValue, INT_MAX);
}

TEST(RasterImageGS16, SubtractClampsAtZeroAndRecomputes) {
    auto a = rasterOf(4, 3, [](int x, int y) { return 10 * y + x; });
    RasterImageGS16 self(*a);
    self.subtractImage(&self);
    EXPECT_EQ(self.minValue, 0);
    EXPECT_EQ(self.maxValue, 0);
    EXPECT_EQ(self.mean, 0);
    for (int i = 0; i < 12; ++i) EXPECT_EQ(self.pixels[i], 0);

    // The other raster is wider: it is indexed with its own width.
    auto b = rasterOf(6, 3, [](int x, int y) { return x == 1 ? 100 : 5 * y + x; });
    a->extraStatistic = 9;
    a->subtractImage(b.get());
    double sum = 0;
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x) {
            const int want = std::max(0, 10 * y + x - (x == 1 ? 100 : 5 * y + x));
            EXPECT_EQ(a->getPixel(x, y), want);
            sum += want;
        }
    EXPECT_EQ(a->minValue, 0);
    EXPECT_EQ(a->maxValue, 10);
    EXPECT_EQ(a->mean, sum / 12);
    EXPECT_EQ(a->extraStatistic, 0);

    // Extreme values neither overflow nor wrap.
    auto c = rasterOf(2, 1, [](int x, int) { return x ? INT_MAX : INT_MIN; });
    auto d = rasterOf(2, 1, [](int x, int) { return x ? -5 : 5; });
    c->subtractImage(d.get());
    EXPECT_EQ(c->getPixel(0, 0), 0);
    EXPECT_EQ(c->getPixel(1, 0), INT_MAX);
}

TEST(RasterImageGS16, ConvertKeepsLowBitsAndRoundTrips) {
    const int w = 5, h = 3;
    auto r8 = rasterOf(w, h, [](int x, int y) { return 50 * y + x; });
    r8->bpp = 8;
    r8->maxPixelValue = 255;
    r8->setPixel(1, 0, 300);
    r8->setPixel(2, 0, -1);
    std::unique_ptr<DalvoImage> i8(r8->convert2DalvoImage());
    ASSERT_TRUE(i8->isValid());
    EXPECT_EQ(i8->getImageType(), FIT_BITMAP);
    EXPECT_EQ(i8->getBitsPerPixel(), 8u);
    EXPECT_EQ(pictureRow(*i8, 0)[1], 44);
    EXPECT_EQ(pictureRow(*i8, 0)[2], 255);
    EXPECT_EQ(pictureRow(*i8, 2)[4], 104);
    RasterImageGS16 back8(i8.get());
    EXPECT_EQ(back8.getPixel(1, 0), 44);
    EXPECT_EQ(back8.getPixel(2, 0), 255);
    EXPECT_EQ(back8.getPixel(3, 1), 53);

    std::unique_ptr<DalvoImage> source(uint16Image(w, h, [&](int x, int y) { return quadrantValue(x, y, w, h); }));
    RasterImageGS16 r16(source.get());
    r16.setPixel(0, 2, 70000);
    r16.setPixel(4, 2, -1);
    std::unique_ptr<DalvoImage> i16(r16.convert2DalvoImage());
    EXPECT_EQ(i16->getImageType(), FIT_UINT16);
    RasterImageGS16 back16(i16.get());
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int v = r16.getPixel(x, y);
            EXPECT_EQ(back16.getPixel(x, y), v & 0xFFFF) << x << "," << y;
        }
    EXPECT_EQ(back16.getPixel(0, 2), 70000 - 65536);
    EXPECT_EQ(back16.getPixel(4, 2), 65535);

    RasterImageGS16 deep(3, 2);
    deep.bpp = 24; // any depth but 8 gives a 16-bit image
    deep.setPixel(2, 1, 0x12345);
    std::unique_ptr<DalvoImage> i24(deep.convert2DalvoImage());
    EXPECT_EQ(i24->getImageType(), FIT_UINT16);
    EXPECT_EQ(reinterpret_cast<WORD*>(pictureRow(*i24, 1))[2], 0x2345);

    RasterImageGS16 none;
    std::unique_ptr<DalvoImage> i0(none.convert2DalvoImage());
    EXPECT_FALSE(i0->isValid());
}

TEST(RasterImageGS16, RealScansGiveTheStatisticsOfADirectRead) {
    const auto files = gelFiles();
    if (files.empty()) GTEST_SKIP() << "no gel scans beside the project";
    int checked = 0;
    for (const std::string& path : files) {
        FREE_IMAGE_FORMAT fif = FreeImage_GetFileType(path.c_str(), 0);
        if (fif == FIF_UNKNOWN) fif = FreeImage_GetFIFFromFilename(path.c_str());
        if (fif == FIF_UNKNOWN) continue;
        FIBITMAP* dib = FreeImage_Load(fif, path.c_str(), 0);
        if (!dib) continue;
        const FREE_IMAGE_TYPE type = FreeImage_GetImageType(dib);
        const unsigned bpp = FreeImage_GetBPP(dib);
        const bool gray = type == FIT_UINT16 || (type == FIT_BITMAP && bpp == 8);
        if (!gray) {
            FreeImage_Unload(dib);
            continue;
        }
        const unsigned w = FreeImage_GetWidth(dib), h = FreeImage_GetHeight(dib);
        int lo = INT_MAX, hi = INT_MIN;
        double sum = 0;
        for (unsigned line = 0; line < h; ++line)
            for (unsigned x = 0; x < w; ++x) {
                int v;
                if (type == FIT_UINT16) {
                    v = reinterpret_cast<WORD*>(FreeImage_GetScanLine(dib, line))[x];
                } else {
                    BYTE index;
                    FreeImage_GetPixelIndex(dib, x, line, &index);
                    v = index;
                }
                lo = std::min(lo, v), hi = std::max(hi, v), sum += v;
            }
        DalvoImage image;
        static_cast<fipImage&>(image) = dib; // the image owns the bitmap now
        RasterImageGS16 r(&image);
        EXPECT_EQ(r.minValue, lo) << path;
        EXPECT_EQ(r.maxValue, hi) << path;
        EXPECT_DOUBLE_EQ(r.mean, sum / (double(w) * h)) << path;
        EXPECT_EQ(r.maxPixelValue, type == FIT_UINT16 ? 65535 : 255) << path;
        // The top-left raster pixel is the first pixel of the last scan line.
        if (type == FIT_UINT16) {
            EXPECT_EQ(r.getPixel(0, 0), reinterpret_cast<WORD*>(FreeImage_GetScanLine(dib, h - 1))[0]) << path;
        }
        ++checked;
    }
    EXPECT_GT(checked, 0);
}
