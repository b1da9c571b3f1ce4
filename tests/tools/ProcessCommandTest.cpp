// kestro process as a program: steps in command-line order, the history printed. (Its refusals are
// rows of the errors table.)
#include "KestroRun.h"
#include "raster/RasterTestSupport.h"

#include <gtest/gtest.h>

#include <memory>

using namespace kestrorun;

class ProcessCommand : public ToolTest {};

TEST_F(ProcessCommand, AppliesStepsInOrderPrintingTheHistory) {
    std::unique_ptr<DalvoImage> source(
        rastertest::grayImage<WORD>(5, 3, [](int x, int y) { return 30000 + 100 * y + x; }));
    ASSERT_TRUE(source->save(CString::FromUtf8((dir / "in.tif").string())));

    // Flipped, rows 2 and 1 cropped to columns 1..3, stretched by 2 about 32768, turned left.
    const Result r = ok("process in.tif -o out.tif --flip-v --crop 1 0 4 2 --contrast 100 --rotate 90");
    EXPECT_NE(
        r.out.find(
            "1. Flip Vertically\n  2. Crop\n  3. Contrast: Average 100\n  4. Rotatation of 90.00 Degrees\n"),
        std::string::npos)
        << r.out;
    DalvoImage result;
    ASSERT_TRUE(result.loadU(CString::FromUtf8((dir / "out.tif").string())));
    const int expected[3][2] = {{27638, 27438}, {27636, 27436}, {27634, 27434}};
    ASSERT_EQ(result.getWidth() * 10 + result.getHeight(), 23u);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 2; ++x)
            EXPECT_EQ(reinterpret_cast<WORD*>(rastertest::pictureRow(result, y))[x], expected[y][x]);
}
