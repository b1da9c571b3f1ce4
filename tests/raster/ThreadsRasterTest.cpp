// The raster builds, subtraction and statistics give the 1-thread figures at every thread count.
#include "image/ImageTestKit.h"
#include "raster/RasterImageGS16.h"
#include "support/ThreadCounts.h"

#include <memory>
#include <string>
#include <vector>

namespace {

// The pixels, then the minimum, maximum and mean.
std::vector<double> figuresOf(const RasterImageGS16& raster) {
    std::vector<double> f(raster.pixels, raster.pixels + static_cast<size_t>(raster.width) * raster.height);
    f.insert(f.end(), {double(raster.minValue), double(raster.maxValue), raster.mean});
    return f;
}

} // namespace

TEST(Threads, RasterFiguresAreTheOneThreadFigures) {
    for (const auto& size : {std::pair<int, int>{1, 1}, {2, 5}, {7, 3}, {33, 19}, {129, 65}}) {
        const int w = size.first, h = size.second;
        DalvoImage gel;
        imagetest::makePatterned(gel, FIT_UINT16, 16, static_cast<unsigned>(w), static_cast<unsigned>(h));
        testsupport::expectSameAtEveryThreadCount(
            [&] {
                std::vector<std::vector<double>> all;
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
                std::vector<double>& written = all.emplace_back();
                for (int y = 0; y < h; ++y) {
                    const auto* line =
                        reinterpret_cast<const WORD*>(back->getScanLine(static_cast<unsigned>(y)));
                    written.insert(written.end(), line, line + w);
                }
                return all;
            },
            std::to_string(w) + "x" + std::to_string(h));
    }
}
