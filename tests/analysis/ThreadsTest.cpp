// Distinct images on distinct threads: each thread loads, copies, rasters and filters its own
// image while the others do the same; every thread gets what one thread alone gets.
#include "analysis/ImageProcessing.h"
#include "framework/App.h"
#include "image/DalvoImage.h"
#include "raster/RasterImageGS16.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

std::vector<BYTE> encodedGel() {
    fipImage gel(FIT_UINT16, 203, 157, 16);
    for (unsigned y = 0; y < gel.getHeight(); ++y) {
        auto* line = reinterpret_cast<WORD*>(gel.getScanLine(y));
        for (unsigned x = 0; x < gel.getWidth(); ++x) line[x] = static_cast<WORD>((x * 977u + y * 131u + x * y) & 0xFFFF);
    }
    fipMemoryIO stream;
    BYTE* data = nullptr;
    DWORD size = 0;
    if (!gel.saveToMemory(FIF_TIFF, stream) || !stream.acquire(&data, &size)) return {};
    return std::vector<BYTE>(data, data + size);
}

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
    return std::vector<int>(bands.pixels, bands.pixels + static_cast<size_t>(bands.width) * bands.height);
}

} // namespace

TEST(Threads, DistinctImagesOnDistinctThreadsGiveWhatOneThreadGives) {
    const std::vector<BYTE> bytes = encodedGel();
    ASSERT_FALSE(bytes.empty());
    const std::vector<int> alone = analyse(bytes);
    ASSERT_FALSE(alone.empty());

    CWinApp* app = AfxGetApp();
    app->ResetWaitCursorCounters();
    constexpr int kThreads = 6, kRounds = 4;
    std::vector<std::vector<int>> results(kThreads * kRounds);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int r = 0; r < kRounds; ++r) results[t * kRounds + r] = analyse(bytes);
        });
    for (std::thread& thread : threads) thread.join();

    for (const std::vector<int>& result : results) EXPECT_EQ(result, alone);
    EXPECT_EQ(app->GetWaitCursorBeginCount(), kThreads * kRounds);
    EXPECT_EQ(app->GetWaitCursorEndCount(), kThreads * kRounds);
    EXPECT_FALSE(app->IsWaitCursorOn());
}
