// Each thread loads, copies, rasters and filters its own image while the others do too, and gets
// what one thread alone gets; the analysis of a gel gives the 1-thread result at every thread count.
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
