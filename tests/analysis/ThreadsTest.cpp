// Distinct images on distinct threads: each thread loads, copies, rasters and filters its own
// image while the others do the same; every thread gets what one thread alone gets.
#include "analysis/GelAnalysis.h"
#include "analysis/ImageProcessing.h"
#include "image/ImageTestKit.h"
#include "support/ThreadCounts.h"
#include "support/WaitCursorCount.h"
#include "raster/RasterTestSupport.h"
#include "synth/SyntheticGel.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

// Load, copy, raster, background, subtraction and smoothing: the pixels at the end.
std::vector<int> analyse(std::vector<BYTE> bytes) {
    DalvoImage loaded;
    if (!loaded.Load(bytes.data(), static_cast<DWORD>(bytes.size()))) return {};
    DalvoImage image(loaded);
    auto* raster = static_cast<RasterImageGS16*>(image.getRasterImage());
    if (!raster) return {};
    ImageProcessing ip;
    RasterImageGS16 background(raster->width, raster->height);
    ip.generateBGViaMinFilter(raster, &background, 9, 4);
    RasterImageGS16 bands(*raster);
    bands.subtractImage(&background);
    ip.smoothenViaAverageFilter(&bands, 3);
    return rastertest::pixelsOf(bands);
}

} // namespace

TEST(Threads, DistinctImagesOnDistinctThreadsGiveWhatOneThreadGives) {
    fipImage gel;
    imagetest::makePatterned(gel, FIT_UINT16, 16, 203, 157);
    const std::vector<BYTE> bytes = imagetest::encoded(gel, FIF_TIFF);
    ASSERT_FALSE(bytes.empty());
    const std::vector<int> alone = analyse(bytes);
    ASSERT_FALSE(alone.empty());

    testsupport::WaitCursorCount cursor;
    constexpr int kThreads = 6, kRounds = 4;
    std::vector<std::vector<int>> results(kThreads * kRounds);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int r = 0; r < kRounds; ++r)
                results[t * kRounds + r] = analyse(bytes);
        });
    for (std::thread& thread : threads)
        thread.join();

    for (const std::vector<int>& result : results)
        EXPECT_EQ(result, alone);
    EXPECT_EQ(cursor.state(), std::to_string(kThreads * kRounds) + " on, balanced");
}

// ---- Bands of rows on the library's threads ------------------------------------------------

namespace {

RasterImageGS16 patterned(int width, int height, int scale) {
    RasterImageGS16 raster(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            raster.setPixel(x, y,
                            ((x * 977 + y * 131 + x * y * 7) % 4099) * scale - (scale > 1 ? 3 * scale : 0));
    return raster;
}

} // namespace

// Sizes below the thread count, odd sizes, windows past the borders; values of 16 bits and values
// whose sums leave the fast integer path.
TEST(Threads, MovingFiltersGiveTheOneThreadResultAtEveryThreadCount) {
    struct Case {
        int width, height, half, scale;
    };
    const Case cases[] = {{1, 1, 1, 1},   {2, 3, 1, 1},    {5, 3, 2, 1},    {3, 17, 1, 1},
                          {37, 23, 3, 1}, {131, 97, 4, 1}, {61, 45, 30, 1}, {53, 41, 2, 300000}};
    for (const Case& c : cases) {
        const RasterImageGS16 source = patterned(c.width, c.height, c.scale);
        const std::string what = std::to_string(c.width) + "x" + std::to_string(c.height) + " half " +
                                 std::to_string(c.half) + " scale " + std::to_string(c.scale);
        testsupport::expectSameAtEveryThreadCount(
            [&] {
                ImageProcessing ip;
                RasterImageGS16 in(source), background(c.width, c.height), smooth(source);
                background.maxPixelValue = 60000;
                ip.generateBGViaMinFilter(&in, &background, c.half, c.half + 1);
                ip.smoothenViaAverageFilter(&smooth, c.half);
                return std::vector<std::vector<int>>{rastertest::pixelsOf(background),
                                                     rastertest::pixelsOf(smooth)};
            },
            what);
    }
}

// Each lane's bands are searched and measured on a thread of its own.
TEST(Threads, GelAnalysisGivesTheOneThreadResultAtEveryThreadCount) {
    kestro::GelOptions o = kestro::gelOptions(400, 300, 7, 5, 11);
    o.bend = 8;
    o.diffuseBands = 2;
    const kestro::SyntheticGel g = kestro::SyntheticGel::generate(o);
    const auto view = kestro::gel::GreyView::of(g.values().data(), g.width(), g.height(), 2 * g.width());
    testsupport::expectSameAtEveryThreadCount(
        [&] {
            std::vector<double> figures;
            for (const kestro::gel::Band& b : kestro::gel::analyse(view).bands())
                figures.insert(figures.end(),
                               {double(b.lane), b.peakY, double(b.box.top), double(b.box.bottom), b.rawVolume,
                                b.correctedVolume, b.edgeWidth, double(b.diffuse)});
            return figures;
        },
        "synthetic gel");
}
