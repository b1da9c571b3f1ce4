#include "raster/RasterImageRGB.h"

#include "RasterTestSupport.h"

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include <memory>
#include <random>

using namespace rastertest;

namespace {

bool same(const RGBQUAD& a, const RGBQUAD& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

/// Picture pixels that differ from what the pixel-colour query gives (0 where it gives nothing).
int mismatchesWithQuery(RasterImageRGB& r, FIBITMAP* dib) {
    int mismatches = 0;
    for (int y = 0; y < r.height; ++y)
        for (int x = 0; x < r.width; ++x) {
            RGBQUAD q{0, 0, 0, 0};
            if (!FreeImage_GetPixelColor(dib, x, r.height - 1 - y, &q)) q = RGBQUAD{0, 0, 0, 0};
            mismatches += !same(*r.getPixel(x, y), q);
        }
    return mismatches;
}

/// An image of the given kind with every byte of its bits (fill included) random.
DalvoImage* randomImage(FREE_IMAGE_TYPE type, int w, int h, int bpp, unsigned seed,
                        unsigned masks[3] = nullptr) {
    auto* image = new DalvoImage();
    static_cast<fipImage&>(*image) = FreeImage_AllocateT(type, w, h, bpp, masks ? masks[0] : 0,
                                                         masks ? masks[1] : 0, masks ? masks[2] : 0);
    std::mt19937 rng(seed);
    BYTE* bits = FreeImage_GetBits(*image);
    for (size_t i = 0; i < static_cast<size_t>(FreeImage_GetPitch(*image)) * h; ++i)
        bits[i] = static_cast<BYTE>(rng());
    return image;
}

} // namespace

TEST(RasterImageRGB, EveryDepthGivesWhatThePixelQueryGives) {
    unsigned m555[3] = {FI16_555_RED_MASK, FI16_555_GREEN_MASK, FI16_555_BLUE_MASK};
    unsigned m565[3] = {FI16_565_RED_MASK, FI16_565_GREEN_MASK, FI16_565_BLUE_MASK};
    const struct {
        FREE_IMAGE_TYPE type;
        int bpp;
        unsigned* masks;
    } kinds[] = {{FIT_BITMAP, 1, nullptr},  {FIT_BITMAP, 4, nullptr}, {FIT_BITMAP, 8, nullptr},
                 {FIT_BITMAP, 16, m555},    {FIT_BITMAP, 16, m565},   {FIT_BITMAP, 24, nullptr},
                 {FIT_BITMAP, 32, nullptr}, {FIT_RGB16, 48, nullptr}, {FIT_RGBA16, 64, nullptr},
                 {FIT_UINT16, 16, nullptr}};
    // Small 16-bit images go through the query itself, large ones through the word table.
    for (const auto& k : kinds)
        for (auto [w, h] : {std::pair{5, 3}, {301, 223}, {258, 255}}) {
            std::unique_ptr<DalvoImage> image(randomImage(k.type, w, h, k.bpp, w * 31 + k.bpp, k.masks));
            RasterImageRGB r(image.get());
            SCOPED_TRACE(std::to_string(k.type) + "/" + std::to_string(k.bpp) +
                         (k.masks == m565 ? " 565 " : " ") + std::to_string(w));
            ASSERT_EQ(r.width, w);
            ASSERT_EQ(r.height, h);
            EXPECT_EQ(r.bpp, k.bpp);
            EXPECT_EQ(r.maxPixelValue, RasterImage::maxPixelValueForDepth(k.bpp));
            EXPECT_EQ(mismatchesWithQuery(r, *image), 0);
            int nonzero = 0; // the comparison saw real colours where the query gives them
            for (int i = 0; i < w * h; ++i)
                nonzero += !same(r.pixels[i], RGBQUAD{0, 0, 0, 0});
            EXPECT_EQ(nonzero > 0, k.type == FIT_BITMAP && k.bpp >= 16);
        }
}

TEST(RasterImageRGB, PixelsRoundTripUprightThroughTheRaster) {
    const int w = 7, h = 5; // 21 bytes of 24-bit pixels in a 24-byte scan line
    for (int bpp : {24, 32}) {
        std::unique_ptr<DalvoImage> image(randomImage(FIT_BITMAP, w, h, bpp, bpp));
        RasterImageRGB r(image.get());
        std::unique_ptr<cv::Mat_<cv::Vec<unsigned char, 3>>> bgr(r.getRGBCVMatrix());
        std::unique_ptr<cv::Mat> red(r.getRedChannelCVMatrix()), green(r.getGreenChannelCVMatrix()),
            blue(r.getBlueChannelCVMatrix());
        ASSERT_EQ(bgr->size(), cv::Size(w, h));
        EXPECT_TRUE(bgr->isContinuous());
        for (cv::Mat* m : {red.get(), green.get(), blue.get()}) {
            ASSERT_EQ(m->size(), cv::Size(w, h));
            ASSERT_EQ(m->type(), CV_8UC1);
        }
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const BYTE* p = pictureRow(*image, y) + bpp / 8 * x;
                const BYTE alpha = bpp == 32 ? p[FI_RGBA_ALPHA] : 0;
                const RGBQUAD want{p[FI_RGBA_BLUE], p[FI_RGBA_GREEN], p[FI_RGBA_RED], alpha};
                EXPECT_TRUE(same(*r.getPixel(x, y), want)) << bpp << ": " << x << "," << y;
                EXPECT_EQ((*bgr)(y, x),
                          (cv::Vec<unsigned char, 3>(want.rgbBlue, want.rgbGreen, want.rgbRed)));
                EXPECT_EQ(
                    std::vector<int>({red->at<BYTE>(y, x), green->at<BYTE>(y, x), blue->at<BYTE>(y, x)}),
                    std::vector<int>({want.rgbRed, want.rgbGreen, want.rgbBlue}));
            }
        std::unique_ptr<DalvoImage> back(r.convert2DalvoImage());
        ASSERT_TRUE(back->isValid());
        EXPECT_EQ(back->getImageType(), FIT_BITMAP);
        EXPECT_EQ(back->getBitsPerPixel(), unsigned(bpp));
        EXPECT_TRUE(back->isModified());
        for (int y = 0; y < h; ++y) // same pixel bytes in the same places
            EXPECT_EQ(std::memcmp(pictureRow(*back, y), pictureRow(*image, y), w * bpp / 8), 0)
                << bpp << " row " << y;
    }
}

TEST(RasterImageRGB, SizedRastersStartAtZero) {
    RasterImageRGB a(3, 2);
    for (int i = 0; i < 6; ++i)
        EXPECT_TRUE(same(a.pixels[i], RGBQUAD{0, 0, 0, 0})) << i;
}

TEST(RasterImageRGB, CopiesAreDeep) {
    RasterImageRGB a(3, 2);
    a.setPixel(2, 1, RGBQUAD{1, 2, 3, 4});
    RasterImageRGB b(a), c;
    c = a;
    RasterImageRGB& alias = c;
    c = alias; // to itself
    a.setPixel(2, 1, RGBQUAD{9, 9, 9, 9});
    for (RasterImageRGB* r : {&b, &c})
        EXPECT_TRUE(same(*r->getPixel(2, 1), RGBQUAD{1, 2, 3, 4}));
}

TEST(RasterImageRGB, AnEmptyRasterConvertsToNothing) {
    RasterImageRGB empty;
    EXPECT_EQ(empty.pixels, nullptr);
    EXPECT_FALSE(std::unique_ptr<DalvoImage>(empty.convert2DalvoImage())->isValid());
    EXPECT_TRUE(std::unique_ptr<cv::Mat>(empty.getRedChannelCVMatrix())->empty());
}

// The sampling point is the grey raster's (checked there against its literal reference).
TEST(RasterImageRGB, PolarPixelsAreAddressesInTheRaster) {
    RasterImageRGB a(3, 2);
    EXPECT_EQ(a.getPolarPixel(CPoint(1, 0), 1, 90), a.getPixel(1, 1));
    EXPECT_EQ(a.getPolarPixel(CPoint(2, 1), 1, 0), nullptr);
}
