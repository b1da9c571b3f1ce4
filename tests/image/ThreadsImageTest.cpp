// The tone tables, the median and the display of 16 bits give the 1-thread pixels at every thread
// count.
#include "ImageTestKit.h"
#include "support/ThreadCounts.h"

#include <cstring>
#include <string>
#include <vector>

using imagetest::DisplayProbe;

namespace {

std::vector<BYTE> bytesOf(DalvoImage& image) {
    std::vector<BYTE> bytes;
    for (unsigned y = 0; y < image.getHeight(); ++y)
        bytes.insert(bytes.end(), image.getScanLine(y), image.getScanLine(y) + image.getLine());
    return bytes;
}

} // namespace

TEST(Threads, PixelOperationsGiveTheOneThreadPixels) {
    struct Case {
        FREE_IMAGE_TYPE type;
        unsigned bpp, width, height;
    };
    const Case cases[] = {{FIT_UINT16, 16, 1, 1},   {FIT_UINT16, 16, 5, 3},  {FIT_UINT16, 16, 37, 29},
                          {FIT_UINT16, 16, 3, 131}, {FIT_BITMAP, 8, 41, 23}, {FIT_BITMAP, 8, 2, 6}};
    std::vector<unsigned short> table(65536);
    for (size_t v = 0; v < table.size(); ++v)
        table[v] = static_cast<unsigned short>((v * 40503u) >> 7);
    for (const Case& c : cases)
        testsupport::expectSameAtEveryThreadCount(
            [&] {
                std::vector<std::vector<BYTE>> all;
                for (int operation = 0; operation < 5; ++operation) {
                    DalvoImage image;
                    imagetest::makePatterned(image, c.type, c.bpp, c.width, c.height);
                    if (operation == 0) image.ContrastAve(37);
                    if (operation == 1) image.Intensity(-23);
                    if (operation == 2) image.apply16BitLUT(table.data());
                    if (operation == 3) image.Median(3);
                    if (operation == 4) image.Median(5);
                    all.push_back(bytesOf(image));
                }
                return all;
            },
            std::to_string(c.width) + "x" + std::to_string(c.height) + " " + std::to_string(c.bpp) + " bits");
}

// The display of a 16-bit image has the pixels of FreeImage's linear conversion to 8 bits, which
// it replaces, at every thread count: a full range, narrow ones above and below 255 (FreeImage
// scales from 255 at most) and flat images (scaled as though they spanned 0..255).
TEST(Threads, DisplayOfSixteenBitsIsFreeImagesLinearConversion) {
    const struct {
        unsigned width, height;
        WORD low, high;
    } cases[] = {{37, 29, 0, 65535}, {5, 3, 1000, 1003}, {4, 3, 100, 301},
                 {3, 2, 1000, 1000}, {1, 1, 7, 7},       {2, 1, 0, 65535}};
    kestro::setMinimumPixelsPerThread(1);
    for (const auto& c : cases)
        for (const int threads : {1, 2, 3, 7}) {
            kestro::setThreadCount(threads);
            DisplayProbe<DalvoImage> image(FIT_UINT16, c.width, c.height, 16);
            // Drawn twice: the second display, after the pixels change, refills the first.
            for (const unsigned turn : {0u, 1u}) {
                for (unsigned y = 0; y < c.height; ++y)
                    for (unsigned x = 0; x < c.width; ++x)
                        reinterpret_cast<WORD*>(image.getScanLine(y))[x] = static_cast<WORD>(
                            c.low + (x * 7919u + y * 104729u + turn) % (c.high - c.low + 1u));
                image.setModified();
                RECT whole{0, 0, 1, 1};
                image.draw(nullptr, whole);
                FIBITMAP* expected = FreeImage_ConvertToStandardType(image, TRUE);
                ASSERT_NE(image.display(), nullptr);
                EXPECT_EQ(
                    std::memcmp(FreeImage_GetPalette(image.display()), FreeImage_GetPalette(expected), 1024),
                    0);
                for (unsigned y = 0; y < c.height; ++y)
                    EXPECT_EQ(std::memcmp(FreeImage_GetScanLine(image.display(), int(y)),
                                          FreeImage_GetScanLine(expected, int(y)), c.width),
                              0)
                        << c.width << "x" << c.height << " row " << y << " at " << threads
                        << " threads, turn " << turn;
                FreeImage_Unload(expected);
            }
        }
    kestro::setThreadCount(0);
    kestro::setMinimumPixelsPerThread(16384);
}
