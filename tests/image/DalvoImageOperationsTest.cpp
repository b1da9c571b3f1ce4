// The processing commands: history entries, modified flag, tone tables, median, crop and rotation.
#include "ImageTestKit.h"
#include "raster/RasterImageGS16.h"
#include "raster/RasterTestSupport.h"
#include "support/ThreadCounts.h"

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <cmath>

using rastertest::pictureRow;

namespace {

struct Command {
    const char* name;
    FREE_IMAGE_TYPE type;
    unsigned bpp; // 0: an image without a bitmap
    std::function<int(DalvoImage&)> run;
    int result;
    const wchar_t* entry; // null: nothing recorded
    bool modified;
};

unsigned short gIdentity[65536];

#define CMD(name, type, bpp, call, ...)                                                                      \
    Command {                                                                                                \
        name, type, bpp, [](DalvoImage& i) { return i.call; }, __VA_ARGS__                                   \
    }
const Command kCommands[] = {
    CMD("rotate", FIT_UINT16, 16, rotate(150, 0ul), 1, L"Rotatation of 1.50 Degrees", true),
    CMD("rotate back", FIT_UINT16, 16, rotate(-150, 0ul), 1, L"Rotatation of -1.50 Degrees", true),
    CMD("average", FIT_UINT16, 16, Average(3), 0, L"Blur: Average 3X3", false),
    CMD("median", FIT_UINT16, 16, Median(3), 0, L"Noise Reduction: Median 3X3", true),
    CMD("contrast", FIT_UINT16, 16, ContrastAve(0), 1, L"Contrast: Average 0", true),
    CMD("contrast 8-bit", FIT_BITMAP, 8, ContrastAve(20), 1, L"Contrast: Average 20", true),
    CMD("contrast float", FIT_FLOAT, 32, ContrastAve(20), 0, nullptr, true),
    CMD("contrast empty", FIT_UINT16, 0, ContrastAve(20), 0, nullptr, false),
    CMD("contrast median", FIT_UINT16, 16, ContrastMed(25), 0, L"Contrast: Median 2", false),
    CMD("contrast median -", FIT_UINT16, 16, ContrastMed(-25), 0, L"Contrast: Median -2", false),
    CMD("sharpen", FIT_UINT16, 16, Sharpness(-19), 0, L"Sharpen: -1", false),
    CMD("brighten", FIT_UINT16, 16, Intensity(100), 1, L"Brighten: 100", true),
    CMD("brighten 24-bit", FIT_BITMAP, 24, Intensity(-30), 1, L"Brighten: -30", true),
    CMD("brighten float", FIT_FLOAT, 32, Intensity(10), 0, nullptr, true),
    CMD("gamma", FIT_UINT16, 16, Gamma(2.2), 0, nullptr, false),
    CMD("table", FIT_UINT16, 16, apply16BitLUT(gIdentity), 1, nullptr, true),
    CMD("table 8-bit", FIT_BITMAP, 8, apply16BitLUT(gIdentity), 1, nullptr, false),
    CMD("threshold", FIT_UINT16, 16, Threshold(10, 200), 0, L"Threshold - Low: 10  |  High: 200", false),
    CMD("gray scale", FIT_UINT16, 16, GrayScale(8), 0, L"Gray Scale to 8 Bits Per Pixel", false),
    CMD("invert", FIT_UINT16, 16, invertPixels(), 1, L"invertPixels", false),
    CMD("invert float", FIT_FLOAT, 32, invertPixels(), 0, L"invertPixels", false),
    CMD("rescale", FIT_UINT16, 16, rescale(4u, 3u), 1, L"Resize to 4 width by 3 height", true),
    CMD("equalize", FIT_UINT16, 16, HistoEqualize(), 0, L"Equalize", false),
    CMD("flip vertically", FIT_UINT16, 16, flipVertical(), 1, L"Flip Vertically", true),
    CMD("flip empty", FIT_UINT16, 0, flipVertical(), 0, L"Flip Vertically", false),
    CMD("flip horizontally", FIT_UINT16, 16, flipHorizontal(), 1, L"Flip Horizontally", true),
    CMD("emboss", FIT_UINT16, 16, Emboss(5, 2), 0, L"Emboss : 2 - Light Direction ", false),
    CMD("convolution", FIT_UINT16, 16, Convolution(nullptr), 0, L"Spatial filter", false),
    CMD("convolution ext", FIT_UINT16, 16, ConvolutionExt(nullptr), 0, nullptr, false),
    CMD("crop", FIT_UINT16, 16, crop(CRect(1, 1, 4, 4)), 1, L"Crop", true),
    CMD("crop outside", FIT_UINT16, 16, crop(CRect(20, 20, 30, 30)), 0, L"Crop", false),
};
#undef CMD

// The tone formulas written out as stated: clamp above, then below, then floor of x + 0.5.
int literalTone(int v, int percent, bool centred) {
    const double f = (percent + 100.0) / 100.0;
    double x = centred ? (v - 32768) * f + 32768.0 : v * f;
    if (x > 65535.0) x = 65535.0;
    if (x <= 0.0) x = 0.0;
    return static_cast<int>(std::floor(x + 0.5)) & 0xFFFF;
}

} // namespace

TEST(ImageOperations, EveryCommandMatchesItsRowOfResultEntryFlag) {
    for (int v = 0; v < 65536; ++v)
        gIdentity[v] = static_cast<unsigned short>(v);
    for (const Command& c : kCommands) {
        SCOPED_TRACE(c.name);
        DalvoImage image = imagetest::patterned<DalvoImage>(9, 7, c.bpp, c.type);
        image.SetPreprocessStr(L"{before}");
        image.setModified(FALSE);
        EXPECT_EQ(c.run(image), c.result);
        EXPECT_EQ(image.GetPreprocessStr(),
                  CString(L"{before}") + (c.entry ? L"{" + CString(c.entry) + L"}" : CString()));
        EXPECT_EQ(image.isModified(), c.modified ? TRUE : FALSE);
    }
}

TEST(ImageOperations, ToneTablesMatchTheLiteralFormulaForEveryValue) {
    // Hand-computed values of the formula the tables then match: {centred, percent, value, result}.
    const int anchors[][4] = {{1, 100, 16384, 0},     {1, 100, 32768, 32768}, {1, 100, 40000, 47232},
                              {1, 100, 49152, 65535}, {1, -100, 0, 32768},    {1, -100, 65535, 32768},
                              {0, 100, 1000, 2000},   {0, 100, 40000, 65535}, {0, -50, 1, 1},
                              {0, -50, 3, 2},         {0, -100, 65535, 0}};
    for (const auto& a : anchors)
        EXPECT_EQ(literalTone(a[2], a[1], a[0] != 0), a[3]) << a[0] << " " << a[1] << " @" << a[2];
    testsupport::atEveryThreadCount([&] {
        for (const bool centred : {true, false}) {
            for (const int percent : {-100, -50, -1, 0, 1, 37, 100, 250}) {
                SCOPED_TRACE(testing::Message() << (centred ? "ContrastAve " : "Intensity ") << percent);
                DalvoImage image(FIT_UINT16, 256, 256, 16); // every value once, in rows the threads share
                const auto pixel = [&](int v) -> WORD& {
                    return reinterpret_cast<WORD*>(image.getScanLine(unsigned(v / 256)))[v % 256];
                };
                for (int v = 0; v < 65536; ++v)
                    pixel(v) = static_cast<WORD>(v);
                ASSERT_EQ(centred ? image.ContrastAve(percent) : image.Intensity(percent), 1);
                int wrong = 0;
                for (int v = 0; v < 65536; ++v)
                    wrong += pixel(v) != literalTone(v, percent, centred);
                EXPECT_EQ(wrong, 0);
            }
        }
    });
}

TEST(ImageOperations, MedianIsOpenCVsMedianOfTheImagesMatrix) {
    const std::tuple<int, double, double, std::vector<int>> cases[] = {{CV_8UC1, 0, 256, {1, 3, 5, 7}},
                                                                       {CV_8UC3, 0, 256, {3, 5}},
                                                                       {CV_16UC1, 0, 65536, {1, 3, 5}},
                                                                       {CV_16SC1, -32768, 32768, {3, 5}},
                                                                       {CV_32FC1, -1, 1, {3, 5}}};
    cv::RNG rng(12);
    // Wide rows and narrow tall images take several strips of rows; short rows have both ends in a window.
    testsupport::atEveryThreadCount([&] {
        for (const cv::Size shape :
             {cv::Size(4099, 203), cv::Size(1, 3), cv::Size(2, 1), cv::Size(3, 2), cv::Size(1024, 2600)})
            for (const auto& [matrixType, low, high, sizes] : cases) {
                cv::Mat source(shape, matrixType);
                rng.fill(source, cv::RNG::UNIFORM, cv::Scalar::all(low), cv::Scalar::all(high));
                if (matrixType == CV_32FC1 && shape.height > 71)
                    source.at<float>(70, 9) = NAN, source.at<float>(71, 9) = -0.0f;
                for (const int size : sizes) {
                    SCOPED_TRACE(testing::Message()
                                 << "type " << matrixType << " size " << size << " " << shape);
                    DalvoImage image;
                    ASSERT_EQ(image.copyFromOpenCV(source), 1);
                    cv::Mat expected, result;
                    cv::medianBlur(source, expected, size);
                    image.Median(size);
                    ASSERT_EQ(image.copytoOpenCV(result), 1);
                    for (int y = 0; y < result.rows; ++y)
                        ASSERT_EQ(
                            std::memcmp(result.ptr(y), expected.ptr(y), result.cols * result.elemSize()), 0)
                            << "row " << y;
                }
            }
    });
}

// The filtered image is the bridge's bitmap: an inverted palette and all but the pixels get the defaults.
TEST(ImageOperations, MedianLeavesTheBridgesBitmap) {
    for (const unsigned bpp : {8u, 24u})
        for (const int size : {3, 5}) {
            SCOPED_TRACE(testing::Message() << bpp << " bits, size " << size);
            DalvoImage image = imagetest::patterned<DalvoImage>(41, 30, bpp);
            RGBQUAD* palette = image.getPalette();
            for (int i = 0; palette && i < 256; ++i)
                palette[i].rgbRed = palette[i].rgbGreen = palette[i].rgbBlue = BYTE(255 - i);
            imagetest::dress(image);
            DalvoImage literal(image);
            cv::Mat source, destination;
            ASSERT_EQ(literal.copytoOpenCV(source), 1);
            cv::medianBlur(source, destination, size);
            ASSERT_EQ(literal.copyFromOpenCV(destination), 1);
            image.Median(size);
            EXPECT_TRUE(imagetest::sameWholeBitmap(image, literal));
            EXPECT_EQ(FreeImage_GetMetadataCount(FIMD_COMMENTS, literal), 0u); // the defaults differ
        }
}

TEST(ImageOperations, MedianRefusedByOpenCVChangesNothing) {
    const std::tuple<FREE_IMAGE_TYPE, unsigned, int> cases[] = {
        {FIT_UINT16, 16, 7}, {FIT_BITMAP, 8, 4}, {FIT_BITMAP, 8, 0}, {FIT_BITMAP, 32, 3}, {FIT_BITMAP, 0, 3}};
    for (const auto& [type, bpp, size] : cases) {
        SCOPED_TRACE(testing::Message() << bpp << " bits, size " << size);
        DalvoImage image = imagetest::patterned<DalvoImage>(9, 7, bpp, type);
        DalvoImage before(image);
        image.SetPreprocessStr(L"{before}");
        image.setModified(FALSE);
        EXPECT_THROW(image.Median(size), cv::Exception);
        EXPECT_TRUE(imagetest::samePixels(image, before));
        EXPECT_EQ(image.GetPreprocessStr(), CString(L"{before}"));
        EXPECT_FALSE(image.isModified());
    }
}

TEST(ImageOperations, OnlyCropDropsTheRaster) {
    std::unique_ptr<DalvoImage> image(
        rastertest::grayImage<WORD>(6, 4, [](int x, int y) { return 40000 + 1000 * y + x; }));
    const auto value = [&](int x, int y) {
        const auto* raster = static_cast<RasterImageGS16*>(image->getRasterImage());
        return raster->pixels[raster->width * y + x];
    };
    RasterImage* raster = image->getRasterImage();
    ASSERT_EQ(image->ContrastAve(100), 1);
    EXPECT_EQ(image->getRasterImage(), raster);
    EXPECT_EQ(value(0, 0), 40000); // the values from before
    EXPECT_EQ(image->crop(CRect(10, 10, 20, 20)), 0);
    EXPECT_EQ(image->getWidth(), 6u);
    EXPECT_EQ(value(0, 0), 47232); // rebuilt although nothing was cropped
    ASSERT_EQ(image->crop(CRect(1, 1, 4, 3)), 1);
    EXPECT_EQ(image->getRasterImage()->width, 3);
    EXPECT_EQ(image->getRasterImage()->height, 2);
    EXPECT_EQ(value(0, 0), 49234); // picture pixel (1, 1): 41001 stretched
}

// The corners uncovered by 45 degrees: a grey value, and a colour given as 0x00BBGGRR.
TEST(ImageOperations, RotateFillsTheUncoveredCornersWithTheBackground) {
    DalvoImage gray(FIT_UINT16, 20, 20, 16), colour(FIT_BITMAP, 20, 20, 24);
    ASSERT_EQ(gray.rotate(4500, 1234ul), 1);
    EXPECT_EQ(reinterpret_cast<WORD*>(pictureRow(gray, 0))[0], 1234);
    ASSERT_EQ(colour.rotate(4500, 0x00140AFFul), 1);
    const BYTE bgr[3] = {0x14, 0x0A, 0xFF};
    EXPECT_EQ(std::memcmp(pictureRow(colour, 0), bgr, 3), 0);
}
