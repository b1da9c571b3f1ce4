#include "raster/RasterImageRGB.h"

#include "RasterTestSupport.h"

#include <gtest/gtest.h>

#include <memory>
#include <opencv2/core.hpp>

using namespace rastertest;

namespace {

bool same(const RGBQUAD& a, const RGBQUAD& b) {
    return a.rgbBlue == b.rgbBlue && a.rgbGreen == b.rgbGreen && a.rgbRed == b.rgbRed && a.rgbReserved == b.rgbReserved;
}

/// What the pixel-colour query gives for picture pixel (x, y); 0 where it gives nothing.
RGBQUAD queried(FIBITMAP* dib, int x, int y) {
    RGBQUAD q{0, 0, 0, 0};
    const unsigned line = FreeImage_GetHeight(dib) - 1 - y;
    if (!FreeImage_GetPixelColor(dib, x, line, &q)) q = RGBQUAD{0, 0, 0, 0};
    return q;
}

/// An image of the given kind with every byte of its bits (fill included) random.
DalvoImage* randomImage(FREE_IMAGE_TYPE type, int w, int h, int bpp, unsigned r = 0, unsigned g = 0, unsigned b = 0,
                        std::uint64_t seed = 1) {
    auto* image = new DalvoImage();
    static_cast<fipImage&>(*image) = FreeImage_AllocateT(type, w, h, bpp, r, g, b);
    FIBITMAP* dib = *image;
    Lcg rng(seed);
    BYTE* bits = FreeImage_GetBits(dib);
    const size_t bytes = static_cast<size_t>(FreeImage_GetPitch(dib)) * h;
    for (size_t i = 0; i < bytes; ++i) bits[i] = static_cast<BYTE>(rng.next());
    return image;
}

} // namespace

TEST(RasterImageRGB, ConstructorsAndRunTimeClass) {
    EXPECT_STREQ(RUNTIME_CLASS(RasterImageRGB)->m_lpszClassName, "RasterImageRGB");
    EXPECT_EQ(RUNTIME_CLASS(RasterImageRGB)->m_wSchema, VERSIONABLE_SCHEMA | 0);
    EXPECT_EQ(RUNTIME_CLASS(RasterImageRGB)->m_pBaseClass, RUNTIME_CLASS(RasterImage));
    std::unique_ptr<CObject> made(CRuntimeClass::CreateObject("RasterImageRGB"));
    ASSERT_TRUE(made);
    EXPECT_TRUE(made->IsKindOf(RUNTIME_CLASS(RasterImage)));

    RasterImageRGB none;
    EXPECT_EQ(none.width | none.height | none.bpp | none.maxPixelValue, 0);
    EXPECT_EQ(none.pixels, nullptr);

    RasterImageRGB r(4, 3);
    EXPECT_EQ(r.bpp, 24);
    EXPECT_EQ(r.maxPixelValue, 16777215);
    for (cv::Mat* m : {r.getRedChannelCVMatrix(), r.getGreenChannelCVMatrix(), r.getBlueChannelCVMatrix()}) {
        std::unique_ptr<cv::Mat> owned(m);
        EXPECT_EQ(m->rows, 3);
        EXPECT_EQ(m->cols, 4);
        EXPECT_EQ(m->type(), CV_8UC1);
        EXPECT_EQ(cv::countNonZero(*m), 0);
    }
}

TEST(RasterImageRGB, EveryDepthGivesWhatThePixelQueryGives) {
    struct Kind {
        FREE_IMAGE_TYPE type;
        int bpp;
        unsigned r, g, b;
        const char* name;
    };
    const Kind kinds[] = {
        {FIT_BITMAP, 1, 0, 0, 0, "1-bit"},
        {FIT_BITMAP, 4, 0, 0, 0, "4-bit"},
        {FIT_BITMAP, 8, 0, 0, 0, "8-bit"},
        {FIT_BITMAP, 16, FI16_555_RED_MASK, FI16_555_GREEN_MASK, FI16_555_BLUE_MASK, "16-bit 555"},
        {FIT_BITMAP, 16, FI16_565_RED_MASK, FI16_565_GREEN_MASK, FI16_565_BLUE_MASK, "16-bit 565"},
        {FIT_BITMAP, 24, 0, 0, 0, "24-bit"},
        {FIT_BITMAP, 32, 0, 0, 0, "32-bit"},
        {FIT_RGB16, 48, 0, 0, 0, "RGB16"},
        {FIT_RGBA16, 64, 0, 0, 0, "RGBA16"},
        {FIT_UINT16, 16, 0, 0, 0, "UINT16"},
    };
    // Small images go through the query itself, large ones through the scan-line readers.
    for (const Kind& k : kinds) {
        for (auto [w, h] : {std::pair{5, 3}, std::pair{301, 223}, std::pair{258, 255}}) {
            std::unique_ptr<DalvoImage> image(randomImage(k.type, w, h, k.bpp, k.r, k.g, k.b, w * 31 + k.bpp));
            RasterImageRGB r(image.get());
            ASSERT_EQ(r.width, w);
            ASSERT_EQ(r.height, h);
            EXPECT_EQ(r.bpp, k.bpp);
            EXPECT_EQ(r.maxPixelValue, RasterImage::maxPixelValueForDepth(k.bpp));
            int mismatches = 0, nonzero = 0;
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    const RGBQUAD want = queried(*image, x, y);
                    mismatches += !same(*r.getPixel(x, y), want);
                    nonzero += !same(want, RGBQUAD{0, 0, 0, 0});
                }
            EXPECT_EQ(mismatches, 0) << k.name << " " << w << "x" << h;
            const bool delivers = k.type == FIT_BITMAP && k.bpp >= 16;
            EXPECT_EQ(nonzero > 0, delivers) << k.name; // the comparison saw real colours
        }
    }
}

TEST(RasterImageRGB, PixelsUprightWithOddWidthAndMatrices) {
    const int w = 7, h = 5; // 21 bytes of pixels in a 24-byte scan line
    std::unique_ptr<DalvoImage> image(new DalvoImage(FIT_BITMAP, w, h, 24));
    FIBITMAP* dib = *image;
    std::memset(FreeImage_GetBits(dib), 0xEE, FreeImage_GetPitch(dib) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            BYTE* p = pictureRow(dib, y) + 3 * x;
            const int v = quadrantValue(x, y, w, h);
            p[FI_RGBA_BLUE] = BYTE(v), p[FI_RGBA_GREEN] = BYTE(v >> 8), p[FI_RGBA_RED] = BYTE(v >> 16);
        }
    RasterImageRGB r(image.get());
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int v = quadrantValue(x, y, w, h);
            const RGBQUAD* q = r.getPixel(x, y);
            EXPECT_EQ(q->rgbBlue, BYTE(v));
            EXPECT_EQ(q->rgbGreen, BYTE(v >> 8));
            EXPECT_EQ(q->rgbRed, BYTE(v >> 16));
            EXPECT_EQ(q->rgbReserved, 0);
        }

    r.setPixel(3, 2, RGBQUAD{10, 20, 30, 0});
    std::unique_ptr<cv::Mat_<cv::Vec<unsigned char, 3>>> bgr(r.getRGBCVMatrix());
    std::unique_ptr<cv::Mat> red(r.getRedChannelCVMatrix()), green(r.getGreenChannelCVMatrix()),
        blue(r.getBlueChannelCVMatrix());
    ASSERT_EQ(bgr->rows, h);
    ASSERT_EQ(bgr->cols, w);
    EXPECT_TRUE(bgr->isContinuous());
    EXPECT_EQ((*bgr)(2, 3), (cv::Vec<unsigned char, 3>(10, 20, 30)));
    EXPECT_EQ(red->at<unsigned char>(2, 3), 30);
    EXPECT_EQ(green->at<unsigned char>(2, 3), 20);
    EXPECT_EQ(blue->at<unsigned char>(2, 3), 10);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const RGBQUAD* q = r.getPixel(x, y);
            EXPECT_EQ((*bgr)(y, x), (cv::Vec<unsigned char, 3>(q->rgbBlue, q->rgbGreen, q->rgbRed)));
            EXPECT_EQ(red->at<unsigned char>(y, x), q->rgbRed);
        }
}

TEST(RasterImageRGB, PolarPixelAddressesAndOutsideIsNull) {
    const int w = 23, h = 19;
    RasterImageRGB r(w, h);
    for (CPoint c : {CPoint(11, 9), CPoint(0, 18)})
        for (float radius : {0.0f, 3.5f, 12.0f})
            for (int angle = 0; angle < 360; ++angle) {
                int x, y;
                const bool inside = polarReference(c.x, c.y, radius, float(angle), w, h, x, y);
                ASSERT_EQ(r.getPolarPixel(c, radius, float(angle)), inside ? r.getPixel(x, y) : nullptr)
                    << c.x << "," << c.y << " " << radius << " " << angle;
            }
    EXPECT_EQ(r.getPolarPixel(CPoint(11, 9), 0, 77), r.getPixel(11, 9));
    EXPECT_EQ(r.getPolarPixel(CPoint(11, 9), 4, 90), r.getPixel(11, 13));
    EXPECT_EQ(r.getPolarPixel(CPoint(22, 9), 1, 0), nullptr);
}

TEST(RasterImageRGB, ConvertRoundTripsAndCopiesAreDeep) {
    for (int bpp : {24, 32}) {
        std::unique_ptr<DalvoImage> image(randomImage(FIT_BITMAP, 9, 4, bpp));
        RasterImageRGB r(image.get());
        std::unique_ptr<DalvoImage> back(r.convert2DalvoImage());
        ASSERT_TRUE(back->isValid());
        EXPECT_EQ(back->getImageType(), FIT_BITMAP);
        EXPECT_EQ(back->getBitsPerPixel(), unsigned(bpp));
        EXPECT_TRUE(back->isModified());
        for (int y = 0; y < 4; ++y) // same pixel bytes in the same places
            EXPECT_EQ(std::memcmp(pictureRow(*back, y), pictureRow(*image, y), 9 * bpp / 8), 0) << bpp << " row " << y;
        RasterImageRGB again(back.get());
        for (int i = 0; i < 36; ++i) EXPECT_TRUE(same(again.pixels[i], r.pixels[i]));
    }

    RasterImageRGB a(3, 2);
    a.setPixel(2, 1, RGBQUAD{1, 2, 3, 4});
    RasterImageRGB b(a), c;
    c = a;
    c = c;
    a.setPixel(2, 1, RGBQUAD{9, 9, 9, 9});
    for (const RasterImageRGB* r : {&b, &c}) {
        EXPECT_EQ(r->width, 3);
        EXPECT_EQ(r->bpp, 24);
        EXPECT_TRUE(same(*const_cast<RasterImageRGB*>(r)->getPixel(2, 1), RGBQUAD{1, 2, 3, 4}));
    }

    RasterImageRGB empty;
    std::unique_ptr<DalvoImage> none(empty.convert2DalvoImage());
    EXPECT_FALSE(none->isValid());
    std::unique_ptr<cv::Mat> m(empty.getRedChannelCVMatrix());
    EXPECT_TRUE(m->empty());
}

TEST(RasterImageRGB, RealColourScansMatchTheQuery) {
    const auto files = gelFiles();
    if (files.empty()) GTEST_SKIP() << "no gel scans beside the project";
    int checked = 0;
    for (const std::string& path : files) {
        FREE_IMAGE_FORMAT fif = FreeImage_GetFileType(path.c_str(), 0);
        if (fif == FIF_UNKNOWN) continue;
        FIBITMAP* dib = FreeImage_Load(fif, path.c_str(), 0);
        if (!dib) continue;
        if (FreeImage_GetImageType(dib) != FIT_BITMAP || FreeImage_GetBPP(dib) < 16) {
            FreeImage_Unload(dib);
            continue;
        }
        DalvoImage image;
        static_cast<fipImage&>(image) = dib;
        RasterImageRGB r(&image);
        int mismatches = 0;
        for (int y = 0; y < r.height; ++y)
            for (int x = 0; x < r.width; ++x) mismatches += !same(*r.getPixel(x, y), queried(dib, x, y));
        EXPECT_EQ(mismatches, 0) << path;
        ++checked;
    }
    EXPECT_GT(checked, 0);
}
