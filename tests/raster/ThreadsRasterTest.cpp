// The raster builds, subtraction and statistics give the 1-thread figures at every thread count.
#include "image/DalvoImage.h"
#include "raster/RasterImageGS16.h"
#include "raster/Threads.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

struct Figures {
    std::vector<int> pixels;
    int minValue, maxValue;
    double mean;
    std::vector<WORD> written;
    bool operator==(const Figures& o) const {
        return pixels == o.pixels && minValue == o.minValue && maxValue == o.maxValue && mean == o.mean &&
               written == o.written;
    }
};

Figures figuresOf(const RasterImageGS16& raster) {
    return {
        std::vector<int>(raster.pixels, raster.pixels + static_cast<size_t>(raster.width) * raster.height),
        raster.minValue,
        raster.maxValue,
        raster.mean,
        {}};
}

} // namespace

TEST(Threads, RasterFiguresAreTheOneThreadFigures) {
    for (const auto& size : {std::pair<int, int>{1, 1}, {2, 5}, {7, 3}, {33, 19}, {129, 65}}) {
        const int w = size.first, h = size.second;
        DalvoImage gel(FIT_UINT16, static_cast<unsigned>(w), static_cast<unsigned>(h), 16);
        for (int y = 0; y < h; ++y) {
            auto* line = reinterpret_cast<WORD*>(gel.getScanLine(static_cast<unsigned>(y)));
            for (int x = 0; x < w; ++x)
                line[x] = static_cast<WORD>((x * 4099 + y * 257 + x * y) & 0xFFFF);
        }
        auto run = [&] {
            std::vector<Figures> all;
            RasterImageGS16 built(&gel);
            all.push_back(figuresOf(built));
            RasterImageGS16 shifted(w + 1, h);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x <= w; ++x)
                    shifted.setPixel(x, y, (x * 31 + y * 17) % 40000);
            // A smaller other raster leaves rows it does not reach to the clamp.
            RasterImageGS16 smaller(w, h > 1 ? h - 1 : h);
            for (int y = 0; y < smaller.height; ++y)
                for (int x = 0; x < w; ++x)
                    smaller.setPixel(x, y, -(x + y) * 1000 + 30000);
            built.subtractImage(&shifted);
            all.push_back(figuresOf(built));
            RasterImageGS16 again(&gel);
            again.subtractImage(&smaller);
            all.push_back(figuresOf(again));
            again.setPixel(w - 1, h - 1, -7);
            again.calculateStatistics();
            all.push_back(figuresOf(again));
            std::unique_ptr<DalvoImage> back(again.convert2DalvoImage());
            Figures written{};
            for (int y = 0; y < h; ++y) {
                const auto* line = reinterpret_cast<const WORD*>(back->getScanLine(static_cast<unsigned>(y)));
                written.written.insert(written.written.end(), line, line + w);
            }
            all.push_back(written);
            return all;
        };
        kestro::setMinimumPixelsPerThread(1);
        kestro::setThreadCount(1);
        const std::vector<Figures> alone = run();
        for (int threads : {2, 3, 7}) {
            kestro::setThreadCount(threads);
            EXPECT_TRUE(run() == alone) << w << "x" << h << " at " << threads << " threads";
        }
        kestro::setThreadCount(0);
        kestro::setMinimumPixelsPerThread(16384);
    }
}
